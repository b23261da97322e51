#include "oracle.h"

#include <algorithm>
#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>
#include <jpeglib.h>

namespace jpeg_test {

Picture random_picture(int width, int height, std::uint32_t seed) {
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
    std::mt19937 rng(seed);
    for (auto& b : p.rgb) b = static_cast<std::uint8_t>(rng() & 0xFF);
    return p;
}

Picture smooth_picture(int width, int height, std::uint32_t seed) {
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    struct Blob { double x, y, r, c[3]; };
    std::vector<Blob> blobs(6);
    for (auto& b : blobs) b = {u(rng) * width, u(rng) * height, (0.1 + 0.3 * u(rng)) * (width + height), {u(rng) * 160 - 80, u(rng) * 160 - 80, u(rng) * 160 - 80}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double fx = double(x) / width, fy = double(y) / height;
            double c[3] = {60 + 120 * fx, 80 + 100 * fy, 170 - 90 * fx * fy};
            for (const auto& b : blobs) {
                const double d2 = ((x - b.x) * (x - b.x) + (y - b.y) * (y - b.y)) / (b.r * b.r);
                const double g = std::exp(-d2);
                for (int k = 0; k < 3; ++k) c[k] += g * b.c[k];
            }
            for (int k = 0; k < 3; ++k) {
                const double v = c[k] + 6.0 * std::sin(0.7 * x + 1.3 * k) * std::cos(0.5 * y);
                p.rgb[(std::size_t(y) * width + x) * 3 + k] = static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
            }
        }
    return p;
}

Picture text_picture(int width, int height, std::uint32_t seed) {
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3, 255)};
    std::mt19937 rng(seed);
    auto dot = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        std::uint8_t* px = &p.rgb[(std::size_t(y) * width + x) * 3];
        px[0] = px[1] = px[2] = 0;
    };
    // Character cells of 12 x 12 with a few horizontal, vertical and slanted strokes.
    for (int cy = 2; cy + 12 <= height; cy += 13)
        for (int cx = 2; cx + 12 <= width; cx += 12)
            for (int s = 0; s < 4; ++s) {
                const int kind = rng() % 3, a = rng() % 11, b = rng() % 11, len = 3 + rng() % 8;
                for (int i = 0; i < len; ++i) {
                    if (kind == 0) dot(cx + (a + i) % 11, cy + b);
                    if (kind == 1) dot(cx + a, cy + (b + i) % 11);
                    if (kind == 2) dot(cx + (a + i) % 11, cy + (b + i) % 11);
                }
            }
    return p;
}

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int warnings;
};

