// The version resource that the host's plug-in dialog and Explorer's file
// properties show for the plug-in.
#include "support/version_info.h"

#include <gtest/gtest.h>

using namespace vellum::test;

namespace {

struct VersionString {
    const char* name;
    const char* value;
};

TEST(VersionResource, CarriesTheProductStringsAndVersion) {
    VersionResource resource;
    std::string why;
    if (!loadVersionResource(VELLUM_PLUGIN_PATH, resource, why)) GTEST_SKIP() << why;

    // The description's spelling is the one hosts and users have always seen.
    const VersionString strings[] = {
        {"FileDescription", "VELLUM - TC packer pluing"},
        {"InternalName", "vellum.wcx"},
        {"OriginalFilename", "vellum.wcx"},
        {"ProductName", "vellum - binary content extractor and substitutor for fb2 e-book format"},
        {"FileVersion", "1.0.4.0"},
        {"ProductVersion", "1.0.4.0"},
    };
    for (const VersionString& s : strings) {
        std::optional<std::string> value = versionString(resource, "040904e4", s.name);
        ASSERT_TRUE(value.has_value()) << s.name << " is missing from block 040904e4";
        EXPECT_EQ(*value, s.value) << s.name;
    }

    std::array<unsigned, 4> file{}, product{};
    ASSERT_TRUE(fixedVersions(resource, file, product));
    EXPECT_EQ(file, (std::array<unsigned, 4>{1, 0, 4, 0}));
    EXPECT_EQ(product, (std::array<unsigned, 4>{1, 0, 4, 0}));
}

}  // namespace
