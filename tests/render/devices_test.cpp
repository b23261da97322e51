// The device presets: one table, looked up by name, printed for --list-devices.
#include "render/devices.h"

#include <gtest/gtest.h>

#include <set>

namespace pagiro::typeset {
namespace {

TEST(DevicePresets, NamedScreensHaveTheirSizeAndLevels) {
    struct Expected {
        const char* name;
        int width, height, levels;
    };
    for (const Expected& e : {Expected{"xteink-x4", 480, 800, 4}, Expected{"kindle", 600, 800, 16},
                              Expected{"kindle-pw3", 1072, 1448, 16}, Expected{"kobo-libra2", 1264, 1680, 16},
                              Expected{"kobo-sage", 1440, 1920, 16}, Expected{"phone", 1080, 1920, 0},
                              Expected{"player-128x160", 128, 160, 0}, Expected{"player-320x240", 320, 240, 0}}) {
        const DevicePreset* preset = find_device(e.name);
        ASSERT_NE(preset, nullptr) << e.name;
        EXPECT_EQ(preset->width, e.width) << e.name;
        EXPECT_EQ(preset->height, e.height) << e.name;
        EXPECT_EQ(preset->grey_levels, e.levels) << e.name;
    }
    EXPECT_EQ(find_device("Kindle-PW3"), find_device("kindle-pw3"));
    EXPECT_EQ(find_device("kindle-pw"), nullptr);
    EXPECT_EQ(find_device(""), nullptr);
}

TEST(DevicePresets, EveryRowIsUsableAndListed) {
    const std::string listing = device_listing();
    std::set<std::string_view> names;
    for (const DevicePreset& p : device_presets()) {
        EXPECT_TRUE(names.insert(p.name).second) << "twice: " << p.name;
        EXPECT_GE(p.width, 20);
        EXPECT_GE(p.height, 20);
        EXPECT_GT(p.font_size_pt, 0);
        EXPECT_TRUE(p.format == "png" || p.format == "jpg" || p.format == "xtch") << p.name;
        EXPECT_NE(listing.find("\n" + std::string(p.name) + " "), std::string::npos) << p.name;
    }
    EXPECT_GE(names.size(), 12u);
}

}  // namespace
}  // namespace pagiro::typeset
