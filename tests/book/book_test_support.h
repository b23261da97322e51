#pragma once
// Shared pieces of the book tests: a scratch folder and generated grey pages.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/pixel_view.h"

namespace pagiro::test {

class BookFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("pagiro_book_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
               std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Every name in the folder, hidden ones included.
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) found.insert(entry.path().filename().string());
        return found;
    }

    std::filesystem::path dir;
};

// A lower limit on one of the process's resources for as long as it lives: the file
// size (writes past it fail with "File too large" instead of a signal) or the number
// of open files.
class ResourceLimit {
public:
    ResourceLimit(int resource, rlim_t limit) : resource_(resource) {
        getrlimit(resource_, &old_);
        if (resource_ == RLIMIT_FSIZE) old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = old_;
        lower.rlim_cur = limit;
        EXPECT_EQ(setrlimit(resource_, &lower), 0);
    }
    ~ResourceLimit() {
        setrlimit(resource_, &old_);
        if (resource_ == RLIMIT_FSIZE) std::signal(SIGXFSZ, old_handler_);
    }
    ResourceLimit(const ResourceLimit&) = delete;
    ResourceLimit& operator=(const ResourceLimit&) = delete;

private:
    int resource_;
    rlimit old_{};
    void (*old_handler_)(int) = SIG_DFL;
};

// A grey page held in memory, possibly with a row longer than the page.
struct GreyPage {
    int width = 0, height = 0;
    std::ptrdiff_t stride = 0;
    std::vector<std::uint8_t> pixels;

    GreyPage(int w, int h, int row_slack = 0)
        : width(w), height(h), stride(w + row_slack), pixels(static_cast<std::size_t>(stride) * h, 0xEE) {}
    std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y * stride + x)]; }
    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * stride + x)]; }
    GreyView view() const { return {pixels.data(), width, height, stride}; }
};

// Every grey from black to white, across and down the page.
inline GreyPage gradient_page(int w, int h) {
    GreyPage page(w, h, 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) page.at(x, y) = static_cast<std::uint8_t>((x * 255 / std::max(1, w - 1) + y * 7) % 256);
    return page;
}

// White paper with dark strokes whose edges are anti-aliased greys, like drawn text.
inline GreyPage text_like_page(int w, int h, unsigned seed) {
    GreyPage page(w, h);
    std::mt19937 pick(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) page.at(x, y) = 255;
    const int strokes = std::max(1, w * h / 400);
    for (int s = 0; s < strokes; ++s) {
        const int x0 = static_cast<int>(pick() % static_cast<unsigned>(w)), y0 = static_cast<int>(pick() % static_cast<unsigned>(h));
        const bool across = pick() % 2;
        const int length = 1 + static_cast<int>(pick() % 16);
        for (int i = 0; i < length; ++i) {
            const int x = across ? x0 + i : x0, y = across ? y0 : y0 + i;
            if (x >= w || y >= h) break;
            page.at(x, y) = static_cast<std::uint8_t>(pick() % 60);
            const int ex = across ? x : x + 1, ey = across ? y + 1 : y;  // the soft edge
            if (ex < w && ey < h) page.at(ex, ey) = static_cast<std::uint8_t>(60 + pick() % 196);
        }
    }
    return page;
}

inline GreyPage noise_page(int w, int h, unsigned seed) {
    GreyPage page(w, h, 1);
    std::mt19937 pick(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) page.at(x, y) = static_cast<std::uint8_t>(pick());
    return page;
}

}  // namespace pagiro::test
