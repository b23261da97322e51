#include "app/preview.h"

#include <QTextBlock>
#include <QTextDocument>
#include <climits>

#include "generator/page_maker.h"
#include "generator/settings.h"
#include "app/source_text.h"

namespace pagiro {
namespace {

// Typing that comes faster than this is taken together.
constexpr int kQuietMs = 50;
// Work on the window's thread that a typist would feel.
constexpr qint64 kCostlyMs = 15;
// Up to this many characters the text's beginning is read block by block.
constexpr qsizetype kBlockWalk = 256 * 1024;
// A page larger than this is not drawn for a look (the run may still make it).
constexpr qint64 kLargestPreviewPixels = 64LL << 20;

// The window's settings, but the source text left out: the settings are read
// without building the whole text, which the preview mostly does not need.
class SettingsOnly : public RunHost {
public:
    explicit SettingsOnly(const RunHost& host) : host_(host) {}
    QString text(Setting s) const override { return s == Setting::s_text ? QString() : host_.text(s); }
    bool checked(Check c) const override { return host_.checked(c); }
    PageOptions page_options() const override { return host_.page_options(); }
    bool clean_stale_pages() const override { return host_.clean_stale_pages(); }
    void playandstop(bool) override {}
    void show_progress(const RunProgress&) override {}
    void set_page_text(const QString&) override {}
    void finished(const RunSummary&) override {}
    void run_failed(const RunFailure&) override {}

private:
    const RunHost& host_;
};

// At most how many characters of the text a page can take, with room to spare:
// every column or em holding a narrow character, every line ending in a break.
qsizetype characters_per_page(const RunSettings& s) {
    double per_line = 0, lines = 0;
    if (s.layout == LayoutMode::classic) {
        per_line = 2 * s.style.cpl;
        lines = s.style.lpp;
    } else {
        const typeset::Style& style = s.typeset.style;
        const double em = std::max(1, style.font_pixels());
        per_line = 2 * style.box_width() / em;
        lines = style.box_height() / (em * std::max(0.5, style.line_spacing)) + 1;
    }
    return qsizetype(std::min(1e9, (per_line + 2) * lines));
}

// Line breaks and spaces as the source box's plain text gives them.
void append_plain(QString& out, const QString& block) {
    const qsizetype from = out.size();
    out += block;
    for (qsizetype k = from; k < out.size(); ++k) {
        const char16_t c = out[k].unicode();
        if (c == QChar::Nbsp) out[k] = u' ';
        else if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == 0xFDD0 || c == 0xFDD1) {
            out[k] = u'\r';
            out.insert(++k, u'\n');
        }
    }
}

}  // namespace

class PreviewWorker : public QObject {
public:
    PreviewWorker(Preview* preview, std::shared_ptr<std::atomic<quint64>> latest)
        : preview_(preview), latest_(std::move(latest)) {}

    // Runs on the preview's thread.
    void make(RunSettings settings, bool whole_text, int number, quint64 generation) {
        const auto latest = latest_;
        const auto going = [latest, generation] { return latest->load() == generation; };
        if (!going()) return;
        PreviewPage shown;
        bool settled = true;
        try {
            if (maker_)
                maker_->adopt(std::move(settings), whole_text);
            else
                maker_ = std::make_unique<PageMaker>(std::move(settings), whole_text);
            std::optional<MadePage> made = maker_->page(number, going);
            if (!going()) return;
            if (made) {
                shown.image = std::move(made->image);
                shown.number = made->number;
                shown.last = made->last;
                settled = made->settled;
            } else {
                settled = whole_text;
                shown.message = QStringLiteral("没有文字，不会生成页面。");
            }
        } catch (...) {
            maker_.reset();
            shown.message = to_run_failure(std::current_exception(), FailedIn::run).chinese;
        }
        Preview* preview = preview_;
        QMetaObject::invokeMethod(
            preview, [preview, generation, shown, settled] { preview->answer(generation, shown, settled); },
            Qt::QueuedConnection);
    }

private:
    Preview* preview_;
    std::shared_ptr<std::atomic<quint64>> latest_;
    std::unique_ptr<PageMaker> maker_;
};

Preview::Preview(const RunHost& host, const QTextDocument& source, QObject* parent)
    : QObject(parent), host_(host), source_(source), latest_(std::make_shared<std::atomic<quint64>>(0)) {
    worker_ = new PreviewWorker(this, latest_);
    worker_->moveToThread(&thread_);
    thread_.setObjectName(QStringLiteral("preview"));
    thread_.start();
    debounce_.setSingleShot(true);
    connect(&debounce_, &QTimer::timeout, this, &Preview::send);
    // An edit past the end of the beginning handed over leaves it as it is.
    connect(&source_, &QTextDocument::contentsChange, this, [this](int position, int, int) {
        source_edited_ = true;
        if (start_whole_ || position <= start_end_) start_valid_ = false;
    });
}

