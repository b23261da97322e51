// The side panel: the classic window untouched while it is closed, the preview
// equal to the pages a run writes, and its settings reaching the run.
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "app/bd.h"
#include "app/preview.h"
#include "app/side_panel.h"
#include "../book/xtc_reader.h"
#include "fake_dialogs.h"
#include "generator/run_state.h"

using namespace pagiro;

namespace {

// Chapters and paragraphs enough for several pages of either layout, with a
// no-break space and a line separator, which the source box hands over as a
// plain space and a line break.
QString novel(int chapters) {
    QString t;
    for (int c = 1; c <= chapters; ++c) {
        t += QStringLiteral("第%1章　灯下的书\n\n（一）\u2028（二）\n").arg(c);
        for (int p = 0; p < 6; ++p)
            t += QStringLiteral("　　夜里的风吹过窗台，他把书翻到第%1页，读了一遍又一遍。abc\u00A0def，“好！”\n").arg(p + c);
    }
    return t;
}

}  // namespace

class PanelTest : public QObject {
    Q_OBJECT
    FakeDialogs* dialogs = nullptr;
    bd* w = nullptr;
    QTemporaryDir dir;

    SidePanel& panel() { return *w->panel; }

    // The preview's next answer, once nothing more is on its way.
    bool wait_for_preview() {
        QTest::qWait(1);
        return QTest::qWaitFor([&] { return !panel().preview->busy(); }, 10000);
    }
    QImage previewed(int page) {
        panel().page_number->setValue(page);
        if (!wait_for_preview()) return QImage();
        return panel().shown_page();
    }
    // The page files a run from the window writes, in page order.
    QStringList run(const QString& folder) {
        w->c_ml->setText(dir.filePath(folder));
        w->startok->click();
        QDir out(dir.filePath(folder));
        return out.entryList(QDir::Files, QDir::Name);
    }
    QImage written(const QString& folder, const QString& file, QImage::Format format) {
        return QImage(dir.filePath(folder + "/" + file)).convertToFormat(format);
    }

private slots:
    void init() {
        mk::runflag = 0;
        set_gif_check([] { return true; });
        dialogs = new FakeDialogs;
        w = new bd(dialogs);
        w->set_source_text(novel(4));
    }
    void cleanup() {
        delete w;
        delete dialogs;
        set_gif_check(nullptr);
    }

    void closed_it_leaves_the_classic_window_as_it_is() {
        QCOMPARE(w->size(), QSize(556, 397));
        QVERIFY(panel().isHidden());
        QToolButton* toggle = panel().toggle;
        QCOMPARE(toggle->focusPolicy(), Qt::NoFocus);
        QVERIFY(QRect(0, 0, 556, 397).contains(toggle->geometry()));
        for (QWidget* c : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (c != toggle && c != &panel())
                QVERIFY2(!c->geometry().intersects(toggle->geometry()), qPrintable(c->objectName()));
        const QRect text_box = w->s_text->geometry(), start = w->startok->geometry();

        toggle->click();
        QVERIFY(!panel().isHidden());
        QCOMPARE(w->height(), 397);
        QVERIFY(w->width() > 556);
        QCOMPARE(panel().geometry().left(), 556);
        QCOMPARE(w->s_text->geometry(), text_box);
        QCOMPARE(w->startok->geometry(), start);

        toggle->click();
        QVERIFY(panel().isHidden());
        QCOMPARE(w->size(), QSize(556, 397));
    }

    // Open, Tab goes on from the classic controls through the panel's and back.
    void tab_reaches_the_panel_after_the_classic_controls() {
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        panel().set_open(true);
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(".xtch"));  // a typeset book: every control in use
        w->s_text->setFocus();
        QTRY_VERIFY(w->s_text->hasFocus());
        QStringList seen;
        for (int i = 0; i < 39; ++i) {
            QWidget* f = QApplication::focusWidget();
            QVERIFY(f);
            seen << f->objectName();
            QTest::keyClick(f, Qt::Key_Tab);
        }
        QCOMPARE(seen.mid(16).join(u' '),
                 QStringLiteral("zdfj layout_mode device margin_left margin_right margin_top margin_bottom line_spacing "
                                "paragraph_spacing indent chapter_pages footer rendering ink_weight book_title "
                                "book_author clean first_page page_number last_page zoom view s_text"));
    }
    void every_panel_control_explains_itself_in_chinese() {
        int controls = 0;
        for (QWidget* c : panel().findChildren<QWidget*>()) {
            const bool input = qobject_cast<QAbstractButton*>(c) || qobject_cast<QComboBox*>(c) ||
                               qobject_cast<QAbstractSpinBox*>(c) || qobject_cast<QLineEdit*>(c) ||
                               qobject_cast<QScrollArea*>(c);
            // The line edit inside a spin box belongs to it.
            if (!input || qobject_cast<QAbstractSpinBox*>(c->parentWidget())) continue;
            ++controls;
            const QString tip = c->toolTip();
            QVERIFY2(!tip.isEmpty(), qPrintable(c->metaObject()->className()));
            QVERIFY2(std::any_of(tip.begin(), tip.end(), [](QChar ch) { return ch.unicode() >= 0x4E00 && ch.unicode() <= 0x9FFF; }),
                     qPrintable(tip));
        }
        QVERIFY(controls >= 20);
        QVERIFY(!panel().toggle->toolTip().isEmpty());
    }

