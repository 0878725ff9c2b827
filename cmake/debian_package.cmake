# The documents installed beside the programs, and the Debian package.
#
# `cmake --build --preset native --target deb` makes vellum_<version>_<arch>.deb in
# the build folder from what `install` puts in place, under /usr: the plug-in where
# Debian keeps Double Commander's own (lib/doublecmd/plugins/wcx), vellum, its
# manual page, the copyright file, the changelog and the README. CPack strips the
# programs and takes the package's Depends from them through dpkg-shlibdeps.
include(GNUInstallDirs)

set(VELLUM_DEB_MAINTAINER "vellum developers <vellum@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# The README and the package's changelog (Debian's format, of this version),
# gzipped as Debian keeps documents over 4 KiB; zless reads them anywhere.
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
set(docs_gz ${CMAKE_BINARY_DIR}/README.md.gz ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${docs_gz}
  COMMAND ${VELLUM_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/README.md > ${CMAKE_BINARY_DIR}/README.md.gz
  COMMAND ${VELLUM_GZIP} -9n -c ${CMAKE_BINARY_DIR}/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/changelog
  COMMENT "Compressing README.md and the changelog")
add_custom_target(vellum_docs ALL DEPENDS ${docs_gz})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${docs_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A stripped install (the package's) also drops the compiler's notes, as Debian's
# own packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vellum\"
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VELLUM_DC_PLUGIN_DIR}/vellum.wcx64\")
  endif()")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellum)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "doublecmd-qt | doublecmd-gtk")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELLUM_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
FictionBook 2 e-books as archives of their pictures in Double Commander
vellum is a packer plug-in (WCX) for Double Commander that opens a
FictionBook 2 e-book (.fb2) as if it were an archive. Its entries are the
book's pictures and other attachments (its binary elements), each named by
its id, and a generated files.bbs that lists them with their sizes and
content types. Pictures are listed, tested and extracted like files, and a
picture copied into the book takes the place of the one of the same name:
the book gets a note in its history, and the rest of it stays as it was.

The package also holds the vellum command, which drives the plug-in from a
shell as a file manager does: list, test, extract, cat and replace.

To use the plug-in, add /usr/lib/doublecmd/plugins/wcx/vellum/vellum.wcx64
for the extension fb2 under Options > Plugins > Packer plugins (WCX);
Ctrl+PageDown then opens a book as an archive.]])
# CPack's own config files under other names, so that the build keeps no
# `package` target of CPack's beside the deb target.
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackDebConfig.cmake)
set(CPACK_SOURCE_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackDebSourceConfig.cmake)
include(CPack)
# CPack installs after building `preinstall`; that builds the deb target's own
# dependencies only, not the tests and benchmarks of `all`.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The package is made only from a Release build whose plug-in goes beside Double
# Commander's own; any other build gets a deb target that says why it does not.
set(deb_refusal "")
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  set(deb_refusal "the package is made from a Release build (cmake --preset native), this build's type is '${CMAKE_BUILD_TYPE}'")
elseif(NOT VELLUM_DC_PLUGIN_DIR STREQUAL "lib/doublecmd/plugins/wcx/vellum")
  set(deb_refusal "the package puts the plug-in in lib/doublecmd/plugins/wcx/vellum, this build in ${VELLUM_DC_PLUGIN_DIR}")
endif()
if(deb_refusal)
  add_custom_target(deb
    COMMAND ${CMAKE_COMMAND} -E echo "no package: ${deb_refusal}"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
else()
  add_custom_target(deb
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CPACK_OUTPUT_CONFIG_FILE}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Packing vellum_${PROJECT_VERSION}_<arch>.deb"
    VERBATIM)
  add_dependencies(deb vellum vellum_plugin vellum_manual vellum_docs)
endif()
