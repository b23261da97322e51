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
#include "window_setup.h"

using bench::Clock;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: window_bench TEXTFILE OUTPUT_DIR [STOP_AFTER_SECONDS]\n");
        return 2;
    }
    QApplication app(argc, argv);
    pagiro::install_window_services();
    bench::NoDialogs dialogs;
    pagiro::bd window(&dialogs);
    window.show();
    if (!bench::load_text(window, argv[1], "window_bench")) return 1;
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
