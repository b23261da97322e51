// A whole run in the window, as a user starts it: the text in the source box,
// ".jpg", the start button; with the window's own message pump. Prints the
// pages written and the seconds taken. With a third argument, the stop button is
// pressed that many seconds into the run, and the time from the press to the
// summary is printed too.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <optional>
#include <chrono>
#include <cstdio>

#include "app/bd.h"
#include "app/window_pump.h"
#include "generator/run_state.h"
#include "platform/textfile.h"

namespace {

using Clock = std::chrono::steady_clock;

// Dismisses every dialog at once, noting when the first one (the summary) came.
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: window_bench TEXTFILE OUTPUT_DIR [STOP_AFTER_SECONDS]\n");
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
    std::optional<Clock::time_point> pressed;
    if (argc == 4) {
        // A real press: a mouse click delivered through the event queue.
        QTimer::singleShot(int(std::atof(argv[3]) * 1000), &window, [&] {
            pressed = Clock::now();
            QTest::mouseClick(window.startok, Qt::LeftButton);
        });
    }
    auto start = Clock::now();
    window.startok->click();
    double secs = std::chrono::duration<double>(Clock::now() - start).count();
    double pages = pagiro::mk::pageno - 1;
    std::printf("%.0f pages in %.2f s: %.0f pages/s\n", pages, secs, pages / secs);
    if (pressed && dialogs.first_message)
        std::printf("stop answered in %.1f ms (press to summary)\n",
                    std::chrono::duration<double, std::milli>(*dialogs.first_message - *pressed).count());
    return 0;
}
