// The window's side of a run: defaults, the load handler, start, stop, summary,
// failures and closing the window.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

#include "app/bd.h"
#include "fake_dialogs.h"
#include "generator/run_state.h"
#include "platform/pump.h"

using namespace pagiro;

namespace {

// What the pump sees of the window while a run is under way.
struct DuringRun {
    bd* window = nullptr;
    int pumps = 0;
    int press_stop_at = -1;   // click startok again at this pump
    int close_at = -1;        // close the window at this pump
    int dblclick_at = -1;     // double-click the status line at this pump
    bool seen = false;
    QString caption, title, status;
    bool outcjg_visible = false, s_text_enabled = true, zdfj1_enabled = true, startok_enabled = false;
} g_run;

void watching_pump() {
    ++g_run.pumps;
    bd* w = g_run.window;
    w->flush_display();
    if (!g_run.seen && w->windowTitle().startsWith("Pagiro电子书提示")) {
        g_run.seen = true;
        g_run.caption = w->startok->text();
        g_run.title = w->windowTitle();
        g_run.status = w->v_2->text();
        g_run.outcjg_visible = !w->outcjg->isHidden();
        g_run.s_text_enabled = w->s_text->isEnabled();
        g_run.zdfj1_enabled = w->zdfj1->isEnabled();
        g_run.startok_enabled = w->startok->isEnabled();
    }
    if (g_run.pumps == g_run.press_stop_at) w->startok->click();
    if (g_run.pumps == g_run.close_at) w->close();
    if (g_run.pumps == g_run.dblclick_at) w->v_2_dblclick();
}

QString lines(int n) {
    QString t;
    for (int k = 0; k < n; ++k) t += QStringLiteral("第%1行\r\n").arg(k);
    return t;
}

}  // namespace

