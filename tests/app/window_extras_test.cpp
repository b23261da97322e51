// What the window offers beyond its classic behaviour: hints on every control,
// a font list that opens wide enough to read, files dropped on the window, and
// the output folder opened from the end-of-run message.
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "app/bd.h"
#include "app/combo_popup.h"
#include "app/file_drop.h"
#include "app/tooltips.h"
#include "fake_dialogs.h"
#include "generator/run_state.h"
#include "platform/pump.h"

using namespace pagiro;

namespace {

// The 35 controls of the classic window, by name.
const QStringList kClassicControls{
    "outcjg",  "zdfj1",   "zdfj",    "v_tpks",  "gentp",     "c_mlr",     "c_ml",       "Frame1", "startok",
    "c_bjtpr", "c_bjtp",  "c_bjcolor", "c_wzcolor", "c_fontsize", "c_font", "c_tg",       "c_tk",   "c_qm",
    "c_fjqz",  "qckh",    "sf_read", "sf_file", "s_text",    "Label10",   "v_2",        "v_1",    "Label9",
    "Label8",  "Label7",  "Label4",  "Label5",  "Label3",    "Label2",    "Label1",     "Label6"};

// "中文测试" and a line break, then "第二行", in GBK.
const QByteArray kGbkNovel("\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4\r\n\xB5\xDA\xB6\xFE\xD0\xD0");

// A drag from a file manager: it offers to copy or to move, and proposes `proposed`.
struct Drag {
    QMimeData data;
    Qt::DropActions possible = Qt::CopyAction | Qt::MoveAction;
    Qt::DropAction proposed = Qt::CopyAction;

    explicit Drag(const QStringList& files) {
        QList<QUrl> urls;
        for (const QString& f : files) urls << QUrl::fromLocalFile(f);
        data.setUrls(urls);
    }
    // Sends the drag's entry and its drop to `target`; true when both were taken.
    bool drop_on(QWidget* target, Qt::DropAction* done = nullptr) {
        const QPointF at(target->width() / 2, target->height() / 2);
        QDragEnterEvent enter(at.toPoint(), possible, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setDropAction(proposed);
        QApplication::sendEvent(target, &enter);
        QDropEvent drop(at, possible, &data, Qt::LeftButton, Qt::NoModifier);
        drop.setDropAction(proposed);
        QApplication::sendEvent(target, &drop);
        if (done) *done = drop.dropAction();
        return enter.isAccepted() && drop.isAccepted();
    }
};

bool has_cjk(const QString& s) {
    for (QChar c : s)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
    return false;
}

// The folder the end-of-run message asked to open, and what the opener answers.
QStringList g_opened;
bool g_opener_works = true;
bool recording_opener(const QString& folder) {
    g_opened << folder;
    return g_opener_works;
}

// Drops a file on the window while a run is under way, once.
struct DropDuringRun {
    bd* window = nullptr;
    QString file;
    bool tried = false, taken_by_window = false, taken_by_text = false;
} g_during;

void dropping_pump() {
    if (g_during.tried || !g_during.window) return;
    g_during.tried = true;
    Drag to_window({g_during.file}), to_text({g_during.file});
    g_during.taken_by_window = to_window.drop_on(g_during.window);
    g_during.taken_by_text = to_text.drop_on(g_during.window->s_text->viewport());
}

}  // namespace

class WindowExtras : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    FakeDialogs* dialogs = nullptr;
    bd* w = nullptr;

    QString write_file(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return QString();
        f.write(bytes);
        return path;
    }

    // A short run of ten BMP pages into dir/out.
    void run_ten_pages() {
        QString text;
        for (int k = 0; k < 80; ++k) text += QStringLiteral("第%1行\r\n").arg(k);
        w->set_source_text(text);
        w->c_ml->setText(dir.filePath("out"));
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(".bmp"));
        w->startok->click();
    }

