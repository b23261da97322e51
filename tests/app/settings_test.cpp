// The window's own handlers: focus-leave validation, the page estimate, the
// pickers, the format check and loading a source file.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

#include "app/bd.h"
#include "fake_dialogs.h"
#include "generator/run_state.h"

using pagiro::bd;

namespace {

bool gif_missing() { return false; }
bool gif_present() { return true; }

// What Tab or a click on another control delivers to the box being left.
void leave(QWidget* box) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box, &out);
}

QString estimate_for(bd& w, int characters) {
    w.set_source_text(QString(characters, QChar(u'字')));
    return w.v_1->text();
}

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT
    FakeDialogs dialogs;
    std::unique_ptr<bd> w;
    QTemporaryDir dir;

    QString write_file(const QString& name, const QByteArray& bytes) {
        QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return QString();
        f.write(bytes);
        return path;
    }

private slots:
    void init() {
        pagiro::mk::runflag = 0;
        pagiro::set_gif_check(gif_present);
        dialogs = FakeDialogs{};
        w = std::make_unique<bd>(&dialogs);
    }
    void cleanup() {
        w.reset();
        pagiro::set_gif_check(nullptr);
    }

    void validation_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("height below 20") << "c_tg" << "19" << "110";
        QTest::newRow("height 20 kept") << "c_tg" << "20" << "20";
        QTest::newRow("height fraction") << "c_tg" << "20.9" << "20";
        QTest::newRow("height letters") << "c_tg" << "abc" << "110";
        QTest::newRow("height empty") << "c_tg" << "" << "110";
        QTest::newRow("height negative") << "c_tg" << "-30" << "110";
        QTest::newRow("height blanks around") << "c_tg" << " 300 " << "300";
        QTest::newRow("width below 20") << "c_tk" << "19" << "128";
        QTest::newRow("width fraction") << "c_tk" << "200.99" << "200";
        QTest::newRow("width letters") << "c_tk" << "12a" << "128";
        QTest::newRow("width negative") << "c_tk" << "-30" << "128";
        QTest::newRow("font negative fraction") << "c_fontsize" << "-12.7" << "12";
        QTest::newRow("font zero") << "c_fontsize" << "0" << "0";
        QTest::newRow("font letters") << "c_fontsize" << "big" << "9";
        QTest::newRow("first page negative") << "c_qm" << "-3" << "3";
        QTest::newRow("first page fraction") << "c_qm" << "2.5" << "2";
        QTest::newRow("first page 32767") << "c_qm" << "32767.9" << "32767";
        QTest::newRow("first page above 16 bits") << "c_qm" << "32768" << "1";
        QTest::newRow("first page far below") << "c_qm" << "-40000" << "1";
        QTest::newRow("first page letters") << "c_qm" << "x" << "1";
        QTest::newRow("per volume zero") << "zdfj1" << "0" << "1";
        QTest::newRow("per volume half") << "zdfj1" << "0.5" << "1";
        QTest::newRow("per volume fraction") << "zdfj1" << "3.9" << "3";
        QTest::newRow("per volume letters") << "zdfj1" << "--" << "1";
        QTest::newRow("per volume huge") << "zdfj1" << "1e20" << "1e+20";
        QTest::newRow("colour letters") << "c_bjcolor" << "white" << "16777215";
        QTest::newRow("colour above 24 bits") << "c_bjcolor" << "16777216" << "16777215";
        QTest::newRow("colour negative") << "c_bjcolor" << "-1" << "16777215";
        QTest::newRow("colour fraction") << "c_bjcolor" << "255.5" << "16777215";
        QTest::newRow("colour leading zeros") << "c_bjcolor" << " 0255" << "255";
        // As an input method types them: full-width digits, thousands grouped.
        QTest::newRow("width full-width") << "c_tk" << "２４０" << "240";
        QTest::newRow("height grouped") << "c_tg" << "1,000" << "1000";
        QTest::newRow("font full-width fraction") << "c_fontsize" << "１０．５" << "10";
        QTest::newRow("first page full-width grouped") << "c_qm" << "１２，３４５" << "12345";
        QTest::newRow("first page badly grouped") << "c_qm" << "1,5" << "1";
        QTest::newRow("per volume full-width") << "zdfj1" << "１２０" << "120";
        QTest::newRow("colour grouped") << "c_bjcolor" << "16,777,215" << "16777215";
    }
    void validation() {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QWidget* target = w->findChild<QWidget*>(box);
        QVERIFY(target);
        if (auto* combo = qobject_cast<QComboBox*>(target)) {
            combo->setEditText(typed);
            leave(combo);
            QCOMPARE(combo->currentText(), kept);
        } else {
            auto* edit = qobject_cast<QLineEdit*>(target);
            QVERIFY(edit);
            edit->setText(typed);
            leave(edit);
            QCOMPARE(edit->text(), kept);
        }
    }

    // Only a real move of the focus validates; the window losing it does not.
    void validation_follows_focus_moves() {
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->c_tg->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(w->c_tg->hasFocus());
        w->c_tg->setText(QStringLiteral("19"));
        QTest::keyClick(w->c_tg, Qt::Key_Tab);
        QTRY_COMPARE(w->c_tg->text(), QStringLiteral("110"));

        w->c_tk->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(w->c_tk->hasFocus());
        w->c_tk->setText(QStringLiteral("77.7"));
        QTest::mouseClick(w->c_qm, Qt::LeftButton);
        QTRY_VERIFY(w->c_qm->hasFocus());
        QCOMPARE(w->c_tk->text(), QStringLiteral("77"));

        // A typed size stays what was typed: no completion from the list.
        w->c_fontsize->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(w->c_fontsize->hasFocus());
        w->c_fontsize->clearEditText();
        QTest::keyClicks(w->c_fontsize, QStringLiteral("1"));
        QTest::keyClick(w->c_fontsize, Qt::Key_Tab);
        QTRY_VERIFY(!w->c_fontsize->hasFocus());
        QCOMPARE(w->c_fontsize->currentText(), QStringLiteral("1"));
        QCOMPARE(w->c_fontsize->count(), 7);

        w->c_qm->setText(QStringLiteral("-5"));
        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(w->c_qm, &away);
        QCOMPARE(w->c_qm->text(), QStringLiteral("-5"));
    }

    // Tab walks the boxes in the layout's order (so leaving each one validates it);
    // the colour boxes and the disabled volumes box are skipped.
    void tab_order() {
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->s_text->setFocus();
        QTRY_VERIFY(w->s_text->hasFocus());
        QStringList seen;
        for (int i = 0; i < 17; ++i) {
            QWidget* f = QApplication::focusWidget();
            QVERIFY(f);
            seen << f->objectName();
            QTest::keyClick(f, Qt::Key_Tab);
        }
        QCOMPARE(seen.join(u' '), QStringLiteral("s_text sf_file sf_read qckh c_fjqz c_qm c_tk c_tg c_font c_fontsize "
                                                 "c_bjtp c_bjtpr c_ml c_mlr startok v_tpks zdfj"));
        QCOMPARE(QApplication::focusWidget(), w->s_text);
        QVERIFY(!w->text(pagiro::Setting::s_text).contains(u'\t'));
    }

    void which_exits_recompute_the_estimate() {
        w->set_source_text(QString(1000, QChar(u'a')));
        QCOMPARE(w->v_1->text(), QStringLiteral("预计12页"));
        const QString marker = QStringLiteral("marker");
        for (QWidget* quiet : std::initializer_list<QWidget*>{w->c_qm, w->zdfj1, w->c_bjcolor}) {
            w->v_1->setText(marker);
            leave(quiet);
            QVERIFY2(w->v_1->text() == marker, qPrintable(quiet->objectName()));
        }
        for (QWidget* sizing : std::initializer_list<QWidget*>{w->c_tg, w->c_tk, w->c_fontsize}) {
            w->v_1->setText(marker);
            leave(sizing);  // the text was already valid
            QVERIFY2(w->v_1->text() == QStringLiteral("预计12页"), qPrintable(sizing->objectName()));
        }
        // Choosing 10 from the list: em = 13.33, 7 lines of 9 characters.
        w->v_1->setText(marker);
        w->c_fontsize->setFocus();
        QTest::keyClick(w->c_fontsize, Qt::Key_Down);
        QCOMPARE(w->c_fontsize->currentText(), QStringLiteral("10"));
        QCOMPARE(w->v_1->text(), QStringLiteral("预计15页"));
    }

    void estimate_examples() {
        QCOMPARE(w->v_1->text(), QStringLiteral("预计1页"));
        QCOMPARE(estimate_for(*w, 0), QStringLiteral("预计1页"));
        QCOMPARE(estimate_for(*w, 79), QStringLiteral("预计1页"));
        QCOMPARE(estimate_for(*w, 80), QStringLiteral("预计1页"));
        QCOMPARE(estimate_for(*w, 160), QStringLiteral("预计2页"));
        QCOMPARE(estimate_for(*w, 239), QStringLiteral("预计2页"));
        QCOMPARE(estimate_for(*w, 1000), QStringLiteral("预计12页"));
        // 81 one-character lines: 81 characters and 80 line breaks of two each.
        QStringList lines;
        for (int i = 0; i < 81; ++i) lines << QStringLiteral("x");
        w->set_source_text(lines.join(QStringLiteral("\r\n")));
        QCOMPARE(w->v_1->text(), QStringLiteral("预计3页"));
    }

    void estimate_follows_the_page_size() {
        w->set_source_text(QString(30, QChar(u'a')));
        QCOMPARE(w->v_1->text(), QStringLiteral("预计1页"));
        w->c_tg->setText(QStringLiteral("20"));  // one line of 10 per page
        leave(w->c_tg);
        QCOMPARE(w->v_1->text(), QStringLiteral("预计3页"));
        w->c_tk->setText(QStringLiteral("64"));  // 5 per line
        leave(w->c_tk);
        QCOMPARE(w->v_1->text(), QStringLiteral("预计6页"));
    }

    void estimate_when_nothing_fits() {
        w->set_source_text(QStringLiteral("正文"));
        w->c_fontsize->setEditText(QStringLiteral("0"));
        leave(w->c_fontsize);
        QCOMPARE(w->v_1->text(), QStringLiteral("页面放不下文字"));
        w->c_fontsize->setEditText(QStringLiteral("13"));
        w->c_tk->setText(QStringLiteral("20"));
        leave(w->c_tk);
        QCOMPARE(w->v_1->text(), QStringLiteral("页面放不下文字"));
        w->c_tk->setText(QStringLiteral("128"));
        leave(w->c_tk);
        QCOMPARE(w->v_1->text(), QStringLiteral("预计1页"));
    }

    void volumes_box_follows_its_check_and_the_run() {
        QVERIFY(!w->zdfj1->isEnabled());
        QTest::mouseClick(w->zdfj, Qt::LeftButton, {}, QPoint(6, w->zdfj->height() / 2));
        QVERIFY(w->zdfj->isChecked());
        QVERIFY(w->zdfj1->isEnabled());

        pagiro::mk::runflag = -1;
        w->playandstop(false);
        QVERIFY(!w->zdfj1->isEnabled());
        pagiro::mk::runflag = 0;
        w->playandstop(true);
        QVERIFY(w->zdfj1->isEnabled());

        QTest::mouseClick(w->zdfj, Qt::LeftButton, {}, QPoint(6, w->zdfj->height() / 2));
        QVERIFY(!w->zdfj->isChecked());
        QVERIFY(!w->zdfj1->isEnabled());
        w->playandstop(true);
        QVERIFY(!w->zdfj1->isEnabled());
    }

    void colour_pickers() {
        const QColor before_base = w->s_text->palette().color(QPalette::Base);
        const QColor before_text = w->s_text->palette().color(QPalette::Text);
        QTest::mouseDClick(w->c_bjcolor, Qt::LeftButton);
        QTest::mouseDClick(w->c_wzcolor, Qt::LeftButton);
        QCOMPARE(w->c_bjcolor->text(), QStringLiteral("16777215"));
        QCOMPARE(w->c_wzcolor->text(), QStringLiteral("0"));
        QCOMPARE(w->s_text->palette().color(QPalette::Base), before_base);
        QCOMPARE(w->s_text->palette().color(QPalette::Text), before_text);
        QCOMPARE(w->c_bjcolor->palette().color(QPalette::Base), QColor(Qt::white));

        const QColor chosen(0x12, 0x34, 0x56);
        dialogs.colour = chosen;
        QTest::mouseDClick(w->c_bjcolor, Qt::LeftButton);
        QCOMPARE(w->c_bjcolor->text(), QString::number(0x563412));  // red in the low byte
        QCOMPARE(w->c_bjcolor->palette().color(QPalette::Base), chosen);
        QCOMPARE(w->c_bjcolor->palette().color(QPalette::Text), chosen);
        QCOMPARE(w->s_text->palette().color(QPalette::Base), chosen);
        QCOMPARE(w->s_text->palette().color(QPalette::Text), before_text);

        const QColor ink(200, 0, 10);
        dialogs.colour = ink;
        QTest::mouseDClick(w->c_wzcolor, Qt::LeftButton);
        QCOMPARE(w->c_wzcolor->text(), QString::number(10 << 16 | 200));
        QCOMPARE(w->c_wzcolor->palette().color(QPalette::Base), ink);
        QCOMPARE(w->c_wzcolor->palette().color(QPalette::Text), ink);
        QCOMPARE(w->s_text->palette().color(QPalette::Text), ink);
        QCOMPARE(w->s_text->palette().color(QPalette::Base), chosen);

        dialogs.colour = QColor(Qt::black);  // black is a choice, not a cancel
        QTest::mouseDClick(w->c_bjcolor, Qt::LeftButton);
        QCOMPARE(w->c_bjcolor->text(), QStringLiteral("0"));
        QCOMPARE(w->s_text->palette().color(QPalette::Base), QColor(Qt::black));
        QVERIFY(dialogs.messages.isEmpty());
    }

    void typed_background_colour_shows_on_leaving() {
        w->c_bjcolor->setText(QStringLiteral("255"));
        leave(w->c_bjcolor);
        QCOMPARE(w->c_bjcolor->palette().color(QPalette::Base), QColor(255, 0, 0));
        QCOMPARE(w->s_text->palette().color(QPalette::Base), QColor(255, 0, 0));
        w->c_bjcolor->setText(QStringLiteral("red"));
        leave(w->c_bjcolor);
        QCOMPARE(w->c_bjcolor->text(), QStringLiteral("16777215"));
        QCOMPARE(w->s_text->palette().color(QPalette::Base), QColor(Qt::white));
    }

    void picture_picker() {
        dialogs.file = QStringLiteral("/pictures/paper.jpg");
        QTest::mouseClick(w->c_bjtpr, Qt::LeftButton);
        QCOMPARE(w->c_bjtp->text(), QStringLiteral("/pictures/paper.jpg"));
        QCOMPARE(dialogs.file_titles.last(), QStringLiteral("请选择要作为背景的图片"));
        QVERIFY(dialogs.file_filters.last().startsWith(QStringLiteral("所有图片文件(*.jpg,*.bmp,*.gif)")));
        QVERIFY(dialogs.file_filters.last().endsWith(QStringLiteral("(*.jpg *.bmp *.gif)")));

        dialogs.file.reset();
        QTest::mouseClick(w->c_bjtpr, Qt::LeftButton);
        QVERIFY(w->c_bjtp->text().trimmed().isEmpty());
    }

    void folder_picker() {
        const QString before = w->c_ml->text();
        QVERIFY(!before.isEmpty());
        QTest::mouseClick(w->c_mlr, Qt::LeftButton);
        QCOMPARE(w->c_ml->text(), before);
        dialogs.folder = QStringLiteral("/books/out");
        QTest::mouseClick(w->c_mlr, Qt::LeftButton);
        QCOMPARE(w->c_ml->text(), QStringLiteral("/books/out"));
    }

    void format_check_without_gif() {
        w.reset();
        dialogs = FakeDialogs{};
        pagiro::set_gif_check(gif_missing);
        w = std::make_unique<bd>(&dialogs);
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("GIF生成组件尚未安装,不能使用gif格式!"));
        QCOMPARE(dialogs.messages[0].title, QStringLiteral("电子书系统错误提示"));
        QCOMPARE(w->v_tpks->currentText(), QStringLiteral(".jpg"));

        w->v_tpks->setCurrentIndex(w->v_tpks->findText(QStringLiteral(".bmp")));
        QCOMPARE(dialogs.messages.size(), 1);
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(QStringLiteral(".gif")));
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(w->v_tpks->currentText(), QStringLiteral(".jpg"));
    }

    void format_check_with_gif() {
        QCOMPARE(w->v_tpks->currentText(), QStringLiteral(".gif"));
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(QStringLiteral(".bmp")));
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(QStringLiteral(".gif")));
        QCOMPARE(w->v_tpks->currentText(), QStringLiteral(".gif"));
        QVERIFY(dialogs.messages.isEmpty());
    }

    void loading_files_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("encoding");
        const QString text = QStringLiteral("中文测试\r\n第二行");
        // "中文测试" and a line break, then "第二行".
        QTest::newRow("gbk") << QByteArray("\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4\r\n\xB5\xDA\xB6\xFE\xD0\xD0") << text << "GBK";
        QTest::newRow("utf-8") << QByteArray("\xE4\xB8\xAD\xE6\x96\x87\xE6\xB5\x8B\xE8\xAF\x95\r\n"
                                             "\xE7\xAC\xAC\xE4\xBA\x8C\xE8\xA1\x8C")
                               << text << "UTF-8";
        QTest::newRow("utf-8 with bom") << QByteArray("\xEF\xBB\xBF\xE4\xB8\xAD\xE6\x96\x87\xE6\xB5\x8B\xE8\xAF\x95\r\n"
                                                      "\xE7\xAC\xAC\xE4\xBA\x8C\xE8\xA1\x8C")
                                        << text << "UTF-8";
        QTest::newRow("gbk, LF") << QByteArray("\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4\n\xB5\xDA\xB6\xFE\xD0\xD0") << text << "GBK";
        QTest::newRow("gbk, CR") << QByteArray("\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4\r\xB5\xDA\xB6\xFE\xD0\xD0") << text << "GBK";
        // "小学同学", "小说": every character's GBK bytes are also a UTF-8 sequence.
        QTest::newRow("gbk that is valid utf-8") << QByteArray("\xD0\xA1\xD1\xA7\xCD\xAC\xD1\xA7\r\n\xD0\xA1\xCB\xB5")
                                                 << QStringLiteral("小学同学\r\n小说") << "GBK";
        QTest::newRow("big5") << QByteArray("\xA4\xA4\xA4\xE5\xB4\xFA\xB8\xD5\r\n\xB2\xC4\xA4\x47\xA6\xE6")
                              << QStringLiteral("中文測試\r\n第二行") << "Big5";
        QTest::newRow("utf-16le without bom")
            << QByteArray("\x2D\x4E\x87\x65\x4B\x6D\xD5\x8B\x0D\x00\x0A\x00\x2C\x7B\x8C\x4E\x4C\x88", 18) << text
            << "UTF-16LE";
        QTest::newRow("utf-16be with bom")
            << QByteArray("\xFE\xFF\x4E\x2D\x65\x87\x6D\x4B\x8B\xD5\x00\x0D\x00\x0A\x7B\x2C\x4E\x8C\x88\x4C", 20) << text
            << "UTF-16BE";
        QTest::newRow("gb18030 with bom")
            << QByteArray("\x84\x31\x95\x33\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4\r\n\xB5\xDA\xB6\xFE\xD0\xD0") << text
            << "GB18030";
    }
    void loading_files() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(QString, encoding);
        QGuiApplication::clipboard()->setText(QStringLiteral("what the user copied"));
        const QString path = write_file(QStringLiteral("novel.txt"), bytes);
        QVERIFY(!path.isEmpty());
        dialogs.file = path;
        QTest::mouseClick(w->sf_read, Qt::LeftButton);

        QCOMPARE(w->text(pagiro::Setting::s_text), text);
        QCOMPARE(w->s_text->toPlainText(), QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QCOMPARE(w->source_length(), text.size());
        QCOMPARE(w->sf_file->text(), QDir::toNativeSeparators(path));
        QCOMPARE(w->sf_file->toolTip(), QStringLiteral("文本编码：%1(自动识别)").arg(encoding));
        QCOMPARE(dialogs.file_titles.last(), QStringLiteral("请选择要转换的电子书源文件(txt文件)"));
        QCOMPARE(dialogs.file_filters.last(), QStringLiteral("文本文件(*.txt)"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("what the user copied"));
        QVERIFY(dialogs.messages.isEmpty());
    }

    // Devices, pipes and system files are refused with a message; the window stays.
    void loading_what_is_not_a_file() {
        const QString before = w->text(pagiro::Setting::s_text);
        const QString pipe = dir.filePath(QStringLiteral("pipe.txt"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QStringList sources{QStringLiteral("/dev/zero"), QStringLiteral("/proc/self/mem"), pipe};
        for (const QString& source : sources) {
            dialogs.file = source;
            QTest::mouseClick(w->sf_read, Qt::LeftButton);
            QCOMPARE(dialogs.messages.size(), 1);
            QCOMPARE(dialogs.messages[0].text,
                     QStringLiteral("文件无法读取：\n%1\n这不是普通文件(设备、管道或系统文件),不能读取。").arg(source));
            QCOMPARE(dialogs.messages[0].title, QStringLiteral("电子书系统错误提示"));
            dialogs.messages.clear();
            QCOMPARE(w->text(pagiro::Setting::s_text), before);
            QVERIFY(w->sf_file->text().isEmpty());
        }
    }

    void loading_replaces_the_text_and_updates_the_estimate() {
        w->set_source_text(QStringLiteral("old text that must go"));
        dialogs.file = write_file(QStringLiteral("long.txt"), QByteArray(1000, 'a'));
        QTest::mouseClick(w->sf_read, Qt::LeftButton);
        QCOMPARE(w->text(pagiro::Setting::s_text), QString(1000, QChar(u'a')));
        QCOMPARE(w->v_1->text(), QStringLiteral("预计12页"));

        dialogs.file = write_file(QStringLiteral("empty.txt"), QByteArray());
        QTest::mouseClick(w->sf_read, Qt::LeftButton);
        QVERIFY(w->text(pagiro::Setting::s_text).isEmpty());
        QCOMPARE(w->v_1->text(), QStringLiteral("预计1页"));
        QCOMPARE(w->sf_file->text(), QDir::toNativeSeparators(dialogs.file.value()));
    }

    void loading_fails_without_harm() {
        QGuiApplication::clipboard()->setText(QStringLiteral("keep"));
        const QString before = w->text(pagiro::Setting::s_text);
        const QString missing = dir.filePath(QStringLiteral("no such novel.txt"));
        dialogs.file = missing;
        QTest::mouseClick(w->sf_read, Qt::LeftButton);
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("找不到文件")));
        QVERIFY(dialogs.messages[0].text.contains(QDir::toNativeSeparators(missing)));
        QVERIFY(!QFile::exists(missing));
        QCOMPARE(w->text(pagiro::Setting::s_text), before);
        QVERIFY(w->sf_file->text().isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("keep"));

        const QString folder = dir.filePath(QStringLiteral("folder.txt"));
        QVERIFY(QDir().mkpath(folder));
        dialogs.file = folder;
        QTest::mouseClick(w->sf_read, Qt::LeftButton);
        QCOMPARE(dialogs.messages.size(), 2);
        QVERIFY(dialogs.messages[1].text.contains(QStringLiteral("文件无法读取")));
        QCOMPARE(w->text(pagiro::Setting::s_text), before);
        QVERIFY(w->sf_file->text().isEmpty());

        dialogs.file.reset();  // cancelled
        QTest::mouseClick(w->sf_read, Qt::LeftButton);
        QCOMPARE(w->text(pagiro::Setting::s_text), before);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("keep"));
    }
};

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
