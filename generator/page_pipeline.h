#pragma once
// Pages are independent once drawn: the run draws each page on its own thread and
// hands a copy to this pipeline, whose workers encode pages side by side and
// write the files strictly in page order (players list pictures in the order the
// files were made). The pages in flight are bounded in number and in bytes, so
// memory grows neither with the book nor with the page size; one page is always let
// through, however large. Workers that cannot be started (a process limit) leave
// fewer; with none, the calling thread encodes and writes each page itself.
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
    // Starts a worker; throws std::system_error when the system will not.
    using StartThread = std::function<std::thread(std::function<void()>)>;

    static constexpr std::size_t kNoByteBound = std::size_t(-1);

    explicit PagePipeline(unsigned workers = default_workers(), std::size_t max_in_flight = 32,
                          std::size_t max_bytes_in_flight = kNoByteBound, const StartThread& start = {});
    ~PagePipeline();
    PagePipeline(const PagePipeline&) = delete;
    PagePipeline& operator=(const PagePipeline&) = delete;

    // Queues a page that holds `bytes` of memory until it is written; waits while
    // too many pages or bytes are in flight. Throws the first failure of an earlier
    // page, after which nothing more is written.
    void submit(Encode encode, std::size_t bytes = 0);
    // Waits until a page of `bytes` would be let in at once, so that the caller can
    // make the page's copy only then. Throws as submit does.
    void wait_for_room(std::size_t bytes);
    // Waits until every queued page is written; throws the first failure.
    void finish();

    // True once a page has failed: from then on nothing more is written, so the
    // run draws no further page. Cheap enough to ask before every character.
    bool failed() const { return failed_.load(std::memory_order_relaxed); }
    // Pages written so far; they are the first ones handed over, in order.
    std::uint64_t written() const;

    static unsigned default_workers();
    // The workers that did start.
    unsigned workers() const { return unsigned(threads_.size()); }

private:
    struct Job {
        std::uint64_t seq;
        std::size_t bytes;
        Encode encode;
    };
    // An encoded page waiting for its turn to be written.
    struct Encoded {
        Write write;
        std::exception_ptr error;
        std::size_t bytes = 0;
    };
    void work();
    // Without workers: the page is encoded and written before submit returns.
    void encode_and_write_here(Encode& encode);
    // With the lock held: writes every page whose turn has come, unless another
    // thread is already doing so.
    void write_ready(std::unique_lock<std::mutex>& lock);
    void throw_failure();  // with the lock held
    void wait_for_room(std::unique_lock<std::mutex>& lock, std::size_t bytes);
    // With the lock held: whether a page of `bytes` may be handed over now, and
    // whether the run, once it had to wait, may go on (the pipeline has drained to
    // half, so that it is woken once per several pages rather than once per page).
    bool has_room(std::size_t bytes) const;
    bool has_drained(std::size_t bytes) const;

    mutable std::mutex mutex_;
    // Separate wake-ups, so that a page handed over wakes one worker and the run
    // waits for room.
    std::condition_variable work_;
    std::condition_variable room_;
    std::deque<Job> queue_;
    // Workers asleep for want of pages, and whether the run sleeps for want of
    // room (with the bytes of the page it holds). Wake-ups are sent only to those
    // who sleep and only when there is enough for them to do: on two cores, a
    // wake-up per page cost more than a tiny page's encoding.
    unsigned idle_workers_ = 0;
    bool room_wanted_ = false;
    std::size_t room_bytes_ = 0;
    // Encoded pages by sequence number modulo the number in flight. A worker that
    // finishes a page out of turn leaves it here and takes the next page instead of
    // waiting; whoever finishes the page whose turn it is writes the run of ready ones.
    std::vector<std::optional<Encoded>> ready_;
    bool writing_ = false;
    std::uint64_t next_seq_ = 0;
    std::uint64_t next_write_ = 0;
    std::size_t in_flight_ = 0;
    std::size_t max_in_flight_;
    std::size_t bytes_in_flight_ = 0;
    std::size_t max_bytes_in_flight_;
    bool closing_ = false;
    std::uint64_t written_ = 0;
    std::optional<RunFailure> failure_;
    std::atomic<bool> failed_{false};
    std::vector<std::thread> threads_;
};

}  // namespace pagiro
