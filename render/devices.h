#pragma once
// Screens people read page pictures on: one row per device, with the page size
// that fills its screen and the defaults that suit it. A run looks a preset up
// by name; explicit options win over its defaults.
#include <span>
#include <string>
#include <string_view>

namespace pagiro::typeset {

struct DevicePreset {
    std::string_view name;         // what --device takes
    std::string_view description;
    int width, height;             // portrait pixels
    int grey_levels;               // 2, 4, 16; 0 for a colour screen
    std::string_view format;       // the page format it reads best: "xtch", "png", "jpg"
    double font_size_pt;
};

std::span<const DevicePreset> device_presets();
// The grey levels its pages are made for: 2 or 4 where the screen shows only
// those, else 256 (a 16-level screen takes 8-bit grey pages).
int page_grey_levels(const DevicePreset& device);
// Nothing when no preset has that name (letter case ignored).
const DevicePreset* find_device(std::string_view name);
// The table as the command line prints it, one preset a line.
std::string device_listing();

}  // namespace pagiro::typeset
