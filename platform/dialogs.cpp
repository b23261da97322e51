#include "dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace pagiro {

void QtDialogs::message(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    QMessageBox box(parent);
    box.setWindowTitle(title.isEmpty() ? application_title : title);
    box.setText(text);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

std::optional<QColor> QtDialogs::choose_color(QWidget* parent) {
    // Starts on black and keeps no custom colours between calls, as the original dialog did.
    QColor c = QColorDialog::getColor(Qt::black, parent);
    if (!c.isValid()) return std::nullopt;
    return c;
}

std::optional<QString> QtDialogs::open_file(QWidget* parent, const QString& title, const QString& filter,
                                            const QString& folder) {
    QString f = QFileDialog::getOpenFileName(parent, title, folder, filter);
    if (f.isEmpty()) return std::nullopt;
    return f;
}

std::optional<QString> QtDialogs::choose_folder(QWidget* parent, const QString& title) {
    QString d = QFileDialog::getExistingDirectory(parent, title);
    if (d.isEmpty()) return std::nullopt;
    return d;
}

}  // namespace pagiro
