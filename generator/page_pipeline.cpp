#include "page_pipeline.h"

#include <system_error>

namespace pagiro {

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
    lock.unlock();
    work_.notify_one();
}

void PagePipeline::wait_for_room(std::size_t bytes) {
    std::unique_lock lock(mutex_);
    wait_for_room(lock, bytes);
}

void PagePipeline::wait_for_room(std::unique_lock<std::mutex>& lock, std::size_t bytes) {
    room_.wait(lock, [&] {
        if (failure_ || in_flight_ == 0) return true;
        return in_flight_ < max_in_flight_ && bytes_in_flight_ + bytes <= max_bytes_in_flight_;
    });
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
    room_.wait(lock, [this] { return in_flight_ == 0; });
    throw_failure();
}

std::uint64_t PagePipeline::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

void PagePipeline::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        const bool skip = failure_.has_value();
        lock.unlock();

        Encoded done;
        done.bytes = job.bytes;
        if (!skip) {
            try {
                done.write = job.encode();
            } catch (...) {
                done.error = std::current_exception();
            }
        }
        job.encode = nullptr;

        lock.lock();
        ready_[job.seq % ready_.size()] = std::move(done);
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
        room_.notify_one();
    }
    writing_ = false;
}

}  // namespace pagiro
