// The floor for a run: writing the same files with nothing computed. Reads every
// file of a folder into memory, then writes copies under the same names into
// another folder, one open/write/close each, and reports files per second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_floor FROM_DIR TO_DIR\n");
        return 2;
    }
    std::vector<std::pair<std::string, std::string>> files;
    for (auto& e : fs::directory_iterator(argv[1])) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        files.emplace_back(e.path().filename().string(), s.str());
    }
    std::sort(files.begin(), files.end());
    fs::create_directories(argv[2]);
    auto start = std::chrono::steady_clock::now();
    for (auto& [name, bytes] : files) {
        std::FILE* f = std::fopen((fs::path(argv[2]) / name).c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
            std::fprintf(stderr, "write_floor: cannot write %s\n", name.c_str());
            return 1;
        }
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu files in %.3f s: %.0f files/s\n", files.size(), secs, files.size() / secs);
    return 0;
}
