// The README's picture of the window with its side panel open, previewing a
// typeset page: run under a display (xvfb-run) so that the window is drawn as on
// a desktop. Usage: window_shot TEXTFILE PNGFILE
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cstdio>

#include "app/bd.h"
#include "app/preview.h"
#include "app/side_panel.h"
#include "app/window_pump.h"
#include "window_setup.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_shot TEXTFILE PNGFILE\n");
        return 2;
    }
    QApplication app(argc, argv);
    pagiro::install_window_services();
    bench::NoDialogs dialogs;
    pagiro::bd window(&dialogs);
    if (!bench::load_text(window, argv[1], "window_shot")) return 1;
    // Paths as a reader's own would look, not the build folder's.
    window.sf_file->setText(QStringLiteral("/home/reader/小说/灯下的书.txt"));
    window.c_ml->setText(QStringLiteral("/home/reader/电子书"));
    window.show();
    pagiro::SidePanel& panel = *window.panel;
    panel.set_open(true);
    panel.layout_mode->setCurrentIndex(1);
    panel.footer->setCurrentIndex(1);
    QTest::qWait(100);
    if (!QTest::qWaitFor([&] { return !panel.preview->busy(); }, 20000)) return 1;
    QTest::qWait(200);
    return window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
