#pragma once
// Answers the window's dialogs in tests: records every message and gives the
// prepared answers (or cancels) without showing anything.
#include <QColor>
#include <QStringList>
#include <functional>
#include <optional>

#include "platform/dialogs.h"

struct FakeDialogs : pagiro::DialogProvider {
    struct Message {
        QString text, title;
        Icon icon;
        QString button;  // the button offered beside OK, if any
    };
    QList<Message> messages;
    std::optional<QColor> colour;         // nothing: the colour dialog is cancelled
    std::optional<QString> file;          // nothing: the file dialog is cancelled
    std::optional<QString> folder;        // nothing: the folder dialog is cancelled
    QStringList file_titles, file_filters;
    bool press_button = false;            // a box with a button of its own: pressed, or closed with OK
    // Runs while a message box would be open (for example to check the window's state).
    std::function<void(const Message&)> on_message;

    void message(QWidget*, const QString& text, const QString& title, Icon icon) override {
        messages.append({text, title, icon, {}});
        if (on_message) on_message(messages.back());
    }
    bool message_with_button(QWidget*, const QString& text, const QString& title, Icon icon,
                             const QString& button) override {
        messages.append({text, title, icon, button});
        if (on_message) on_message(messages.back());
        return press_button;
    }
    std::optional<QColor> choose_color(QWidget*) override { return colour; }
    std::optional<QString> open_file(QWidget*, const QString& title, const QString& filter, const QString&) override {
        file_titles << title;
        file_filters << filter;
        return file;
    }
    std::optional<QString> choose_folder(QWidget*, const QString&) override { return folder; }
};
