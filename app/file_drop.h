#pragma once
// Files dropped on the window: a file dropped anywhere on it, the text boxes
// included, is read as the source text instead of being pasted as its address.
#include <QObject>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

namespace pagiro {

// The local files a drag carries, in its order; web addresses and the like are left out.
QStringList local_files(const QMimeData* data);

class FileDrop : public QObject {
public:
    // Watches `window` and every control in it. While `busy` says so, a drag of
    // files is refused; otherwise a drop hands its files to `dropped`.
    FileDrop(QWidget* window, std::function<bool()> busy, std::function<void(const QStringList&)> dropped);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool()> busy_;
    std::function<void(const QStringList&)> dropped_;
};

}  // namespace pagiro
