#pragma once
#include <QDir>
#include <QString>
#include <filesystem>
#include <set>
#include <string>

#include "generator/headless_host.h"
#include "generator/run_state.h"

// A fresh folder per test, removed afterwards.
struct TempFolder {
    std::filesystem::path path;
    explicit TempFolder(const std::string& name) {
        path = std::filesystem::temp_directory_path() / ("pagiro_" + name + "_" + std::to_string(::getpid()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    QString q(const std::string& sub = "") const { return QString::fromStdString((path / sub).string()); }
};

// Every file below a folder, as paths relative to it.
inline std::set<std::string> files_below(const std::filesystem::path& root) {
    std::set<std::string> out;
    if (!std::filesystem::exists(root)) return out;
    for (auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.is_regular_file()) out.insert(std::filesystem::relative(e.path(), root).string());
    return out;
}

inline void reset_run_state() {
    pagiro::mk::runflag = 0;
    pagiro::mk::pageno = 0;
    pagiro::mk::hasrun = 0;
}

// What the user is told when `read` refuses its settings (the English text), or
// "" when it accepts them.
template <class Read>
std::string failure_of(Read&& read) {
    try {
        read();
    } catch (const pagiro::RunFailure& f) {
        return f.english.toStdString();
    }
    return {};
}
