# Packs the archive Total Commander installs from: pluginst.inf and both DLLs,
# vellum.wcx (32-bit) and vellum.wcx64 (64-bit). The package target of either Windows
# build runs it (cmake -P) with:
#   THIS         this build's DLL, already named for its hosts
#   OTHER        the other Windows build's DLL, packed as OTHER_NAME
#   INF ZIP OUT  pluginst.inf, the zip program, the archive to write
if(NOT ZIP)
  message(FATAL_ERROR "zip is missing: install Debian's zip (scripts/install-deps.sh does)")
endif()
if(NOT EXISTS "${OTHER}")
  message(FATAL_ERROR "${OUT} holds both DLLs, and ${OTHER} is missing: build the other "
    "Windows preset first (windows and windows32), or point VELLUM_OTHER_PLUGIN at it")
endif()
get_filename_component(stage "${OUT}" DIRECTORY)
set(stage "${stage}/package")
file(REMOVE_RECURSE "${stage}" "${OUT}")
file(MAKE_DIRECTORY "${stage}")
file(COPY "${THIS}" "${INF}" DESTINATION "${stage}")
configure_file("${OTHER}" "${stage}/${OTHER_NAME}" COPYONLY)
execute_process(COMMAND "${ZIP}" -q -X "${OUT}" pluginst.inf vellum.wcx vellum.wcx64
  WORKING_DIRECTORY "${stage}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "zip could not write ${OUT}")
endif()
