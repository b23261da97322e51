#include "render/devices.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace pagiro::typeset {
namespace {

constexpr std::array<DevicePreset, 17> presets = {{
    {"xteink-x4", "Xteink X4 (4.26\" e-ink)", 480, 800, 4, "xtch", 16},
    {"kindle", "Kindle (basic, 2012-2019)", 600, 800, 16, "png", 16},
    {"kobo-touch", "Kobo Mini / Touch", 600, 800, 16, "png", 16},
    {"kindle-pw1", "Kindle Paperwhite 1/2", 758, 1024, 16, "png", 20},
    {"kobo-aura", "Kobo Aura / Nia", 758, 1024, 16, "png", 20},
    {"kindle-pw3", "Kindle Paperwhite 3/4, Voyage, Kindle 11", 1072, 1448, 16, "png", 28},
    {"kobo-clara", "Kobo Clara HD / 2E", 1072, 1448, 16, "png", 28},
    {"kindle-pw5", "Kindle Paperwhite 5 / Signature", 1236, 1648, 16, "png", 32},
    {"kindle-oasis", "Kindle Oasis 2/3", 1264, 1680, 16, "png", 32},
    {"kobo-libra2", "Kobo Libra 2", 1264, 1680, 16, "png", 32},
    {"kobo-sage", "Kobo Sage / Forma", 1440, 1920, 16, "png", 36},
    {"phone", "phone photo album", 1080, 1920, 0, "jpg", 32},
    {"player-128x128", "media player 128 x 128", 128, 128, 0, "jpg", 9},
    {"player-128x160", "media player 128 x 160", 128, 160, 0, "jpg", 9},
    {"player-176x220", "media player 176 x 220", 176, 220, 0, "jpg", 10},
    {"player-240x320", "media player 240 x 320", 240, 320, 0, "jpg", 12},
    {"player-320x240", "media player 320 x 240 (landscape)", 320, 240, 0, "jpg", 12},
}};

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::span<const DevicePreset> device_presets() { return presets; }

int page_grey_levels(const DevicePreset& d) { return d.grey_levels == 2 || d.grey_levels == 4 ? d.grey_levels : 256; }

const DevicePreset* find_device(std::string_view name) {
    const auto it = std::find_if(presets.begin(), presets.end(), [&](const DevicePreset& p) { return same_name(p.name, name); });
    return it == presets.end() ? nullptr : &*it;
}

std::string device_listing() {
    std::string out = "name            size         grey levels  format  font size  device\n";
    char row[160];
    for (const DevicePreset& p : presets) {
        const std::string size = std::to_string(p.width) + " x " + std::to_string(p.height);
        const std::string levels = p.grey_levels ? std::to_string(p.grey_levels) : std::string("colour");
        std::snprintf(row, sizeof row, "%-15.*s %-12s %-12s %-7.*s %4g pt    %.*s\n", static_cast<int>(p.name.size()),
                      p.name.data(), size.c_str(), levels.c_str(), static_cast<int>(p.format.size()), p.format.data(),
                      p.font_size_pt, static_cast<int>(p.description.size()), p.description.data());
        out += row;
    }
    return out;
}

}  // namespace pagiro::typeset
