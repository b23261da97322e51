#include "message.h"

#include <cstdio>

namespace pagiro {
namespace {
MessageHandler g_handler = nullptr;
}

void show_message(const std::string& text, const std::string& title, MessageIcon icon) {
    if (g_handler) {
        g_handler(text, title, icon);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

MessageHandler set_message_handler(MessageHandler handler) {
    MessageHandler old = g_handler;
    g_handler = handler;
    return old;
}

}  // namespace pagiro
