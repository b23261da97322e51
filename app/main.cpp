// Program start: with arguments it is the command line, without them the window.
#include <QApplication>
#include <chrono>

#include "app/bd.h"
#include "cli/cli.h"
#include "platform/message.h"
#include "platform/pump.h"

namespace {

// Processing events is costly next to laying out one character; do it only when a
// few milliseconds have passed, so the window stays responsive and the run fast.
void window_pump() {
    using clock = std::chrono::steady_clock;
    static clock::time_point last;
    auto now = clock::now();
    if (now - last < std::chrono::milliseconds(5)) return;
    last = now;
    QCoreApplication::processEvents();
}

void window_message(const std::string& text, const std::string& title, pagiro::MessageIcon icon) {
    pagiro::QtDialogs dialogs;
    auto i = icon == pagiro::MessageIcon::Exclamation ? pagiro::DialogProvider::Icon::Exclamation
             : icon == pagiro::MessageIcon::Critical  ? pagiro::DialogProvider::Icon::Critical
             : icon == pagiro::MessageIcon::Information ? pagiro::DialogProvider::Icon::Information
                                                        : pagiro::DialogProvider::Icon::None;
    dialogs.message(nullptr, QString::fromStdString(text), QString::fromStdString(title), i);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) return pagiro::run_cli(argc, argv);
    QApplication app(argc, argv);
    pagiro::set_pump_handler(window_pump);
    pagiro::set_message_handler(window_message);
    pagiro::bd window;
    window.show();
    return app.exec();
}
