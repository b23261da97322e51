// How soon the window's preview follows a setting change on a long novel: the
// time from the change to the new page being ready, for page 1 and a later page,
// classic and typeset. Prints the median and the slowest of several changes.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTest>
#include <QTextCursor>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/bd.h"
#include "app/preview.h"
#include "app/side_panel.h"
#include "app/window_pump.h"
#include "window_setup.h"

namespace {

// Milliseconds from `change` to the preview's answer.
double answer_ms(pagiro::SidePanel& panel, const std::function<void()>& change) {
    bool answered = false;
    auto c = QObject::connect(panel.preview, &pagiro::Preview::ready, [&] { answered = true; });
    QElapsedTimer t;
    t.start();
    change();
    while (!answered || panel.preview->busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double ms = t.nsecsElapsed() / 1e6;
    QObject::disconnect(c);
    return ms;
}

void measure(const char* what, pagiro::bd& window, pagiro::SidePanel& panel, int page) {
    // Settle on the page first (laying out up to it once), then change the font
    // size back and forth.
    answer_ms(panel, [&] { panel.page_number->setValue(page); });
    std::vector<double> ms;
    const QString sizes[] = {window.c_fontsize->currentText(), QString::number(window.c_fontsize->currentText().toInt() + 1)};
    for (int k = 0; k < 6; ++k) {
        QTest::qWait(60);  // a change after a pause, as a user makes one
        ms.push_back(answer_ms(panel, [&] { window.c_fontsize->setEditText(sizes[(k + 1) % 2]); }));
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-8s page %5d: median %7.1f ms, slowest %7.1f ms (shown: page %d)\n", what, page, ms[ms.size() / 2],
                ms.back(), panel.page_number->value());
}

// Typing into the text box while the preview follows: the longest time the
// window's thread was busy between two ticks of a 1 ms timer.
void typing(const char* what, pagiro::bd& window, pagiro::SidePanel& panel, int page) {
    if (panel.is_open()) answer_ms(panel, [&] { panel.page_number->setValue(page); });
    QTextCursor end(window.s_text->document());
    end.movePosition(QTextCursor::Start);
    window.s_text->setTextCursor(end);
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(1);
    last = clock.nsecsElapsed();
    for (int k = 0; k < 20; ++k) {
        QTest::keyClick(window.s_text, Qt::Key_A);
        QTest::qWait(30);
    }
    const qint64 typing_longest = longest;
    const qint64 typed = clock.nsecsElapsed();
    longest = 0;
    while (panel.preview->busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (!panel.is_open()) {
        std::printf("panel closed:   typing 20 keys 30 ms apart: the window's thread busy at most %.1f ms at once\n",
                    typing_longest / 1e6);
        return;
    }
    std::printf("%-8s page %5d: typing 20 keys 30 ms apart: the window's thread busy at most %.1f ms at once; "
                "after the last key, %.1f ms at most, the page %.0f ms later\n",
                what, page, typing_longest / 1e6, longest / 1e6, (clock.nsecsElapsed() - typed) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: preview_bench TEXTFILE\n");
        return 2;
    }
    QApplication app(argc, argv);
    pagiro::install_window_services();
    bench::NoDialogs dialogs;
    pagiro::bd window(&dialogs);
    if (!bench::load_text(window, argv[1], "preview_bench")) return 1;
    std::printf("text: %lld characters\n", static_cast<long long>(window.source_length()));
    window.show();
    pagiro::SidePanel& panel = *window.panel;
    typing("closed", window, panel, 0);
    panel.set_open(true);
    for (int page : {1, 5000}) measure("classic", window, panel, page);
    for (int page : {1, 5000}) typing("classic", window, panel, page);
    answer_ms(panel, [&] { panel.layout_mode->setCurrentIndex(1); });
    for (int page : {1, 5000}) measure("typeset", window, panel, page);
    for (int page : {1, 5000}) typing("typeset", window, panel, page);
    return 0;
}
