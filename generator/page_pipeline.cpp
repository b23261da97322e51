#include "page_pipeline.h"

namespace pagiro {

unsigned PagePipeline::default_workers() {
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 2 : std::min(n, 8u);
}

PagePipeline::PagePipeline(unsigned workers, std::size_t max_in_flight)
    : ready_(std::max<std::size_t>(1, max_in_flight)), max_in_flight_(std::max<std::size_t>(1, max_in_flight)) {
    for (unsigned k = 0; k < std::max(1u, workers); ++k) threads_.emplace_back([this] { work(); });
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

void PagePipeline::submit(Encode encode) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return in_flight_ < max_in_flight_ || failure_; });
    throw_failure();
    queue_.push_back(Job{next_seq_++, std::move(encode)});
    ++in_flight_;
    lock.unlock();
    work_.notify_one();
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
        room_.notify_one();
    }
    writing_ = false;
}

}  // namespace pagiro
