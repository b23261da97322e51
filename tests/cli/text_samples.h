#pragma once
// Texts the reader's tests are made of, written byte by byte (no converter in
// between), and one fingerprint for a folder of pages.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

// A GBK novel of `paragraphs` paragraphs, each CR LF terminated: common characters
// (GB 2312's first level, rows B0-D7), Chinese comma and full stop, now and then an
// ASCII word, an empty line or a chapter heading. The same seed gives the same bytes.
inline std::string gbk_novel(int paragraphs, std::uint32_t seed = 20261207) {
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    std::string t;
    for (int p = 0; p < paragraphs; ++p) {
        if (p % 40 == 0) t += "\xB5\xDA" + std::to_string(p / 40 + 1) + "\xD5\xC2\r\n\r\n";  // 第N章
        const int length = 10 + static_cast<int>(next() % 120);
        for (int k = 0; k < length; ++k) {
            const unsigned r = next() % 100;
            if (r < 6) t += "\xA3\xAC";        // ，
            else if (r < 8) t += "\xA1\xA3";   // 。
            else if (r < 9) t += " MP3 ";
            else {
                unsigned row = 0xB0 + next() % 40, col = 0xA1 + next() % 94;
                if (row == 0xD7 && col > 0xF9) col = 0xF9;  // row D7 ends early
                t += static_cast<char>(row);
                t += static_cast<char>(col);
            }
        }
        t += "\xA1\xA3\r\n";
        if (next() % 10 == 0) t += "\r\n";
    }
    return t;
}

// FNV-1a over every file's relative name and bytes, in name order.
inline std::uint64_t pages_fingerprint(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file()) names.insert(std::filesystem::relative(e.path(), folder).string());
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&h](const std::string& bytes) {
        for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    };
    for (const auto& name : names) {
        std::ifstream in(folder / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        mix(name);
        mix(s.str());
    }
    return h;
}
