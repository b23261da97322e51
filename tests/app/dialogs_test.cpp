// The real dialogs, driven as a user would: every one starts fresh within a
// session, and nothing of them is read from or written to the user's settings.
// The dialogs run in a child process of this test whose home and configuration
// folders are temporary, so that what Qt would keep on disk can be seen.
#include <QApplication>
#include <QColorDialog>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <functional>

#include "platform/dialogs.h"

using namespace pagiro;

namespace {

// --- The child: one session of dialogs -------------------------------------

int g_faults = 0;
void fault(const QString& what) {
    std::fprintf(stderr, "dialogs: %s\n", qPrintable(what));
    ++g_faults;
}

// Runs `act` on the dialog of type D once it is open.
template <class D>
void when_open(std::function<void(D*)> act) {
    QTimer::singleShot(0, [act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<D*>(w); d && d->isVisible()) {
                act(d);
                return;
            }
        }
        fault(QStringLiteral("no dialog open"));
    });
}

bool in_history(const QFileDialog* d, const QString& folder) {
    for (const QString& h : d->history())
        if (QDir(h) == QDir(folder)) return true;
    return false;
}

int child_session(const QString& work) {
    QtDialogs dialogs;
    const QString a = work + "/a", b = work + "/b", c = work + "/c";
    for (const QString& f : {a, b, c}) QDir().mkpath(f);
    QFile(b + "/pic.jpg").open(QIODevice::WriteOnly);

    // A colour chosen and kept as a custom colour ...
    when_open<QColorDialog>([](QColorDialog* d) {
        d->setCurrentColor(Qt::red);
        for (QPushButton* button : d->findChildren<QPushButton*>())
            if (button->text().contains(QStringLiteral("Custom"))) button->click();
        if (QColorDialog::customColor(0) != QColor(Qt::red)) fault(QStringLiteral("the custom colour was not added"));
        d->accept();
    });
    if (dialogs.choose_color(nullptr) != QColor(Qt::red)) fault(QStringLiteral("the colour was not chosen"));
    // ... is gone at the next dialog, which starts on black.
    when_open<QColorDialog>([](QColorDialog* d) {
        for (int i = 0; i < QColorDialog::customCount(); ++i)
            if (QColorDialog::customColor(i) != QColor(Qt::black))
                fault(QStringLiteral("custom colour %1 is %2").arg(i).arg(QColorDialog::customColor(i).name()));
        if (d->currentColor() != QColor(Qt::black)) fault(QStringLiteral("the dialog starts on %1").arg(d->currentColor().name()));
        d->reject();
    });
    if (dialogs.choose_color(nullptr)) fault(QStringLiteral("a cancelled colour dialog chose a colour"));

    // A picture chosen in another folder ...
    when_open<QFileDialog>([b](QFileDialog* d) {
        d->setDirectory(b);
        d->selectFile(b + "/pic.jpg");
        static_cast<QDialog*>(d)->accept();  // as the Open button does
    });
    const auto picture = dialogs.open_file(nullptr, "pick", "*.jpg", a);
    if (!picture || QFileInfo(*picture) != QFileInfo(b + "/pic.jpg")) fault(QStringLiteral("the picture was not chosen"));
    // ... leaves no trace in the next file dialog.
    when_open<QFileDialog>([a, b](QFileDialog* d) {
        if (d->directory() != QDir(a)) fault("the file dialog opens at " + d->directory().path());
        if (in_history(d, b)) fault(QStringLiteral("the file dialog remembers the earlier folder"));
        d->reject();
    });
    if (dialogs.open_file(nullptr, "pick", "*.jpg", a)) fault(QStringLiteral("a cancelled file dialog chose a file"));

    // A folder chosen ...
    when_open<QFileDialog>([work](QFileDialog* d) {
        d->setDirectory(work);
        d->selectFile(QStringLiteral("c"));
        static_cast<QDialog*>(d)->accept();
    });
    const auto folder = dialogs.choose_folder(nullptr, "folder");
    if (!folder || QDir(*folder) != QDir(c)) fault("the folder was not chosen: " + folder.value_or("nothing"));
    // ... and the next folder dialog opens at home again.
    when_open<QFileDialog>([c](QFileDialog* d) {
        if (d->directory() != QDir(QDir::homePath())) fault("the folder dialog opens at " + d->directory().path());
        if (in_history(d, c)) fault(QStringLiteral("the folder dialog remembers the earlier folder"));
        d->reject();
    });
    if (dialogs.choose_folder(nullptr, "folder")) fault(QStringLiteral("a cancelled folder dialog chose a folder"));
    return g_faults == 0 ? 0 : 1;
}

