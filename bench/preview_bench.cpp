// How soon the window's preview follows a setting change on a long novel: the
// time from the change to the new page being ready, for page 1 and a later page,
// classic and typeset. Prints the median and the slowest of several changes.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/bd.h"
#include "app/preview.h"
#include "app/side_panel.h"
#include "app/window_pump.h"
#include "platform/textfile.h"

namespace {

struct NoDialogs : pagiro::DialogProvider {
    void message(QWidget*, const QString&, const QString&, Icon) override {}
    std::optional<QColor> choose_color(QWidget*) override { return std::nullopt; }
    std::optional<QString> open_file(QWidget*, const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> choose_folder(QWidget*, const QString&) override { return std::nullopt; }
};

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: preview_bench TEXTFILE\n");
        return 2;
    }
    QApplication app(argc, argv);
    pagiro::install_window_services();
    NoDialogs dialogs;
    pagiro::bd window(&dialogs);
    std::string error;
    auto text = pagiro::read_text_file(argv[1], pagiro::TextEncoding::Auto, error);
    if (!text) {
        std::fprintf(stderr, "preview_bench: %s\n", error.c_str());
        return 1;
    }
    window.set_source_text(QString::fromStdU16String(*text));
    std::printf("text: %zu characters\n", text->size());
    window.show();
    pagiro::SidePanel& panel = *window.panel;
    panel.set_open(true);
    for (int page : {1, 5000}) measure("classic", window, panel, page);
    answer_ms(panel, [&] { panel.layout_mode->setCurrentIndex(1); });
    for (int page : {1, 5000}) measure("typeset", window, panel, page);
    return 0;
}
