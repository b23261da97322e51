// A whole run in the window, as a user starts it: the text in the source box,
// ".jpg", the start button; with the window's own message pump. Prints the
// pages written and the seconds taken.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <cstdio>

#include "app/bd.h"
#include "app/window_pump.h"
#include "generator/run_state.h"
#include "platform/textfile.h"

namespace {

// Dismisses every dialog at once.
struct NoDialogs : pagiro::DialogProvider {
    void message(QWidget*, const QString&, const QString&, Icon) override {}
    std::optional<QColor> choose_color(QWidget*) override { return std::nullopt; }
    std::optional<QString> open_file(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> choose_folder(QWidget*, const QString&) override { return std::nullopt; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_bench TEXTFILE OUTPUT_DIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    pagiro::install_window_services();
    NoDialogs dialogs;
    pagiro::bd window(&dialogs);
    window.show();
    std::string error;
    auto text = pagiro::read_text_file(argv[1], pagiro::TextEncoding::Auto, error);
    if (!text) {
        std::fprintf(stderr, "window_bench: %s\n", error.c_str());
        return 1;
    }
    window.set_source_text(QString::fromStdU16String(*text));
    window.c_ml->setText(QString::fromLocal8Bit(argv[2]));
    window.v_tpks->setCurrentIndex(window.v_tpks->findText(".jpg"));
    auto start = std::chrono::steady_clock::now();
    window.startok->click();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double pages = pagiro::mk::pageno - 1;
    std::printf("%.0f pages in %.2f s: %.0f pages/s\n", pages, secs, pages / secs);
    return 0;
}
