#pragma once
// A modal message for code that has no window of its own (the thread wrapper, the
// writers). The window installs a handler that shows a message box; without one
// the message goes to standard error. Texts are UTF-8.
#include <string>

namespace pagiro {

enum class MessageIcon { None, Information, Exclamation, Critical };

using MessageHandler = void (*)(const std::string& text, const std::string& title, MessageIcon icon);

void show_message(const std::string& text, const std::string& title, MessageIcon icon);
MessageHandler set_message_handler(MessageHandler handler);

}  // namespace pagiro
