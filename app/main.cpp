// Program start: with arguments it is the command line, without them the window.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <csignal>

#include "app/bd.h"
#include "app/window_pump.h"
#include "cli/cli.h"
#include "platform/display.h"

int main(int argc, char** argv) {
    // A file-size limit makes a write fail (and the run say so) instead of
    // killing the program in the middle of a page.
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc > 1) return pagiro::run_cli(argc, argv);
    if (!pagiro::display_available()) return pagiro::no_display();
    QApplication app(argc, argv);
    // Every text of the window is Chinese; so are the buttons of Qt's own dialogs.
    QTranslator qt_texts;
    if (qt_texts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qt_texts);
    pagiro::install_window_services();
    pagiro::bd window;
    window.show();
    return app.exec();
}
