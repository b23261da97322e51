// Times our encoder against libjpeg-turbo (optimised Huffman tables, quality 75,
// 4:2:0, into memory) on a large photo-like picture and on one default page, in
// one run: megapixels per second, time per picture and the ratios, ours on one
// and on two threads, and ours writing the file as a run does.
// Usage: jpeg_bench [rounds] [photo] [page] [white]: the pictures named (all
//        three when none is), in that order; white is a plain white 4000 x 3000 page.
//        jpeg_bench --photo FILE.ppm [width height]: writes the photo-like picture
//        (default 4000 x 3000) as a binary PPM, for the big-page benchmark.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
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

std::size_t ours(const Picture& p, int threads) {
    bmptojpg e;
    e.SetThreads(threads);
    e.SampleHDC(p.view(), p.width, p.height, 0, 0);
    return e.SaveBytes().size();
}

// Ours on another code path than the processor's best, for the gain of the best.
std::size_t ours_on(const Picture& p, bmptojpg::CodePath path) {
    const bmptojpg::CodePath best = bmptojpg::ActiveCodePath();
    bmptojpg::SetCodePath(path);
    const std::size_t bytes = ours(p, 1);
    bmptojpg::SetCodePath(best);
    return bytes;
}

std::size_t ours_to_file(const Picture& p, const std::string& path) {
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

struct Contender {
    Contender(const char* n, std::function<std::size_t()> f) : name(n), encode(std::move(f)) {}
    const char* name;
    std::function<std::size_t()> encode;
    std::vector<double> rates;  // MP/s of each round
    std::size_t bytes = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Rounds of back-to-back slices, the order turning each round, so that the load
// of a shared machine falls on every contender alike; medians are printed.
void compare(const char* title, const Picture& p, std::vector<Contender>& contenders, int rounds, double slice_seconds,
             int min_runs) {
    using clock = std::chrono::steady_clock;
    const double mp = double(p.width) * p.height / 1e6;
    for (auto& c : contenders) c.bytes = c.encode();  // warm-up
    for (int r = 0; r < rounds; ++r)
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            Contender& c = contenders[(i + r) % contenders.size()];
            int runs = 0;
            const auto start = clock::now();
            double seconds = 0;
            do {
                c.bytes = c.encode();
                ++runs;
                seconds = std::chrono::duration<double>(clock::now() - start).count();
            } while (seconds < slice_seconds || runs < min_runs);
            c.rates.push_back(mp * runs / seconds);
        }
    const double reference = median(contenders.back().rates);
    std::printf("%s (%d rounds, medians)\n", title, rounds);
    for (const auto& c : contenders) {
        const double m = median(c.rates);
        std::printf("  %-34s %9.2f MP/s  %10.0f ns/picture  %8zu bytes  ratio to libjpeg-turbo %.3f\n", c.name, m,
                    mp / m * 1e9, c.bytes, m / reference);
    }
}

}  // namespace

int write_photo(const char* path, int width, int height) {
    const Picture p = photo(width, height);
    std::FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::perror(path);
        return 1;
    }
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    const bool ok = std::fwrite(p.rgb.data(), 1, p.rgb.size(), f) == p.rgb.size();
    return std::fclose(f) == 0 && ok ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--photo")
        return write_photo(argv[2], argc > 4 ? std::atoi(argv[3]) : 4000, argc > 4 ? std::atoi(argv[4]) : 3000);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<std::string> wanted(argv + std::min(argc, 2), argv + argc);
    auto wants = [&](const char* name) { return wanted.empty() || std::find(wanted.begin(), wanted.end(), name) != wanted.end(); };
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "pagiro_jpeg_bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const Picture large = wants("photo") ? photo(4000, 3000) : Picture{};
    const Picture small = page(128, 110);
    const bmptojpg::CodePath path = bmptojpg::ActiveCodePath();
    std::printf("code path: %s\n", path == bmptojpg::CodePath::Avx512 ? "avx512"
                                   : path == bmptojpg::CodePath::Avx2 ? "avx2"
                                   : path == bmptojpg::CodePath::Sse2 ? "sse2"
                                                                      : "plain");
    if (wants("photo")) {
        std::vector<Contender> c;
        c.emplace_back("ours, 1 thread", [&] { return ours(large, 1); });
        c.emplace_back("ours, 2 threads", [&] { return ours(large, 2); });
        c.emplace_back("ours, 1 thread, SaveFile", [&] { return ours_to_file(large, (dir / "photo.jpg").string()); });
        if (path == bmptojpg::CodePath::Avx512)
            c.emplace_back("ours, 1 thread, AVX2 kernels", [&] { return ours_on(large, bmptojpg::CodePath::Avx2); });
        c.emplace_back("libjpeg-turbo (optimize_coding)", [&] { return theirs(large); });
        compare("photo 4000 x 3000, q75 4:2:0", large, c, rounds, 0.6, 3);
    }
    if (wants("page")) {
        // Every page goes to a file of its own, as in a run.
        int page_no = 0;
        std::vector<Contender> c;
        c.emplace_back("ours, 1 thread", [&] { return ours(small, 1); });
        c.emplace_back("ours, 2 threads", [&] { return ours(small, 2); });
        c.emplace_back("ours, 1 thread, SaveFile (new file)", [&] {
                         return ours_to_file(small, (dir / ("page" + std::to_string(page_no++) + ".jpg")).string());
                     });
        if (path == bmptojpg::CodePath::Avx512)
            c.emplace_back("ours, 1 thread, AVX2 kernels", [&] { return ours_on(small, bmptojpg::CodePath::Avx2); });
        c.emplace_back("libjpeg-turbo (optimize_coding)", [&] { return theirs(small); });
        compare("page 128 x 110, q75 4:2:0", small, c, rounds, 0.3, 50);
    }
    if (wants("white")) {
        // A big page with nothing on it yet: every block is one colour.
        const Picture white{4000, 3000, std::vector<std::uint8_t>(std::size_t(4000) * 3000 * 3, 255)};
        std::vector<Contender> c;
        c.emplace_back("ours, 1 thread", [&] { return ours(white, 1); });
        c.emplace_back("ours, 2 threads", [&] { return ours(white, 2); });
        c.emplace_back("libjpeg-turbo (optimize_coding)", [&] { return theirs(white); });
        compare("white page 4000 x 3000, q75 4:2:0", white, c, rounds, 0.6, 3);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
