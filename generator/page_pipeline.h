#pragma once
// Pages are independent once drawn: the run draws each page on its own thread and
// hands a copy to this pipeline, whose workers encode pages side by side and
// write the files strictly in page order (players list pictures in the order the
// files were made). The number of pages in flight is bounded, so memory does not
// grow with the book.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "generator/run_failure.h"

namespace pagiro {

class PagePipeline {
public:
    // The part of a page that runs on a worker; it returns the part that writes the
    // file, which runs in page order. Either may throw (RunFailure, VbError, …).
    using Write = std::function<void()>;
    using Encode = std::function<Write()>;

    explicit PagePipeline(unsigned workers = default_workers(), std::size_t max_in_flight = 32);
    ~PagePipeline();
    PagePipeline(const PagePipeline&) = delete;
    PagePipeline& operator=(const PagePipeline&) = delete;

    // Queues a page; waits while too many are in flight. Throws the first failure
    // of an earlier page, after which nothing more is written.
    void submit(Encode encode);
    // Waits until every queued page is written; throws the first failure.
    void finish();

    // True once a page has failed: from then on nothing more is written, so the
    // run draws no further page. Cheap enough to ask before every character.
    bool failed() const { return failed_.load(std::memory_order_relaxed); }
    // Pages written so far; they are the first ones handed over, in order.
    std::uint64_t written() const;

    static unsigned default_workers();

private:
    struct Job {
        std::uint64_t seq;
        Encode encode;
    };
    // An encoded page waiting for its turn to be written.
    struct Encoded {
        Write write;
        std::exception_ptr error;
    };
    void work();
    // With the lock held: writes every page whose turn has come, unless another
    // thread is already doing so.
    void write_ready(std::unique_lock<std::mutex>& lock);
    void throw_failure();  // with the lock held

    mutable std::mutex mutex_;
    // Separate wake-ups, so that a page handed over wakes one worker and the run
    // waits for room.
    std::condition_variable work_;
    std::condition_variable room_;
    std::deque<Job> queue_;
    // Encoded pages by sequence number modulo the number in flight. A worker that
    // finishes a page out of turn leaves it here and takes the next page instead of
    // waiting; whoever finishes the page whose turn it is writes the run of ready ones.
    std::vector<std::optional<Encoded>> ready_;
    bool writing_ = false;
    std::uint64_t next_seq_ = 0;
    std::uint64_t next_write_ = 0;
    std::size_t in_flight_ = 0;
    std::size_t max_in_flight_;
    bool closing_ = false;
    std::uint64_t written_ = 0;
    std::optional<RunFailure> failure_;
    std::atomic<bool> failed_{false};
    std::vector<std::thread> threads_;
};

}  // namespace pagiro
