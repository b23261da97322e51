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
#include "platform/textfile.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_shot TEXTFILE PNGFILE\n");
        return 2;
    }
    QApplication app(argc, argv);
    pagiro::install_window_services();
    pagiro::bd window;
    std::string error;
    auto text = pagiro::read_text_file(argv[1], pagiro::TextEncoding::Auto, error);
    if (!text) {
        std::fprintf(stderr, "window_shot: %s\n", error.c_str());
        return 1;
    }
    window.set_source_text(QString::fromStdU16String(*text));
    window.show();
    pagiro::SidePanel& panel = *window.panel;
    panel.set_open(true);
    if (qEnvironmentVariableIsSet("SHOT_BAD")) { window.c_tk->setText("20"); window.c_fontsize->setEditText("40"); }
    else { panel.layout_mode->setCurrentIndex(1); panel.footer->setCurrentIndex(1); }
    QTest::qWait(100);
    if (!QTest::qWaitFor([&] { return !panel.preview->busy(); }, 20000)) return 1;
    QTest::qWait(200);
    return window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
