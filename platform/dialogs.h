#pragma once
// Every modal dialog the window opens goes through this one provider, so that
// tests can answer dialogs without showing them.
#include <QColor>
#include <QString>
#include <optional>

#include "platform/message.h"

class QWidget;

namespace pagiro {

class DialogProvider {
public:
    using Icon = MessageIcon;

    virtual ~DialogProvider() = default;
    // A modal message box with an OK button. An empty title means the application's title.
    virtual void message(QWidget* parent, const QString& text, const QString& title, Icon icon) = 0;
    // The same box with one more button beside OK; OK stays the default, so Enter
    // and Escape still only close it. True when the other button was pressed. A
    // provider without it shows the plain box.
    virtual bool message_with_button(QWidget* parent, const QString& text, const QString& title, Icon icon,
                                     const QString& /*button*/) {
        message(parent, text, title, icon);
        return false;
    }
    // The colour dialog; nothing when cancelled.
    virtual std::optional<QColor> choose_color(QWidget* parent) = 0;
    // An open-file dialog; nothing when cancelled.
    virtual std::optional<QString> open_file(QWidget* parent, const QString& title, const QString& filter,
                                             const QString& folder) = 0;
    // A folder dialog; nothing when cancelled.
    virtual std::optional<QString> choose_folder(QWidget* parent, const QString& title) = 0;
};

// The real dialogs of Qt. Every dialog starts fresh, as the first of the session
// would: no custom colours, no history, no last folder; and nothing of Qt's own
// dialog state is read from or written to disk (the program keeps no settings).
class QtDialogs : public DialogProvider {
public:
    QtDialogs();
    void message(QWidget* parent, const QString& text, const QString& title, Icon icon) override;
    bool message_with_button(QWidget* parent, const QString& text, const QString& title, Icon icon,
                             const QString& button) override;
    std::optional<QColor> choose_color(QWidget* parent) override;
    std::optional<QString> open_file(QWidget* parent, const QString& title, const QString& filter,
                                     const QString& folder) override;
    std::optional<QString> choose_folder(QWidget* parent, const QString& title) override;
};

// The title a message box carries when it gives none of its own.
inline const QString application_title = QStringLiteral("Pagiro电子书");

}  // namespace pagiro
