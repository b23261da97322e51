#include "dialogs.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace pagiro {
namespace {

// Qt's dialogs keep what the user did in them (custom colours, the file dialogs'
// history, last folder and view) in the user's "QtProject" settings and read it
// back at the next start. This program keeps no settings: Qt's settings are
// pointed at a folder that can never exist, so every read finds nothing and every
// write fails quietly, and nothing is left on disk.
void keep_no_dialog_state() {
    static const bool done = [] {
        const QString nowhere = QStringLiteral("/dev/null/pagiro-keeps-no-settings");
        QSettings::setDefaultFormat(QSettings::IniFormat);
        for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
            for (auto scope : {QSettings::UserScope, QSettings::SystemScope}) QSettings::setPath(format, scope, nowhere);
        return true;
    }();
    (void)done;
}

std::optional<QString> chosen_file(QFileDialog& dialog) {
    // Nothing of an earlier dialog: no history to go back to.
    dialog.setHistory({});
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
    return files.first();
}

void set_up_message(QMessageBox& box, const QString& text, const QString& title, DialogProvider::Icon icon) {
    box.setWindowTitle(title.isEmpty() ? application_title : title);
    box.setText(text);
    switch (icon) {
    case DialogProvider::Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case DialogProvider::Icon::Information: box.setIcon(QMessageBox::Information); break;
    case DialogProvider::Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case DialogProvider::Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    box.setStandardButtons(QMessageBox::Ok);
}

}  // namespace

QtDialogs::QtDialogs() { keep_no_dialog_state(); }

void QtDialogs::message(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    QMessageBox box(parent);
    set_up_message(box, text, title, icon);
    box.exec();
}

bool QtDialogs::message_with_button(QWidget* parent, const QString& text, const QString& title, Icon icon,
                                    const QString& button) {
    QMessageBox box(parent);
    set_up_message(box, text, title, icon);
    QPushButton* other = box.addButton(button, QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
    return box.clickedButton() == other;
}

std::optional<QColor> QtDialogs::choose_color(QWidget* parent) {
    // Starts on black with sixteen black custom colours: Qt keeps custom colours
    // for the whole session, so they are cleared before every call.
    for (int i = 0; i < QColorDialog::customCount(); ++i) QColorDialog::setCustomColor(i, QColor(Qt::black));
    QColorDialog dialog(QColor(Qt::black), parent);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QColor c = dialog.selectedColor();
    if (!c.isValid()) return std::nullopt;
    return c;
}

std::optional<QString> QtDialogs::open_file(QWidget* parent, const QString& title, const QString& filter,
                                            const QString& folder) {
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    return chosen_file(dialog);
}

std::optional<QString> QtDialogs::choose_folder(QWidget* parent, const QString& title) {
    // Always opens at the home folder, never at the last folder visited.
    QFileDialog dialog(parent, title, QDir::homePath());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    return chosen_file(dialog);
}

}  // namespace pagiro