void on_error(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void on_message(j_common_ptr cinfo, int level) {
    if (level < 0) ++reinterpret_cast<ErrorManager*>(cinfo->err)->warnings;
}

// Plain C-style body: nothing with a destructor lives across the setjmp.
bool run_decode(const std::vector<std::uint8_t>& file, bool grey, bool raw, Decoded* out, ErrorManager* err) {
    jpeg_decompress_struct cinfo;
    cinfo.err = jpeg_std_error(&err->pub);
    err->pub.error_exit = on_error;
    err->pub.emit_message = on_message;
    err->warnings = 0;
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    out->width = static_cast<int>(cinfo.image_width);
    out->height = static_cast<int>(cinfo.image_height);
    out->components = cinfo.num_components;
    for (int c = 0; c < cinfo.num_components && c < 3; ++c) {
        out->factors[c][0] = cinfo.comp_info[c].h_samp_factor;
        out->factors[c][1] = cinfo.comp_info[c].v_samp_factor;
    }
    if (raw) {
        cinfo.raw_data_out = TRUE;
        jpeg_start_decompress(&cinfo);
        const int n = cinfo.num_components;
        out->planes.resize(static_cast<std::size_t>(n));
        out->plane_width.resize(static_cast<std::size_t>(n));
        out->plane_height.resize(static_cast<std::size_t>(n));
        std::vector<std::vector<std::uint8_t>> buffers(static_cast<std::size_t>(n));
        std::vector<std::vector<JSAMPROW>> rows(static_cast<std::size_t>(n));
        std::vector<JSAMPARRAY> arrays(static_cast<std::size_t>(n));
        for (int c = 0; c < n; ++c) {
            const jpeg_component_info& ci = cinfo.comp_info[c];
            const int bw = static_cast<int>(ci.width_in_blocks) * 8;
            const int rows_per_call = ci.v_samp_factor * 8;
            out->plane_width[c] = static_cast<int>(ci.downsampled_width);
            out->plane_height[c] = static_cast<int>(ci.downsampled_height);
            out->planes[c].assign(std::size_t(ci.downsampled_width) * ci.downsampled_height, 0);
            buffers[c].assign(std::size_t(bw) * rows_per_call, 0);
            for (int r = 0; r < rows_per_call; ++r) rows[c].push_back(buffers[c].data() + std::size_t(r) * bw);
            arrays[c] = rows[c].data();
        }
        int imcu_row = 0;
        while (cinfo.output_scanline < cinfo.output_height) {
            jpeg_read_raw_data(&cinfo, arrays.data(), static_cast<JDIMENSION>(cinfo.max_v_samp_factor * 8));
            for (int c = 0; c < n; ++c) {
                const int rows_per_call = cinfo.comp_info[c].v_samp_factor * 8;
                for (int r = 0; r < rows_per_call; ++r) {
                    const int y = imcu_row * rows_per_call + r;
                    if (y >= out->plane_height[c]) break;
                    std::copy_n(rows[c][r], out->plane_width[c], out->planes[c].data() + std::size_t(y) * out->plane_width[c]);
                }
            }
            ++imcu_row;
        }
    } else {
        cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_start_decompress(&cinfo);
        const int stride = static_cast<int>(cinfo.output_width) * cinfo.output_components;
        out->pixels.assign(std::size_t(stride) * cinfo.output_height, 0);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = out->pixels.data() + std::size_t(cinfo.output_scanline) * stride;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

Decoded decode_any(const std::vector<std::uint8_t>& file, bool grey, bool raw) {
    Decoded out;
    ErrorManager err{};
    if (!run_decode(file, grey, raw, &out, &err)) out.error = err.message[0] ? err.message : "decode failed";
    out.warnings = err.warnings;
    out.scans = count_scans(file);
    return out;
}

bool run_encode(const Picture& p, int quality, const Sampling& s, bool grey, bool optimize, unsigned char** buf,
                unsigned long* size, ErrorManager* err) {
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&err->pub);
    err->pub.error_exit = on_error;
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, buf, size);
    cinfo.image_width = static_cast<JDIMENSION>(p.width);
    cinfo.image_height = static_cast<JDIMENSION>(p.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (grey) {
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    } else {
        for (int c = 0; c < 3; ++c) {
            cinfo.comp_info[c].h_samp_factor = s.h[c];
            cinfo.comp_info[c].v_samp_factor = s.v[c];
        }
    }
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = optimize ? TRUE : FALSE;
    cinfo.dct_method = JDCT_FLOAT;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(p.rgb.data()) + std::size_t(cinfo.next_scanline) * p.width * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

Decoded decode(const std::vector<std::uint8_t>& file, bool grey) { return decode_any(file, grey, false); }
Decoded decode_raw(const std::vector<std::uint8_t>& file) { return decode_any(file, false, true); }

std::vector<std::uint8_t> reference_encode(const Picture& p, int quality, const Sampling& s, bool grey, bool optimize) {
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    ErrorManager err{};
    std::vector<std::uint8_t> out;
    if (run_encode(p, quality, s, grey, optimize, &buf, &size, &err)) out.assign(buf, buf + size);
    std::free(buf);
    return out;
}

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return -1.0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

std::vector<std::uint8_t> component_plane(const Picture& p, int component) {
    static const double k[3][4] = {{0.299, 0.587, 0.114, 0}, {-0.168736, -0.331264, 0.5, 128}, {0.5, -0.418688, -0.081312, 128}};
    std::vector<std::uint8_t> out(std::size_t(p.width) * p.height);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double v = k[component][0] * p.rgb[i * 3] + k[component][1] * p.rgb[i * 3 + 1] + k[component][2] * p.rgb[i * 3 + 2] + k[component][3];
        out[i] = static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
    }
    return out;
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int count_scans(const std::vector<std::uint8_t>& file) {
    // Walks the marker segments up to each scan, then skips its entropy-coded data.
    int scans = 0;
    std::size_t i = 2;
    while (i + 4 <= file.size()) {
        if (file[i] != 0xFF) return -1;
        const int marker = file[i + 1];
        if (marker == 0xD9) break;
        const std::size_t length = std::size_t(file[i + 2]) * 256 + file[i + 3];
        i += 2 + length;
        if (marker == 0xDA) {
            ++scans;
            while (i + 1 < file.size() && !(file[i] == 0xFF && file[i + 1] != 0x00)) ++i;
        }
    }
    return scans;
}

std::string temp_path(const std::string& name) {
    return (std::filesystem::path(::testing::TempDir()) / (std::to_string(::getpid()) + "_" + name)).string();
}

}  // namespace jpeg_test
