#pragma once
// What the window's benchmarks and tools share: dialogs answered at once, and a
// text file loaded into the source box as the loader would.
#include <QString>
#include <chrono>
#include <cstdio>
#include <optional>

#include "app/bd.h"
#include "platform/dialogs.h"
#include "platform/textfile.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// Dismisses every dialog at once, noting when the first one (a run's summary) came.
struct NoDialogs : pagiro::DialogProvider {
    std::optional<Clock::time_point> first_message;
    void message(QWidget*, const QString&, const QString&, Icon) override {
        if (!first_message) first_message = Clock::now();
    }
    std::optional<QColor> choose_color(QWidget*) override { return std::nullopt; }
    std::optional<QString> open_file(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> choose_folder(QWidget*, const QString&) override { return std::nullopt; }
};

// False, and why on stderr, when the file cannot be read.
inline bool load_text(pagiro::bd& window, const char* path, const char* tool) {
    std::string error;
    auto text = pagiro::read_text_file(path, pagiro::TextEncoding::Auto, error);
    if (!text) {
        std::fprintf(stderr, "%s: %s\n", tool, error.c_str());
        return false;
    }
    window.set_source_text(QString::fromStdU16String(*text));
    return true;
}

}  // namespace bench