    void the_format_list_keeps_the_classic_three_first() {
        QStringList items;
        for (int i = 0; i < w->v_tpks->count(); ++i) items << w->v_tpks->itemText(i);
        QCOMPARE(items.mid(0, 3), QStringList({".gif", ".jpg", ".bmp"}));
        QCOMPARE(items.mid(3), QStringList({".png", ".xtc", ".xtch", ".cbz"}));
        QCOMPARE(items.size(), QSet<QString>(items.begin(), items.end()).size());
        QCOMPARE(w->v_tpks->currentText(), QString(".gif"));
    }

    // Switching the layout brings the other layout's page where the boxes hold the
    // defaults, and leaves what the user typed; a typeset-only format switches too.
    void layouts_formats_and_devices() {
        panel().layout_mode->setCurrentIndex(1);
        QCOMPARE(w->c_tk->text(), QString("480"));
        QCOMPARE(w->c_tg->text(), QString("800"));
        QCOMPARE(w->c_fontsize->currentText(), QString("16"));
        QCOMPARE(w->v_tpks->currentText(), QString(".png"));
        QCOMPARE(w->page_options().layout, LayoutMode::typeset);
        QVERIFY(panel().margin_left->isEnabled());
        QVERIFY(panel().toggle->toolTip().contains("排版页面"));

        panel().layout_mode->setCurrentIndex(0);
        QCOMPARE(w->c_tk->text(), QString("128"));
        QCOMPARE(w->c_fontsize->currentText(), QString("9"));
        QCOMPARE(w->v_tpks->currentText(), QString(".gif"));
        QCOMPARE(w->page_options().layout, LayoutMode::classic);
        QVERIFY(!panel().margin_left->isEnabled());
        QVERIFY(!panel().toggle->toolTip().contains("排版页面"));

        w->c_tk->setText("300");
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(".png"));
        QCOMPARE(panel().layout_mode->currentIndex(), 1);
        QCOMPARE(w->c_tk->text(), QString("300"));

        QVERIFY(!panel().book_title->isEnabled());
        panel().device->setCurrentIndex(1);  // the first device: a 4-level e-ink reader that reads books
        QCOMPARE(w->c_tk->text(), QString("480"));
        QCOMPARE(w->c_tg->text(), QString("800"));
        QCOMPARE(w->page_options().typeset.grey_levels, 4);
        QCOMPARE(w->v_tpks->currentText(), QString(".xtch"));
        QVERIFY(panel().book_title->isEnabled());

