#pragma once
// Test pictures, libjpeg-turbo as an independent decoder (and a reference
// encoder), and picture comparison.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/pixel_view.h"

namespace jpeg_test {

// Red, green, blue per pixel, rows packed.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    pagiro::PixelView view() const {
        return {rgb.data(), width, height, static_cast<std::ptrdiff_t>(width) * 3, pagiro::PixelFormat::Rgb24};
    }
};

Picture random_picture(int width, int height, std::uint32_t seed);
Picture smooth_picture(int width, int height, std::uint32_t seed);  // photo-like: gradients and soft blobs
Picture text_picture(int width, int height, std::uint32_t seed);    // white with black strokes

struct Sampling {
    int h[3];
    int v[3];
};

struct Decoded {
    std::string error;  // empty when decoded
    int warnings = 0;
    int width = 0;
    int height = 0;
    int components = 0;
    int factors[3][2] = {};
    int scans = 0;  // scan headers seen in the file
    std::vector<std::uint8_t> pixels;               // RGB or grey, as asked
    std::vector<std::vector<std::uint8_t>> planes;  // raw component planes, cropped
    std::vector<int> plane_width, plane_height;
};

// Decodes to RGB (grey pictures to grey when `grey` is set).
Decoded decode(const std::vector<std::uint8_t>& file, bool grey = false);
// Decodes to the raw component planes, without upsampling or colour conversion.
Decoded decode_raw(const std::vector<std::uint8_t>& file);

// libjpeg-turbo's own encoder; `grey` encodes the luminance only.
std::vector<std::uint8_t> reference_encode(const Picture& p, int quality, const Sampling& s, bool grey,
                                           bool optimize = true);

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// Luminance (or Cb, Cr with their +128) of every pixel, rounded.
std::vector<std::uint8_t> component_plane(const Picture& p, int component);

std::vector<std::uint8_t> read_file(const std::string& path);
// A path in the test folder of this process alone: the suite may run in several
// processes at once.
std::string temp_path(const std::string& name);
int count_scans(const std::vector<std::uint8_t>& file);

}  // namespace jpeg_test