// Every file below a folder, relative to it.
QStringList files_below(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

}  // namespace

// --- The test: sessions in child processes ---------------------------------

class Dialogs : public QObject {
    Q_OBJECT

    // Runs one session with its home and configuration folders in `home`.
    void run_session(const QString& home, const QString& work) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("PAGIRO_DIALOGS_SESSION", work);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }

    // Handles the message box once it is open; the box found is handed to `act`.
    static void when_box_open(std::function<void(QMessageBox*)> act) {
        QTimer::singleShot(0, [act] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return act(box);
            act(nullptr);
        });
    }

private slots:
    // The end-of-run box: OK stays the default, so Enter and Escape only close it;
    // only a press of the other button is reported.
    void a_box_with_a_button_of_its_own() {
        QtDialogs dialogs;
        const QString folder = QStringLiteral("打开文件夹");
        auto ask = [&] { return dialogs.message_with_button(nullptr, "done\rreally", QString(), MessageIcon::None, folder); };
        QAbstractButton *ok = nullptr, *other = nullptr, *by_default = nullptr;
        QString text, title;
        int buttons = 0;
        when_box_open([&](QMessageBox* box) {
            if (!box) return;
            ok = box->button(QMessageBox::Ok);
            by_default = box->defaultButton();
            buttons = box->buttons().size();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == folder) other = b;
            text = box->text();
            title = box->windowTitle();
            QTest::keyClick(box, Qt::Key_Return);
        });
        QVERIFY(!ask());
        QVERIFY(ok && other);
        QCOMPARE(by_default, ok);
        QCOMPARE(buttons, 2);
        QCOMPARE(text, QStringLiteral("done\rreally"));
        QCOMPARE(title, application_title);

        when_box_open([](QMessageBox* box) {
            if (box) QTest::keyClick(box, Qt::Key_Escape);
        });
        QVERIFY(!ask());

        when_box_open([&](QMessageBox* box) {
            if (!box) return;
            for (QAbstractButton* b : box->buttons())
                if (b->text() == folder) b->click();
        });
        QVERIFY(ask());
    }

    void every_dialog_starts_fresh_and_nothing_is_written() {
        QTemporaryDir home, work;
        QDir().mkpath(home.filePath(".config"));
        run_session(home.path(), work.path());
        QCOMPARE(files_below(home.path()), QStringList());
    }

    void what_an_earlier_session_left_is_not_read_nor_changed() {
        // Another Qt program (or an older Pagiro) left custom colours and a file
        // dialog's history behind.
        QTemporaryDir home, work;
        QDir().mkpath(home.filePath(".config"));
        const QString conf = home.filePath(".config/QtProject.conf");
        const QByteArray left = "[FileDialog]\nhistory=file://" + work.filePath("b").toUtf8() + "\nlastVisited=file://" +
                                work.filePath("c").toUtf8() + "\n\n[Qt]\ncustomColors\\0=4294901760\n";
        QFile f(conf);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(left);
        f.close();
        run_session(home.path(), work.path());
        QCOMPARE(files_below(home.path()), QStringList{".config/QtProject.conf"});
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), left);
    }
};

int main(int argc, char** argv) {
    const QString session = qEnvironmentVariable("PAGIRO_DIALOGS_SESSION");
    QApplication app(argc, argv);
    if (!session.isEmpty()) return child_session(session);
    Dialogs test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