Preview::~Preview() {
    ++*latest_;  // the work under way stops at its next page
    thread_.quit();
    thread_.wait();
    delete worker_;
}

void Preview::changed() {
    // The first change after a quiet spell goes at once (with whatever else the
    // same event changes); typing goes when it pauses. Where handing the text
    // over takes the window's thread a while (a page far into a long novel),
    // typing always waits for the pause, and a longer one.
    const bool quiet = !since_change_.isValid() || since_change_.elapsed() >= kQuietMs;
    since_change_.start();
    const bool costly = source_edited_ && build_ms_ > kCostlyMs;
    debounce_.start(costly ? std::max<qint64>(kQuietMs, 3 * build_ms_) : quiet ? 0 : kQuietMs);
}

void Preview::show_page(int number) {
    page_ = std::max(1, number);
    debounce_.start(0);
}

void Preview::show_last_page() { show_page(INT_MAX); }

void Preview::send() { send_with(false); }

QString Preview::source_start(qsizetype wanted, bool& whole) {
    // A beginning far longer than needed (the pages shown were further on) is
    // made again in its short form: quicker to hand over after each edit.
    const bool too_long = start_.size() > 4 * wanted + kBlockWalk;
    if (!start_valid_ || too_long || (!start_whole_ && start_.size() < wanted)) {
        QElapsedTimer took;
        took.start();
        start_.clear();
        if (wanted <= kBlockWalk) {
            // A few pages' worth: block by block, as the box's plain text gives them.
            QTextBlock block = source_.begin();
            for (; block.isValid() && start_.size() < wanted; block = block.next()) {
                if (block != source_.begin()) start_ += QStringLiteral("\r\n");
                append_plain(start_, block.text());
                start_end_ = block.position() + block.length() - 1;
            }
            start_whole_ = !block.isValid();
        } else {
            // Far into the text the box's own plain text is quicker than its blocks.
            const QString plain = source_.toPlainText();
            const qsizetype cut = plain.indexOf(u'\n', std::min(wanted, plain.size()));
            start_whole_ = cut < 0;
            start_end_ = start_whole_ ? plain.size() : cut;
            start_ = crlf_lines(QStringView(plain).left(start_end_));
        }
        start_valid_ = true;
        build_ms_ = took.elapsed();
    }
    whole = start_whole_;
    return start_;
}

void Preview::send_with(bool whole_text) {
    source_edited_ = false;
    const quint64 generation = ++*latest_;
    pending_ = generation;
    RunSettings settings;
    try {
        SettingsOnly without_text(host_);
        settings = read_run_settings(without_text, {});
    } catch (...) {
        answer(generation, {QImage(), 0, false, to_run_failure(std::current_exception(), FailedIn::run).chinese}, true);
        return;
    }
    if (qint64(settings.width) * qint64(settings.height) > kLargestPreviewPixels) {
        answer(generation, {QImage(), 0, false, QStringLiteral("页面太大，无法预览。")}, true);
        return;
    }
    // The pages near the front need only the text's beginning; the last page and
    // a footer with the page count need all of it.
    const qsizetype length = source_.characterCount();
    const qint64 wanted = (qint64(std::min(page_, 1 << 20)) + 1) * characters_per_page(settings) + 4096;
    whole_text = whole_text || page_ == INT_MAX || footer_shows_total(settings) || wanted >= length / 2;
    if (whole_text) {
        QElapsedTimer took;
        took.start();
        settings.text = host_.text(Setting::s_text);
        build_ms_ = took.elapsed();
    } else {
        settings.text = source_start(qsizetype(wanted), whole_text);
    }
    QMetaObject::invokeMethod(
        worker_,
        [worker = worker_, settings = std::move(settings), whole_text, number = page_, generation]() mutable {
            worker->make(std::move(settings), whole_text, number, generation);
        },
        Qt::QueuedConnection);
}

void Preview::answer(quint64 generation, const PreviewPage& page, bool settled) {
    if (generation != pending_) return;  // a newer request is on its way
    if (!settled) {
        // The page sat at the end of the text's beginning: the rest may change it.
        send_with(true);
        return;
    }
    pending_ = 0;
    emit ready(page);
}

}  // namespace pagiro
