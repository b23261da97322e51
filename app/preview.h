#pragma once
// The live preview: one page of the text as a run of the window's settings would
// write it, made on a thread of its own so that typing never waits for it. The
// settings are read on the window's thread and handed over as a value; a newer
// request supersedes an older one, which stops at its next page.
#include <QElapsedTimer>
#include <QObject>
#include <QImage>
#include <QString>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <memory>

#include "generator/host.h"

class QTextDocument;

namespace pagiro {

class PreviewWorker;

// What the preview shows: a page, or why there is none.
struct PreviewPage {
    QImage image;        // null when there is no page
    int number = 0;      // counted from 1
    bool last = false;   // the text ends with it
    QString message;     // why there is no page
};

class Preview : public QObject {
    Q_OBJECT
public:
    // `host` holds the settings (the window); `source` its source text box's
    // document, read from the start for the pages near the front.
    Preview(const RunHost& host, const QTextDocument& source, QObject* parent = nullptr);
    ~Preview() override;

    // Something the page depends on changed: the page is made again shortly
    // (at once after a quiet spell, else once the typing pauses).
    void changed();
    // Shows page `number` (from 1); past the end, the last page.
    void show_page(int number);
    void show_last_page();
    int page() const { return page_; }
    // Whether an answer is still to come.
    bool busy() const { return pending_ != 0 || debounce_.isActive(); }

signals:
    void ready(const pagiro::PreviewPage& page);

private:
    friend class PreviewWorker;
    void send();
    void send_with(bool whole_text);
    void answer(quint64 generation, const PreviewPage& page, bool settled);
    // The source text from its start, at least `wanted` characters of it (whole
    // lines, line breaks as CR LF), as the run reads it; the whole text when that
    // is all there is (`whole` then says so).
    QString source_start(qsizetype wanted, bool& whole);

    const RunHost& host_;
    const QTextDocument& source_;
    QThread thread_;
    PreviewWorker* worker_;
    std::shared_ptr<std::atomic<quint64>> latest_;
    quint64 pending_ = 0;   // the generation of the request not yet answered; 0 for none
    int page_ = 1;          // the page asked for; INT_MAX for the last
    QTimer debounce_;
    QElapsedTimer since_change_;
    // The beginning of the text last handed over, kept while the text is unchanged
    // so that the worker sees the same text and keeps its layout.
    QString start_;
    bool start_valid_ = false;
    bool start_whole_ = false;
    int start_end_ = 0;     // the document position just past its last character
    qint64 build_ms_ = 0;   // what handing the text over took the last time
    bool source_edited_ = false;  // since the last request
};

}  // namespace pagiro
