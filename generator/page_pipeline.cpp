#include "page_pipeline.h"

#include <algorithm>
#include <system_error>

namespace pagiro {
namespace {

// Most pages a worker takes from the queue at once.
constexpr std::size_t kBatch = 4;

}  // namespace

unsigned PagePipeline::default_workers() {
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 2 : std::min(n, 8u);
}

PagePipeline::PagePipeline(unsigned workers, std::size_t max_in_flight, std::size_t max_bytes_in_flight,
                           const StartThread& start)
    : ready_(std::max<std::size_t>(1, max_in_flight)),
      max_in_flight_(std::max<std::size_t>(1, max_in_flight)),
      max_bytes_in_flight_(max_bytes_in_flight) {
    // A worker that cannot be started is not an error: the run goes on with those
    // that did, or on the calling thread alone.
    threads_.reserve(std::max(1u, workers));
    for (unsigned k = 0; k < std::max(1u, workers); ++k) {
        try {
            threads_.push_back(start ? start([this] { work(); }) : std::thread([this] { work(); }));
        } catch (const std::system_error&) {
            break;
        }
    }
}

PagePipeline::~PagePipeline() {
    {
        std::unique_lock lock(mutex_);
        if (!queue_.empty()) work_.notify_all();
        room_.wait(lock, [this] { return in_flight_ == 0; });
        closing_ = true;
    }
    work_.notify_all();
    for (auto& t : threads_) t.join();
}

void PagePipeline::throw_failure() {
    if (failure_) throw *failure_;
}

void PagePipeline::submit(Encode encode, std::size_t bytes) {
    std::unique_lock lock(mutex_);
    if (threads_.empty()) {
        throw_failure();
        lock.unlock();
        encode_and_write_here(encode);
        return;
    }
    wait_for_room(lock, bytes);
    queue_.push_back(Job{next_seq_++, bytes, std::move(encode)});
    ++in_flight_;
    bytes_in_flight_ += bytes;
    // Sleeping workers are woken once a few pages wait for them; large pages, of
    // which only a few may be in flight, wake one at once.
    const std::size_t fitting = std::min(max_in_flight_, max_bytes_in_flight_ / std::max<std::size_t>(bytes, 1));
    const bool wake = idle_workers_ > 0 && queue_.size() >= std::clamp<std::size_t>(fitting / 8, 1, kBatch);
    lock.unlock();
    if (wake) work_.notify_one();
}

void PagePipeline::wait_for_room(std::size_t bytes) {
    std::unique_lock lock(mutex_);
    wait_for_room(lock, bytes);
}

bool PagePipeline::has_room(std::size_t bytes) const {
    if (failure_ || in_flight_ == 0) return true;
    return in_flight_ < max_in_flight_ && bytes_in_flight_ + bytes <= max_bytes_in_flight_;
}

bool PagePipeline::has_drained(std::size_t bytes) const {
    if (failure_ || in_flight_ == 0) return true;
    return in_flight_ <= max_in_flight_ / 2 && bytes_in_flight_ + bytes <= max_bytes_in_flight_;
}

void PagePipeline::wait_for_room(std::unique_lock<std::mutex>& lock, std::size_t bytes) {
    if (!has_room(bytes)) {
        // Every page waiting is taken up while the run sleeps.
        if (idle_workers_ > 0 && !queue_.empty()) work_.notify_all();
        room_wanted_ = true;
        room_bytes_ = bytes;
        room_.wait(lock, [&] { return has_drained(bytes); });
        room_wanted_ = false;
    }
    throw_failure();
}

void PagePipeline::encode_and_write_here(Encode& encode) {
    try {
        Write write = encode();
        encode = nullptr;
        write();
        std::lock_guard lock(mutex_);
        ++written_;
    } catch (...) {
        std::lock_guard lock(mutex_);
        failure_ = to_run_failure(std::current_exception(), FailedIn::page);
        failed_.store(true, std::memory_order_relaxed);
    }
}

void PagePipeline::finish() {
    std::unique_lock lock(mutex_);
    if (!queue_.empty()) work_.notify_all();
    room_.wait(lock, [this] { return in_flight_ == 0; });
    throw_failure();
}

std::uint64_t PagePipeline::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

void PagePipeline::work() {
    std::unique_lock lock(mutex_);
    std::vector<Job> jobs;
    std::vector<Encoded> done;
    for (;;) {
        ++idle_workers_;
        work_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        --idle_workers_;
        if (queue_.empty()) return;
        // A few pages at once when many wait, so that the lock is taken once for
        // them; never so many that the other workers stand idle.
        const std::size_t take =
            std::clamp<std::size_t>(queue_.size() / std::max<std::size_t>(threads_.size(), 1), 1, kBatch);
        for (std::size_t k = 0; k < take; ++k) {
            jobs.push_back(std::move(queue_.front()));
            queue_.pop_front();
        }
        const bool skip = failure_.has_value();
        lock.unlock();

        for (Job& job : jobs) {
            Encoded& page = done.emplace_back();
            page.bytes = job.bytes;
            if (!skip) {
                try {
                    page.write = job.encode();
                } catch (...) {
                    page.error = std::current_exception();
                }
            }
            job.encode = nullptr;
        }

        lock.lock();
        for (std::size_t k = 0; k < jobs.size(); ++k) ready_[jobs[k].seq % ready_.size()] = std::move(done[k]);
        jobs.clear();
        done.clear();
        write_ready(lock);
    }
}

void PagePipeline::write_ready(std::unique_lock<std::mutex>& lock) {
    if (writing_) return;
    writing_ = true;
    for (;;) {
        std::optional<Encoded>& slot = ready_[next_write_ % ready_.size()];
        if (!slot) break;
        Encoded page = std::move(*slot);
        slot.reset();
        if (!page.error && !failure_ && page.write) {
            // One thread writes at a time and strictly by sequence number, so files
            // appear in page order.
            lock.unlock();
            try {
                page.write();
            } catch (...) {
                page.error = std::current_exception();
            }
            page.write = nullptr;
            lock.lock();
            if (!page.error) ++written_;
        }
        if (page.error && !failure_) {
            failure_ = to_run_failure(page.error, FailedIn::page);
            failed_.store(true, std::memory_order_relaxed);
        }
        ++next_write_;
        --in_flight_;
        bytes_in_flight_ -= page.bytes;
        // The run is woken when it may go on, and when the last page is out (for
        // finish); after a failure at once.
        if (in_flight_ == 0 || (room_wanted_ && has_drained(room_bytes_))) room_.notify_all();
    }
    writing_ = false;
}

}  // namespace pagiro