class RunProtocol : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    FakeDialogs* dialogs = nullptr;
    bd* w = nullptr;

    QStringList pages() const {
        QStringList out;
        QDirIterator it(dir.filePath("out"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) out << QDir(dir.filePath("out")).relativeFilePath(it.next());
        out.sort();
        return out;
    }

private slots:
    void init() {
        mk::runflag = 0;
        mk::hasrun = 0;
        mk::pageno = 0;
        g_run = DuringRun{};
        dialogs = new FakeDialogs;
        w = new bd(dialogs);
        g_run.window = w;
        set_pump_handler(watching_pump);
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        w->c_ml->setText(dir.filePath("out"));
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(".bmp"));
    }
    void cleanup() {
        set_pump_handler(nullptr);
        delete w;
        delete dialogs;
    }

    void defaults_of_every_setting() {
        bd fresh(dialogs);
        QCOMPARE(fresh.windowTitle(), QString("Pagiro电子书制作工具 Beta 2.0"));
        QCOMPARE(fresh.size(), QSize(556, 397));
        QCOMPARE(fresh.text(Setting::s_text), QString("请输入要转换成电子书的文本\r\n"));
        QCOMPARE(fresh.source_length(), 15);
        QCOMPARE(fresh.c_fjqz->text(), QString("kbwm"));
        QCOMPARE(fresh.c_qm->text(), QString("1"));
        QCOMPARE(fresh.c_tk->text(), QString("128"));
        QCOMPARE(fresh.c_tg->text(), QString("110"));
        QCOMPARE(fresh.c_fontsize->currentText(), QString("9"));
        QCOMPARE(fresh.c_fontsize->count(), 7);
        QCOMPARE(fresh.c_wzcolor->text(), QString("0"));
        QCOMPARE(fresh.c_bjcolor->text(), QString("16777215"));
        QVERIFY(fresh.c_bjtp->text().isEmpty());
        QVERIFY(fresh.c_bjtp->isReadOnly() && fresh.sf_file->isReadOnly() && fresh.c_wzcolor->isReadOnly());
        QCOMPARE(fresh.zdfj1->text(), QString("1"));
        QVERIFY(!fresh.zdfj1->isEnabled());
        QVERIFY(!fresh.zdfj->isChecked() && !fresh.qckh->isChecked());
        QCOMPARE(fresh.v_1->text(), QString("预计1页"));
        QCOMPARE(fresh.v_2->text(), QString("系统等待执行命令中......"));
        QCOMPARE(fresh.startok->text(), QString("生成Pagiro电子书"));
        QVERIFY(fresh.outcjg->isHidden() && fresh.gentp->isHidden());
        QCOMPARE(fresh.zdfj->text(), QString("自动        页分卷"));
        // Positions are the stored twips over 15.
        QCOMPARE(fresh.s_text->geometry(), QRect(10, 10, 535, 175));
        QCOMPARE(fresh.startok->geometry(), QRect(382, 14, 151, 35));
        QCOMPARE(fresh.Label10->geometry(), QRect(6, 372, 543, 21));
        // The colour boxes show only their colour.
        QCOMPARE(fresh.c_bjcolor->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(fresh.c_bjcolor->palette().color(QPalette::Text), QColor(Qt::white));
        QCOMPARE(fresh.c_wzcolor->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(fresh.c_bjcolor->focusPolicy(), Qt::ClickFocus);
    }

    void load_handler_choices() {
        bd fresh(dialogs);
        QCOMPARE(fresh.c_font->count(), QFontDatabase::families().size());
        QCOMPARE(fresh.c_font->currentText(), choose_default_font(QFontDatabase::families()));
        QCOMPARE(fresh.v_tpks->currentText(), QString(".gif"));
        QVERIFY(fresh.c_ml->text().endsWith("/电子书"));
        QCOMPARE(choose_default_font({"DejaVu Sans", "宋体"}), QString("宋体"));
        QCOMPARE(choose_default_font({"DejaVu Sans", "AR PL UMing CN"}), QString("AR PL UMing CN"));
        QCOMPARE(choose_default_font({"NoSuchFontA", "NoSuchFontB"}), QString("NoSuchFontA"));
        QCOMPARE(default_output_folder(dir.path(), "/home/u"), dir.path() + "/电子书");
        QCOMPARE(default_output_folder("/proc/1", "/home/u"), QString("/home/u/电子书"));
    }

    void gif_falls_back_to_jpg_when_it_cannot_be_made() {
        auto old = set_gif_check([] { return false; });
        FakeDialogs local;
        bd fresh(&local);
        set_gif_check(old);
        QCOMPARE(local.messages.size(), 1);
        QCOMPARE(local.messages[0].text, QString("GIF生成组件尚未安装,不能使用gif格式!"));
        QCOMPARE(local.messages[0].title, QString("电子书系统错误提示"));
        QCOMPARE(fresh.v_tpks->currentText(), QString(".jpg"));
    }

    void start_runs_to_the_summary_and_back_to_idle() {
        w->set_source_text(lines(80));
        w->zdfj->setChecked(true);
        w->zdfj_click();
        w->zdfj->setChecked(false);  // checked state restored below; idle follows it again
        w->zdfj_click();
        bool idle_during_summary = true;
        dialogs->on_message = [&](const FakeDialogs::Message&) { idle_during_summary = w->s_text->isEnabled(); };
        w->startok->click();
        QVERIFY(g_run.seen);
        QCOMPARE(g_run.caption, QString("正在生成,按我停止"));
        QCOMPARE(g_run.title, QString("Pagiro电子书提示: 正在生成......kbwm000001.bmp 大约完成0%"));
        QCOMPARE(g_run.status, QString("正在生成第 1 张图片"));
        QVERIFY(g_run.outcjg_visible);
        QVERIFY(!g_run.s_text_enabled);
        QVERIFY(!g_run.zdfj1_enabled);
        QVERIFY(g_run.startok_enabled);
        QVERIFY(!idle_during_summary);  // the summary comes before the return to idle
        QCOMPARE(dialogs->messages.size(), 1);
        const QStringList summary = dialogs->messages[0].text.split('\r');
        QCOMPARE(summary.size(), 4);
        QCOMPARE(summary[0], QString("电子书生成完毕!"));
        QCOMPARE(summary[1], QString("共生成图片10张"));
        QVERIFY(summary[2].startsWith("完成时间:") && summary[2].endsWith("秒"));
        QVERIFY(dialogs->messages[0].title.isEmpty());  // carries the application's title
        QCOMPARE(pages().size(), 10);
        // Idle again.
        QCOMPARE(w->windowTitle(), QString("Pagiro电子书制作工具 Beta 2.0"));
        QCOMPARE(w->startok->text(), QString("生成Pagiro电子书"));
        QCOMPARE(w->v_2->text(), QString("系统等待执行命令中......"));
        QVERIFY(w->s_text->isEnabled() && w->c_tk->isEnabled() && w->v_tpks->isEnabled());
        QVERIFY(w->outcjg->isHidden());
        QVERIFY(!w->zdfj1->isEnabled());
        QCOMPARE(mk::runflag, 0);
        QCOMPARE(mk::pageno, 11.0);
    }

    void zdfj1_follows_zdfj_after_a_run() {
        w->zdfj->setChecked(true);
        w->zdfj_click();
        QVERIFY(w->zdfj1->isEnabled());
        w->set_source_text(lines(8));
        w->startok->click();
        QVERIFY(!g_run.zdfj1_enabled);
        QVERIFY(w->zdfj1->isEnabled());
        QCOMPARE(pages(), QStringList{"分卷1/kbwm000001.bmp"});
    }

    void a_second_press_stops_the_run() {
        w->set_source_text(lines(80));
        g_run.press_stop_at = 150;
        w->startok->click();
        QCOMPARE(dialogs->messages.size(), 1);
        const int written = pages().size();
        QVERIFY(written >= 1 && written < 10);
        QCOMPARE(dialogs->messages[0].text.split('\r')[1], QString("共生成图片%1张").arg(written));
        QCOMPARE(mk::pageno, written + 1.0);
    }

    void the_status_line_repeats_the_count() {
        w->v_2_dblclick();
        QVERIFY(dialogs->messages.isEmpty());  // nothing before any run
        w->set_source_text(lines(80));
        g_run.dblclick_at = 200;
        w->startok->click();
        QCOMPARE(dialogs->messages.size(), 2);
        QCOMPARE(dialogs->messages[0].title, QString("系统提示"));
        QVERIFY(dialogs->messages[0].text.startsWith("刚才生成了"));
        w->v_2_dblclick();
        QCOMPARE(dialogs->messages.last().text, QString("刚才生成了10张图片!"));
        w->c_qm->setText("5");  // read at the time of the double-click
        w->v_2_dblclick();
        QCOMPARE(dialogs->messages.last().text, QString("刚才生成了6张图片!"));
        QCOMPARE(mk::hasrun, qint16(-1));
    }

    void a_failing_run_says_why_and_returns_to_idle() {
        w->set_source_text(lines(8));
        w->c_ml->setText(dir.filePath("missing/out"));
        w->startok->click();
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages[0].text.startsWith("输出目录无法创建："));
        QCOMPARE(dialogs->messages[0].icon, DialogProvider::Icon::Critical);
        QCOMPARE(mk::runflag, 0);
        QVERIFY(w->s_text->isEnabled());
        QCOMPARE(w->startok->text(), QString("生成Pagiro电子书"));
        QVERIFY(!QDir(dir.filePath("missing")).exists());
    }

    void the_status_line_counts_none_after_a_failed_start() {
        // The first run of the session fails at once: nothing was made, not -1.
        w->set_source_text(lines(80));
        w->c_ml->setText(dir.filePath("missing/out"));
        w->startok->click();
        w->v_2_dblclick();
        QCOMPARE(dialogs->messages.last().text, QString("刚才生成了0张图片!"));
        // After a run of 10 pages, a failed start does not repeat its count.
        w->c_ml->setText(dir.filePath("out"));
        w->startok->click();
        w->v_2_dblclick();
        QCOMPARE(dialogs->messages.last().text, QString("刚才生成了10张图片!"));
        w->c_ml->setText(dir.filePath("missing/out"));
        w->c_qm->setText("3");
        w->startok->click();
        QVERIFY(dialogs->messages.last().text.startsWith("输出目录无法创建："));
        w->v_2_dblclick();
        QCOMPARE(dialogs->messages.last().text, QString("刚才生成了0张图片!"));
    }

    void a_failed_write_counts_the_pages_on_disk() {
        // A folder where the fourth page's file would go.
        QDir().mkpath(dir.filePath("out/kbwm000004.bmp"));
        w->set_source_text(lines(8 * 30));
        w->startok->click();
        QVERIFY(dialogs->messages.last().text.startsWith("图片文件无法写入："));
        w->v_2_dblclick();
        QCOMPARE(dialogs->messages.last().text, QString("刚才生成了3张图片!"));
        QCOMPARE(pages().size(), 3);
    }

    void a_prefix_that_would_leave_the_folder_is_refused() {
        w->set_source_text(lines(8));
        w->c_fjqz->setText("../kbwm");
        w->startok->click();
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages[0].text.startsWith("文件名前缀“../kbwm”不能含有"));
        QVERIFY(!QDir(dir.filePath("out")).exists());
        QVERIFY(w->s_text->isEnabled());
        QCOMPARE(mk::runflag, 0);
    }

    void a_page_that_cannot_be_written_is_removed_and_reported() {
        // A file-size limit below one page: the write fails part-way.
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small{30000, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        w->set_source_text(lines(20));
        w->startok->click();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(dialogs->messages[0].text.startsWith("图片文件无法写入："));
        QVERIFY(dialogs->messages[0].text.contains("没写完的文件已删除"));
        QVERIFY(pages().isEmpty());
        QVERIFY(w->s_text->isEnabled());
        QCOMPARE(w->startok->text(), QString("生成Pagiro电子书"));
    }

    void closing_during_a_run_ends_it_without_a_summary() {
        w->show();
        w->set_source_text(lines(80));
        g_run.close_at = 150;
        w->startok->click();
        QVERIFY(dialogs->messages.isEmpty());
        QVERIFY(w->abandoned());
        QCOMPARE(mk::runflag, 0);
        const int written = pages().size();
        QVERIFY(written >= 1 && written < 10);
        // What was written is whole: every page loads at its size.
        for (const QString& p : pages()) QCOMPARE(QImage(dir.filePath("out/" + p)).size(), QSize(128, 110));
    }
};

QTEST_MAIN(RunProtocol)
#include "run_protocol_test.moc"
