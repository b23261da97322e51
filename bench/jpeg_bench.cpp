// Times our encoder against libjpeg-turbo (optimised Huffman tables, quality 75,
// 4:2:0) on a large photo-like picture and on one default page, in one run, and
// prints megapixels per second for both and their ratio.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jpeg/bmptojpg.h"

#include <jpeglib.h>

namespace {

struct Picture {
    int width, height;
    std::vector<std::uint8_t> rgb;
    pagiro::PixelView view() const {
        return {rgb.data(), width, height, static_cast<std::ptrdiff_t>(width) * 3, pagiro::PixelFormat::Rgb24};
    }
};

// Deterministic photo-like picture: soft gradients, blobs and some fine texture.
Picture photo(int w, int h) {
    Picture p{w, h, std::vector<std::uint8_t>(std::size_t(w) * h * 3)};
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double fx = double(x) / w, fy = double(y) / h;
            const double blob = std::exp(-((fx - 0.4) * (fx - 0.4) + (fy - 0.6) * (fy - 0.6)) * 12);
            const double tex = 10 * std::sin(x * 0.21) * std::sin(y * 0.17);
            const double noise = double(next() >> 28) - 8;
            const double c[3] = {70 + 120 * fx + 60 * blob + tex + noise, 90 + 90 * fy - 40 * blob + tex + noise,
                                 160 - 100 * fx * fy + 30 * blob + noise};
            for (int k = 0; k < 3; ++k)
                p.rgb[(std::size_t(y) * w + x) * 3 + k] = static_cast<std::uint8_t>(std::clamp(std::lround(c[k]), 0L, 255L));
        }
    return p;
}

// The default page: white with black strokes on a character grid.
Picture page(int w, int h) {
    Picture p{w, h, std::vector<std::uint8_t>(std::size_t(w) * h * 3, 255)};
    std::uint32_t state = 777;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (int cy = 2; cy + 12 <= h; cy += 13)
        for (int cx = 2; cx + 12 <= w; cx += 12)
            for (int s = 0; s < 5; ++s) {
                const int a = next() >> 28 & 7, b = next() >> 28 & 7, kind = (next() >> 29) % 3;
                for (int i = 0; i < 11; ++i) {
                    const int x = cx + (kind == 1 ? a : i), y = cy + (kind == 0 ? b : kind == 1 ? i : (a + i) % 11);
                    if (x < w && y < h) std::fill_n(&p.rgb[(std::size_t(y) * w + x) * 3], 3, 0);
                }
            }
    return p;
}

std::size_t ours(const Picture& p, const std::string& path) {
    bmptojpg e;
    e.SampleHDC(p.view(), p.width, p.height, 0, 0);
    e.SaveFile(path);
    return static_cast<std::size_t>(std::filesystem::file_size(path));
}

std::size_t theirs(const Picture& p) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buf, &size);
    cinfo.image_width = static_cast<JDIMENSION>(p.width);
    cinfo.image_height = static_cast<JDIMENSION>(p.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    cinfo.optimize_coding = TRUE;
    cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 2;
    cinfo.comp_info[1].h_samp_factor = cinfo.comp_info[1].v_samp_factor = 1;
    cinfo.comp_info[2].h_samp_factor = cinfo.comp_info[2].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(p.rgb.data()) + std::size_t(cinfo.next_scanline) * p.width * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::free(buf);
    return size;
}

// Megapixels per second over at least `min_seconds` (and at least `min_runs` runs).
template <typename F>
double rate(const Picture& p, F&& encode, double min_seconds, int min_runs, std::size_t& bytes) {
    using clock = std::chrono::steady_clock;
    int runs = 0;
    const auto start = clock::now();
    double seconds = 0;
    do {
        bytes = encode();
        ++runs;
        seconds = std::chrono::duration<double>(clock::now() - start).count();
    } while (seconds < min_seconds || runs < min_runs);
    return double(p.width) * p.height * runs / seconds / 1e6;
}

void compare(const char* name, const Picture& p, double min_seconds, int min_runs, const std::string& path) {
    std::size_t our_bytes = 0, their_bytes = 0;
    const double a = rate(p, [&] { return ours(p, path); }, min_seconds, min_runs, our_bytes);
    const double b = rate(p, [&] { return theirs(p); }, min_seconds, min_runs, their_bytes);
    std::printf("%-26s ours %9.3f MP/s (%zu bytes)   libjpeg-turbo %9.3f MP/s (%zu bytes)   ours/theirs %.3f\n", name, a,
                our_bytes, b, their_bytes, a / b);
}

}  // namespace

int main() {
    const std::string path = (std::filesystem::temp_directory_path() / "pagiro_jpeg_bench.jpg").string();
    const Picture large = photo(4000, 3000);
    const Picture small = page(128, 110);
    compare("photo 4000 x 3000", large, 3.0, 2, path);
    compare("page 128 x 110", small, 2.0, 50, path);
    std::filesystem::remove(path);
    return 0;
}