private slots:
    void init() {
        mk::runflag = 0;
        mk::hasrun = 0;
        g_opened.clear();
        g_opener_works = true;
        set_folder_opener(recording_opener);
        dialogs = new FakeDialogs;
        w = new bd(dialogs);
    }
    void cleanup() {
        set_pump_handler(nullptr);
        set_folder_opener(nullptr);
        delete w;
        delete dialogs;
    }

    void every_classic_control_explains_itself_in_chinese() {
        QSet<QString> tips;
        for (const QString& name : kClassicControls) {
            auto* control = w->findChild<QWidget*>(name);
            QVERIFY2(control, qPrintable(name));
            const QString tip = control->toolTip();
            QVERIFY2(has_cjk(tip), qPrintable(name + ": " + tip));
            QVERIFY2(tip.startsWith(control_tooltip(name)), qPrintable(name + ": " + tip));
            tips << tip;
        }
        // Each says something of its own; a label may share its box's hint.
        QVERIFY(tips.size() >= 28);
        QCOMPARE(control_tooltip(u"no_such_control"), QString());
        QCOMPARE(w->c_tk->toolTip(), QStringLiteral("图片宽度（像素）"));
        QCOMPARE(w->c_bjcolor->toolTip(), QStringLiteral("背景颜色，双击选择"));
        QCOMPARE(w->zdfj1->toolTip(), QStringLiteral("每个文件夹放多少张图片"));
        // The font box is too narrow for many names: its hint names the chosen one whole.
        QCOMPARE(w->c_font->toolTip(), QStringLiteral("字体：") + w->c_font->currentText());
        w->c_font->addItem(QStringLiteral("Some Very Long Family Name"));
        w->c_font->setCurrentIndex(w->c_font->count() - 1);
        QCOMPARE(w->c_font->toolTip(), QStringLiteral("字体：Some Very Long Family Name"));
        // The hints change no control's place or size.
        QCOMPARE(w->size(), QSize(556, 397));
        QCOMPARE(w->c_font->geometry(), QRect(44, 258, 101, 20));
    }

    // Some styles open the list as wide as its box (Windows' own does): the list
    // must still show every name whole there.
    void the_font_list_opens_wide_enough_for_the_longest_name_data() {
        QTest::addColumn<QString>("style");
        QTest::newRow("windows") << "Windows";
        QTest::newRow("fusion") << "Fusion";
    }
    void the_font_list_opens_wide_enough_for_the_longest_name() {
        QFETCH(QString, style);
        const QString before = QApplication::style()->name();
        QApplication::setStyle(style);
        const auto restore = qScopeGuard([&] { QApplication::setStyle(before); });
        bd fresh(dialogs);
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        QComboBox* fonts = fresh.c_font;
        const QRect closed = fonts->geometry();
        QAbstractItemView* view = fonts->view();
        int longest = -1, widest = 0;
        for (int i = 0; i < fonts->count(); ++i) {
            const int width = view->fontMetrics().horizontalAdvance(fonts->itemText(i));
            if (width > widest) widest = width, longest = i;
        }
        QVERIFY(longest >= 0);
        if (widest <= closed.width()) QSKIP("every installed font name fits the closed box already");
        fonts->showPopup();
        QTRY_VERIFY(view->isVisible());
        const QModelIndex entry = fonts->model()->index(longest, 0);
        const int shown = view->viewport()->width(), wanted = view->sizeHintForIndex(entry).width();
        fonts->hidePopup();
        // Neither the text nor the entry as the list draws it is cut by the scroll bar.
        QVERIFY2(shown >= widest, qPrintable(QStringLiteral("%1: %2 < %3").arg(fonts->itemText(longest)).arg(shown).arg(widest)));
        QVERIFY(shown >= wanted);
        QCOMPARE(fonts->geometry(), closed);
    }

    void a_list_of_long_entries_opens_wider_than_its_box() {
        QComboBox box;
        box.setGeometry(0, 0, 60, 20);
        box.addItems({"a", "A very long family name that no small box can show", "b"});
        fit_popup_to_items(&box);
        const int text = box.view()->fontMetrics().horizontalAdvance(box.itemText(1));
        const int bar = box.view()->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, box.view());
        QVERIFY(box.view()->minimumWidth() >= text + bar);
        QCOMPARE(box.width(), 60);
    }

    void a_dropped_file_loads_as_the_loader_does() {
        const QString path = write_file("novel.txt", kGbkNovel);
        FakeDialogs picked;
        picked.file = path;
        bd loader(&picked);
        loader.sf_read_click();

        Qt::DropAction done = Qt::IgnoreAction;
        Drag drag({path});
        drag.proposed = Qt::MoveAction;  // what a file manager proposes within one disk
        QVERIFY(drag.drop_on(w, &done));
        QCOMPARE(done, Qt::CopyAction);  // the file is only read, never moved away
        QVERIFY(QFile::exists(path));
        QCOMPARE(w->text(Setting::s_text), QStringLiteral("中文测试\r\n第二行"));
        QCOMPARE(w->text(Setting::s_text), loader.text(Setting::s_text));
        QCOMPARE(w->sf_file->text(), loader.sf_file->text());
        QCOMPARE(w->sf_file->toolTip(), QStringLiteral("文本编码：GBK(自动识别)"));
        QCOMPARE(w->v_1->text(), loader.v_1->text());
        QVERIFY(dialogs->messages.isEmpty());
    }

    void a_file_dropped_on_a_text_box_is_read_not_pasted() {
        const QString path = write_file("novel.txt", kGbkNovel);
        Drag on_text({path});
        QVERIFY(on_text.drop_on(w->s_text->viewport()));
        QCOMPARE(w->text(Setting::s_text), QStringLiteral("中文测试\r\n第二行"));

        w->set_source_text("kept");
        const QString prefix = w->c_fjqz->text();
        Drag on_prefix({path});
        QVERIFY(on_prefix.drop_on(w->c_fjqz));
        QCOMPARE(w->c_fjqz->text(), prefix);
        QCOMPARE(w->text(Setting::s_text), QStringLiteral("中文测试\r\n第二行"));

        // Text dragged from elsewhere is still the text box's own business.
        QMimeData words;
        words.setText("words");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &words, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &enter);
        QVERIFY(!enter.isAccepted());
        QVERIFY(local_files(&words).isEmpty());
    }

    void a_dropped_file_that_cannot_be_read_changes_nothing() {
        w->set_source_text("the user's own text");
        const QString missing = dir.filePath("gone.txt");
        Drag gone({missing});
        gone.drop_on(w);
        QCOMPARE(dialogs->messages.size(), 1);
        QCOMPARE(dialogs->messages[0].text, QStringLiteral("找不到文件：\n%1").arg(missing));
        QCOMPARE(dialogs->messages[0].title, QStringLiteral("电子书系统错误提示"));
        QVERIFY(!QFile::exists(missing));

        const QString folder = dir.filePath("a folder");
        QVERIFY(QDir().mkpath(folder));
        Drag a_folder({folder});
        a_folder.drop_on(w);
        QCOMPARE(dialogs->messages.size(), 2);
        QCOMPARE(dialogs->messages[1].text,
                 QStringLiteral("文件无法读取：\n%1\n这是一个文件夹,不是文件。").arg(folder));
        QCOMPARE(w->text(Setting::s_text), QStringLiteral("the user's own text"));
        QVERIFY(w->sf_file->text().isEmpty());
    }

    void a_drag_that_could_only_move_the_file_is_refused() {
        const QString path = write_file("novel.txt", kGbkNovel);
        w->set_source_text("kept");
        Drag move_only({path});
        move_only.possible = Qt::MoveAction;
        move_only.proposed = Qt::MoveAction;
        QVERIFY(!move_only.drop_on(w));
        QCOMPARE(w->text(Setting::s_text), QStringLiteral("kept"));
        QVERIFY(dialogs->messages.isEmpty());
    }

    void of_several_dropped_files_the_first_is_read_and_the_user_told() {
        const QString first = write_file("first.txt", kGbkNovel);
        const QString second = write_file("second.txt", "second");
        const QString third = write_file("third.txt", "third");
        Drag several({first, second, third});
        QVERIFY(several.drop_on(w));
        QCOMPARE(w->text(Setting::s_text), QStringLiteral("中文测试\r\n第二行"));
        QCOMPARE(w->sf_file->text(), first);
        QCOMPARE(dialogs->messages.size(), 1);
        QCOMPARE(dialogs->messages[0].text,
                 QStringLiteral("一次只能读取一个文件，已读取：\n%1\n其余2个文件没有读取。").arg(first));
        QVERIFY(dialogs->messages[0].title.isEmpty());
    }

    void a_drop_during_a_run_is_refused() {
        g_during = DropDuringRun{w, write_file("novel.txt", kGbkNovel)};
        set_pump_handler(dropping_pump);
        run_ten_pages();
        QVERIFY(g_during.tried);
        QVERIFY(!g_during.taken_by_window);
        QVERIFY(!g_during.taken_by_text);
        QVERIFY(w->text(Setting::s_text).startsWith(QStringLiteral("第0行")));
        QVERIFY(w->sf_file->text().isEmpty());
        QCOMPARE(dialogs->messages.size(), 1);  // the summary only
        // Once idle again, the same drop is taken.
        Drag after({g_during.file});
        QVERIFY(after.drop_on(w));
        QCOMPARE(w->text(Setting::s_text), QStringLiteral("中文测试\r\n第二行"));
    }

    void the_summary_offers_to_open_the_output_folder() {
        run_ten_pages();
        QCOMPARE(dialogs->messages.size(), 1);
        const FakeDialogs::Message& summary = dialogs->messages[0];
        QCOMPARE(summary.button, QStringLiteral("打开文件夹"));
        QVERIFY(summary.title.isEmpty());
        const QStringList lines = summary.text.split('\r');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("电子书生成完毕!"));
        QCOMPARE(lines[1], QStringLiteral("共生成图片10张"));
        QVERIFY(g_opened.isEmpty());  // closed with OK: nothing opened

        dialogs->press_button = true;
        run_ten_pages();
        QCOMPARE(dialogs->messages.size(), 2);
        QCOMPARE(g_opened, QStringList{QDir(dir.filePath("out")).absolutePath()});
        QCOMPARE(w->startok->text(), QStringLiteral("生成Pagiro电子书"));  // and back to idle
    }

    void a_folder_that_cannot_be_opened_is_reported() {
        dialogs->press_button = true;
        g_opener_works = false;
        run_ten_pages();
        QCOMPARE(g_opened.size(), 1);
        QCOMPARE(dialogs->messages.size(), 2);
        QCOMPARE(dialogs->messages[1].text, QStringLiteral("无法打开文件夹：\n%1").arg(dir.filePath("out")));
        QCOMPARE(dialogs->messages[1].icon, DialogProvider::Icon::Exclamation);

        // A folder that is gone by then is reported without asking the desktop.
        g_opened.clear();
        g_opener_works = true;
        dialogs->on_message = [this](const FakeDialogs::Message& m) {
            if (!m.button.isEmpty()) QDir(dir.filePath("out")).removeRecursively();
        };
        run_ten_pages();
        QVERIFY(g_opened.isEmpty());
        QCOMPARE(dialogs->messages.last().text, QStringLiteral("无法打开文件夹：\n%1").arg(dir.filePath("out")));
    }
};

QTEST_MAIN(WindowExtras)
#include "window_extras_test.moc"
