#include "window_pump.h"

#include <QCoreApplication>
#include <chrono>

#include "platform/dialogs.h"
#include "platform/message.h"
#include "platform/pump.h"

namespace pagiro {
namespace {

void window_message(const std::string& text, const std::string& title, MessageIcon icon) {
    QtDialogs dialogs;
    dialogs.message(nullptr, QString::fromStdString(text), QString::fromStdString(title), icon);
}

DisplayFlush g_flush = nullptr;
void* g_flush_context = nullptr;

}  // namespace

void set_display_flush(DisplayFlush flush, void* context) {
    g_flush = flush;
    g_flush_context = context;
}

void* display_flush_context() { return g_flush_context; }

void window_pump() {
    using clock = std::chrono::steady_clock;
    static clock::time_point last;
    auto now = clock::now();
    if (now - last < std::chrono::milliseconds(25)) return;
    last = now;
    if (g_flush) g_flush(g_flush_context);
    QCoreApplication::processEvents();
}

void install_window_services() {
    set_pump_handler(window_pump);
    set_message_handler(window_message);
}

}  // namespace pagiro