        // A book is typeset when chosen, as on the command line, and may hold classic pages.
        panel().layout_mode->setCurrentIndex(0);
        QCOMPARE(w->v_tpks->currentText(), QString(".xtch"));
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(".cbz"));
        QCOMPARE(panel().layout_mode->currentIndex(), 1);
        panel().layout_mode->setCurrentIndex(0);
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(".jpg"));
        QCOMPARE(panel().layout_mode->currentIndex(), 0);
        QVERIFY(!panel().book_title->isEnabled());
        QVERIFY(dialogs->messages.isEmpty());
    }

    // The page estimate counts the pages of the layout the panel chooses.
    void the_estimate_follows_the_layout() {
        const auto pages = [&] { return w->v_1->text().remove("预计").remove("页").toInt(); };
        w->set_source_text(QString(46000, QChar(u'字')));
        // Not the typeset page's defaults, so that they stay when the layout changes.
        w->c_tk->setText("600");
        w->c_tg->setText("900");
        w->c_fontsize->setEditText("15");
        w->update_estimate();
        const int classic = pages();
        QVERIFY(classic > 1);
        panel().layout_mode->setCurrentIndex(1);
        const int typeset = pages();  // margins and a 1.5 line pitch: fewer characters a page
        QVERIFY2(typeset > classic, qPrintable(w->v_1->text()));
        panel().margin_left->setValue(200);
        QVERIFY(pages() > typeset);
        panel().margin_left->setValue(580);  // no room left beside the right margin
        QCOMPARE(w->v_1->text(), QString("页面放不下文字"));
        panel().layout_mode->setCurrentIndex(0);
        QCOMPARE(pages(), classic);
    }

    void the_panel_settings_reach_the_run() {
        panel().layout_mode->setCurrentIndex(1);
        panel().margin_left->setValue(30);
        panel().line_spacing->setValue(2);
        panel().indent->setValue(0);
        panel().chapter_pages->setChecked(false);
        panel().footer->setCurrentIndex(2);
        panel().rendering->setCurrentIndex(1);
        panel().ink_weight->setValue(1.5);
        panel().book_title->setText(" 灯下 ");
        panel().book_author->setText("某人");
        const PageOptions o = w->page_options();
        QCOMPARE(o.typeset.style.margin_left, 30);
        QCOMPARE(o.typeset.style.margin_right, -1);
        QCOMPARE(o.typeset.style.line_spacing, 2.0);
        QCOMPARE(o.typeset.style.indent_ems, 0.0);
        QVERIFY(!o.typeset.style.heading_new_page);
        QCOMPARE(o.typeset.style.footer, typeset::FooterKind::chapter_title);
        QVERIFY(o.typeset.mono);
        QCOMPARE(o.typeset.ink_weight, 1.5);
        QCOMPARE(o.book.title, QString("灯下"));
        QCOMPARE(o.book.author, QString("某人"));
        QVERIFY(!w->clean_stale_pages());
        panel().clean->setChecked(true);
        QVERIFY(w->clean_stale_pages());

        // The run writes typeset pages of that page size, and during it the panel is locked.
        bool locked = false;
        dialogs->on_message = [&](const FakeDialogs::Message&) { locked = !panel().margin_left->isEnabled(); };
        const QStringList files = run("typeset");
        QVERIFY(files.size() >= 2);
        QVERIFY(files[0].endsWith(".png"));
        QCOMPARE(QImage(dir.filePath("typeset/" + files[0])).size(), QSize(480, 800));
        QVERIFY(locked);
        QVERIFY(panel().margin_left->isEnabled());

        // A book takes its title as its name.
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(".xtch"));
        QCOMPARE(run("book"), QStringList{"灯下.xtch"});
    }

    void the_preview_is_the_page_the_run_writes_data() {
        QTest::addColumn<bool>("typeset");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("footer");
        QTest::addColumn<int>("chapters");
        QTest::newRow("classic bmp") << false << ".bmp" << 0 << 8;
        QTest::newRow("classic gif") << false << ".gif" << 0 << 8;
        QTest::newRow("typeset png") << true << ".png" << 0 << 8;
        QTest::newRow("typeset png, page count in the footer") << true << ".png" << 1 << 8;
        // Long enough that the pages near the front come from the text's beginning.
        QTest::newRow("classic bmp, long text") << false << ".bmp" << 0 << 150;
        QTest::newRow("typeset png, long text") << true << ".png" << 0 << 60;
    }
    void the_preview_is_the_page_the_run_writes() {
        QFETCH(bool, typeset);
        QFETCH(QString, format);
        QFETCH(int, footer);
        QFETCH(int, chapters);
        w->set_source_text(novel(chapters));
        panel().set_open(true);
        if (typeset) {
            panel().layout_mode->setCurrentIndex(1);
            w->c_tk->setText("240");
            w->c_tg->setText("320");
            w->c_fontsize->setEditText("12");
            panel().footer->setCurrentIndex(footer);
        }
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(format));
        w->c_wzcolor->setText("4210752");
        const QString out = QString::fromLatin1(QTest::currentDataTag());
        const QStringList files = run(out);
        QVERIFY2(files.size() >= 6, qPrintable(files.join(' ')));
        const QImage::Format as = typeset ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
        for (int page : {1, 2, 5, int(files.size())}) {
            const QImage shown = previewed(page).convertToFormat(as);
            QVERIFY2(!shown.isNull(), qPrintable(panel().picture->text()));
            QVERIFY2(shown == written(out, files[page - 1], as), qPrintable(QString::number(page)));
        }
        // The last page, found by laying out the whole text.
        panel().last_page->click();
        QVERIFY(wait_for_preview());
        QCOMPARE(panel().page_number->value(), int(files.size()));
        QVERIFY(panel().shown_page().convertToFormat(as) == written(out, files.last(), as));
        QVERIFY(panel().page_info->text().contains(QString::number(files.size())));
    }

    // A book's page is previewed in the greys the reader shows, and its text pages
    // are the book's pages after its contents pages.
    void a_books_preview_is_its_page_in_the_books_greys_data() {
        QTest::addColumn<QString>("format");
        QTest::newRow("xtc") << ".xtc";
        QTest::newRow("xtch") << ".xtch";
    }
    void a_books_preview_is_its_page_in_the_books_greys() {
        QFETCH(QString, format);
        w->set_source_text(novel(8));
        panel().set_open(true);
        w->v_tpks->setCurrentIndex(w->v_tpks->findText(format));
        QCOMPARE(panel().layout_mode->currentIndex(), 1);
        w->c_tk->setText("240");
        w->c_tg->setText("320");
        w->c_fontsize->setEditText("12");
        const QString out = QString::fromLatin1(QTest::currentDataTag());
        const QStringList files = run(out);
        QCOMPARE(files.size(), 1);
        const test::ReadBook book = test::read_xtc(dir.filePath(out + "/" + files[0]).toStdString());
        panel().last_page->click();
        QVERIFY(wait_for_preview());
        const int text_pages = panel().page_number->value();
        const int contents_pages = int(book.pages.size()) - text_pages;
        QVERIFY2(contents_pages >= 1, qPrintable(QString::number(contents_pages)));
        for (int page : {1, 2, 5, text_pages}) {
            const QImage shown = previewed(page).convertToFormat(QImage::Format_Grayscale8);
            const test::ReadPage& bound = book.pages[std::size_t(page == 1 ? 0 : page - 1 + contents_pages)];
            QCOMPARE(shown.size(), QSize(bound.width, bound.height));
            bool same = true;
            for (int y = 0; y < bound.height; ++y)
                same &= std::equal(bound.grey.begin() + y * bound.width, bound.grey.begin() + (y + 1) * bound.width,
                                   shown.constScanLine(y));
            QVERIFY2(same, qPrintable(QString::number(page)));
        }
    }

    void the_preview_follows_the_text_and_the_settings() {
        panel().set_open(true);
        QVERIFY(wait_for_preview());
        const QImage before = panel().shown_page();
        QVERIFY(!before.isNull());

        w->c_fontsize->setEditText("12");
        QVERIFY(wait_for_preview());
        const QImage bigger = panel().shown_page();
        QVERIFY(!bigger.isNull() && bigger != before);

        w->set_source_text(QStringLiteral("别的文字"));
        QVERIFY(wait_for_preview());
        const QImage other = panel().shown_page();
        QVERIFY(!other.isNull() && other != bigger);

        panel().layout_mode->setCurrentIndex(1);
        QVERIFY(wait_for_preview());
        const QImage typeset = panel().shown_page();
        QCOMPARE(typeset.size(), QSize(480, 800));
        panel().margin_left->setValue(100);
        QVERIFY(wait_for_preview());
        QVERIFY(panel().shown_page() != typeset);

        // Settings that make no page say why, with the run's own words.
        panel().margin_left->setValue(470);
        QVERIFY(wait_for_preview());
        QVERIFY(panel().shown_page().isNull());
        QVERIFY2(panel().picture->text().contains("排版设置无法使用") || panel().picture->text().contains("页面放不下文字"),
                 qPrintable(panel().picture->text()));
        panel().layout_mode->setCurrentIndex(0);
        w->c_tk->setText("20");
        w->c_fontsize->setEditText("40");
        QVERIFY(wait_for_preview());
        QVERIFY(panel().shown_page().isNull());
        QVERIFY2(panel().picture->text().startsWith("页面放不下文字"), qPrintable(panel().picture->text()));

        w->c_tk->setText("128");
        w->set_source_text(QString());
        QVERIFY(wait_for_preview());
        QVERIFY(panel().shown_page().isNull());
        QVERIFY(!panel().picture->text().isEmpty());
    }

    void a_file_dropped_on_the_panel_is_read_not_pasted() {
        QFile file(dir.filePath("dropped.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("拖进来的文字");
        file.close();
        panel().set_open(true);
        panel().layout_mode->setCurrentIndex(1);
        QMimeData data;
        // As a file manager offers it: the address as text too, which a line edit would paste.
        data.setUrls({QUrl::fromLocalFile(file.fileName())});
        data.setText(QUrl::fromLocalFile(file.fileName()).toString());
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel().book_title, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(panel().book_title, &drop);
        QCOMPARE(w->text(Setting::s_text), QString("拖进来的文字"));
        QVERIFY(panel().book_title->text().isEmpty());
    }

    // Paging on goes from where the layout got to; paging back and a closed panel
    // still give the right page.
    void paging_and_the_panel_closed() {
        w->set_source_text(novel(12));
        panel().set_open(true);
        const QImage third = previewed(3);
        const QImage tenth = previewed(10);
        QVERIFY(!third.isNull() && !tenth.isNull() && third != tenth);
        QVERIFY(previewed(3) == third);
        panel().set_open(false);
        w->c_fontsize->setEditText("10");
        QTest::qWait(120);
        QVERIFY(!panel().preview->busy());  // nothing is made while nobody looks
        panel().set_open(true);
        QVERIFY(wait_for_preview());
        QVERIFY(panel().shown_page() != third);
    }
};

QTEST_MAIN(PanelTest)
#include "panel_test.moc"
