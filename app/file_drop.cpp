#include "file_drop.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace pagiro {

QStringList local_files(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) files << url.toLocalFile();
    return files;
}

FileDrop::FileDrop(QWidget* window, std::function<bool()> busy, std::function<void(const QStringList&)> dropped)
    : QObject(window), busy_(std::move(busy)), dropped_(std::move(dropped)) {
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    for (QWidget* w : window->findChildren<QWidget*>()) w->installEventFilter(this);
}

bool FileDrop::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    const QStringList files = local_files(drop->mimeData());
    // Plain text dragged into a text box goes on as it always did.
    if (files.isEmpty()) return false;
    // The file is only read: a drag that could only move it away from where it
    // was is refused, so that the file manager never deletes the user's file.
    const Qt::DropActions possible = drop->possibleActions();
    const Qt::DropAction action = (possible & Qt::CopyAction)   ? Qt::CopyAction
                                  : (possible & Qt::LinkAction) ? Qt::LinkAction
                                                                : Qt::IgnoreAction;
    if (action == Qt::IgnoreAction || busy_()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(action);
    drop->accept();
    if (type == QEvent::Drop) dropped_(files);
    return true;
}

}  // namespace pagiro
