#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <set>
#include <system_error>
#include <thread>

#include "generator/page_pipeline.h"

using namespace pagiro;

TEST(PagePipeline, WritesInPageOrderWhateverTheEncodingTimes) {
    std::mutex m;
    std::vector<int> order;
    std::atomic<int> encoding_at_once{0}, most_at_once{0};
    {
        PagePipeline pipeline(3, 8);
        std::mt19937 rng(3);
        for (int page = 0; page < 200; ++page) {
            int delay = int(rng() % 300);
            pipeline.submit([&, page, delay]() -> PagePipeline::Write {
                int now = ++encoding_at_once;
                int seen = most_at_once.load();
                while (now > seen && !most_at_once.compare_exchange_weak(seen, now)) {}
                std::this_thread::sleep_for(std::chrono::microseconds(delay));
                --encoding_at_once;
                return [&, page] {
                    std::lock_guard lock(m);
                    order.push_back(page);
                };
            });
        }
        pipeline.finish();
    }
    ASSERT_EQ(order.size(), 200u);
    for (int k = 0; k < 200; ++k) ASSERT_EQ(order[std::size_t(k)], k);
    EXPECT_GT(most_at_once.load(), 1);  // pages really were encoded side by side
}

TEST(PagePipeline, AFailureStopsLaterPagesAndIsReported) {
    std::vector<int> written;
    PagePipeline pipeline(2, 4);
    bool thrown = false;
    try {
        for (int page = 0; page < 100; ++page) {
            pipeline.submit([&, page]() -> PagePipeline::Write {
                if (page == 5) throw RunFailure("第5页坏了", "page 5 failed");
                return [&, page] { written.push_back(page); };
            });
        }
        pipeline.finish();
    } catch (const RunFailure& f) {
        thrown = true;
        EXPECT_EQ(f.english, "page 5 failed");
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(written, (std::vector<int>{0, 1, 2, 3, 4}));
    // A failing write counts the same way, and the pipeline can be dropped at once.
    PagePipeline second(1, 2);
    second.submit([] { return PagePipeline::Write([] { throw std::runtime_error("disk full"); }); });
    try {
        second.finish();
        ADD_FAILURE() << "no failure";
    } catch (const RunFailure& f) {
        EXPECT_TRUE(f.english.contains("disk full"));
    }
}

TEST(PagePipeline, AFailureIsKnownAtOnceAndOnlyWrittenPagesCount) {
    PagePipeline pipeline(2, 8);
    std::promise<void> third_failed;
    EXPECT_FALSE(pipeline.failed());
    for (int page = 0; page < 6; ++page) {
        pipeline.submit([page, &third_failed]() -> PagePipeline::Write {
            if (page == 2)
                return [&third_failed] {
                    third_failed.set_value();
                    throw std::runtime_error("no room");
                };
            return [] {};
        });
        if (page == 2) {
            // Without handing over another page, the run can see that it must stop.
            third_failed.get_future().wait();
            for (int k = 0; k < 1000 && !pipeline.failed(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_TRUE(pipeline.failed());
            EXPECT_EQ(pipeline.written(), 2u);
            EXPECT_THROW(pipeline.submit([] { return PagePipeline::Write([] {}); }), RunFailure);
            break;
        }
    }
    EXPECT_THROW(pipeline.finish(), RunFailure);
    EXPECT_EQ(pipeline.written(), 2u);
}

TEST(PagePipeline, AWorkerAheadOfTheWritingTakesTheNextPage) {
    // Page 0 takes long; the other worker must go on encoding pages 1, 2, 3 meanwhile
    // instead of holding page 1 until page 0 is written. The writes still come one at
    // a time and in order.
    std::mutex m;
    std::condition_variable later_encoded;
    int encoded_after_first = 0;
    bool first_saw_others = false;
    std::vector<int> order;
    std::atomic<int> writing{0};
    bool overlapping = false;
    {
        PagePipeline pipeline(2, 8);
        for (int page = 0; page < 6; ++page) {
            pipeline.submit([&, page]() -> PagePipeline::Write {
                std::unique_lock lock(m);
                if (page == 0)
                    first_saw_others = later_encoded.wait_for(lock, std::chrono::seconds(5),
                                                              [&] { return encoded_after_first >= 3; });
                else if (++encoded_after_first >= 3)
                    later_encoded.notify_all();
                return [&, page] {
                    if (++writing > 1) overlapping = true;
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    {
                        std::lock_guard lock(m);
                        order.push_back(page);
                    }
                    --writing;
                };
            });
        }
        pipeline.finish();
    }
    EXPECT_TRUE(first_saw_others);
    EXPECT_FALSE(overlapping);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

namespace {

// Starts the first `allowed` workers and then fails as the system does at its
// process limit.
PagePipeline::StartThread threads_until(int allowed, std::atomic<int>& started) {
    return [allowed, &started](std::function<void()> work) {
        if (started >= allowed) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        ++started;
        return std::thread(std::move(work));
    };
}

}  // namespace

TEST(PagePipeline, WorkersThatCannotStartLeaveFewerOrNone) {
    for (int allowed : {0, 1, 2}) {
        SCOPED_TRACE(allowed);
        std::atomic<int> started{0};
        std::vector<int> order;
        std::set<std::thread::id> encoders;
        std::mutex m;
        {
            PagePipeline pipeline(4, 8, PagePipeline::kNoByteBound, threads_until(allowed, started));
            EXPECT_EQ(pipeline.workers(), unsigned(allowed));
            for (int page = 0; page < 50; ++page) {
                pipeline.submit([&, page]() -> PagePipeline::Write {
                    {
                        std::lock_guard lock(m);
                        encoders.insert(std::this_thread::get_id());
                    }
                    return [&, page] { order.push_back(page); };
                });
            }
            pipeline.finish();
        }
        ASSERT_EQ(order.size(), 50u);
        for (int k = 0; k < 50; ++k) EXPECT_EQ(order[std::size_t(k)], k);
        if (allowed == 0) {
            // Without a worker every page is made on the thread that hands it over.
            EXPECT_EQ(encoders, std::set<std::thread::id>{std::this_thread::get_id()});
        } else {
            EXPECT_LE(encoders.size(), std::size_t(allowed));
            EXPECT_FALSE(encoders.count(std::this_thread::get_id()));
        }
    }
}

TEST(PagePipeline, WithoutWorkersAFailureIsReportedAsWithThem) {
    std::atomic<int> started{0};
    std::vector<int> written;
    PagePipeline pipeline(2, 4, PagePipeline::kNoByteBound, threads_until(0, started));
    ASSERT_EQ(pipeline.workers(), 0u);
    int refused_at = -1;
    for (int page = 0; page < 10; ++page) {
        try {
            pipeline.submit([&, page]() -> PagePipeline::Write {
                if (page == 3) throw RunFailure("第3页坏了", "page 3 failed");
                return [&, page] { written.push_back(page); };
            });
        } catch (const RunFailure& f) {
            EXPECT_EQ(f.english, "page 3 failed");
            refused_at = page;
            break;
        }
    }
    // The failure comes back at the next page handed over, and nothing after it is written.
    EXPECT_EQ(refused_at, 4);
    EXPECT_EQ(written, (std::vector<int>{0, 1, 2}));
    EXPECT_THROW(pipeline.finish(), RunFailure);
}

TEST(PagePipeline, PagesInFlightAreBoundedByBytes) {
    // Pages of 40 bytes against a budget of 100: never more than two held at once,
    // though the count would allow 16. A page larger than the whole budget still
    // goes through, alone.
    for (std::size_t weight : {std::size_t(40), std::size_t(1000)}) {
        SCOPED_TRACE(weight);
        std::atomic<int> held{0}, most{0};
        std::vector<int> order;
        {
            PagePipeline pipeline(3, 16, 100);
            for (int page = 0; page < 60; ++page) {
                const int now = ++held;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {}
                pipeline.submit(
                    [&, page]() -> PagePipeline::Write {
                        std::this_thread::sleep_for(std::chrono::microseconds(100));
                        return [&, page] {
                            order.push_back(page);
                            --held;
                        };
                    },
                    weight);
            }
            pipeline.finish();
        }
        EXPECT_EQ(order.size(), 60u);
        // `held` counts a page from just before it is handed over, so one more than
        // the pipeline holds can be seen.
        EXPECT_LE(most.load(), weight == 40 ? 3 : 2);
    }
}

TEST(PagePipeline, PagesTooFewToWakeAWorkerAreStillWrittenAtTheEnd) {
    // Sleeping workers are woken only once a few small pages wait; the pages
    // handed over last must still come out, whether the run finishes or simply
    // drops the pipeline (a run that stops by an exception does).
    for (bool finish : {true, false}) {
        SCOPED_TRACE(finish);
        std::vector<int> order;
        {
            PagePipeline pipeline(2, 32);
            // Give the workers time to fall asleep first.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            for (int page = 0; page < 3; ++page)
                pipeline.submit([&, page] { return PagePipeline::Write([&, page] { order.push_back(page); }); }, 10);
            if (finish) pipeline.finish();
        }
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    }
}

TEST(PagePipeline, ARunWaitingForRoomIsNotHeldUpByBatching) {
    // Far more pages than may be in flight, each taking a while: the run must go on
    // whenever the pipeline has drained, never stall with pages left unencoded.
    std::atomic<int> encoded{0};
    std::vector<int> order;
    {
        PagePipeline pipeline(2, 32);
        for (int page = 0; page < 500; ++page)
            pipeline.submit([&, page] {
                ++encoded;
                return PagePipeline::Write([&, page] { order.push_back(page); });
            });
        pipeline.finish();
    }
    EXPECT_EQ(encoded.load(), 500);
    ASSERT_EQ(order.size(), 500u);
    for (int k = 0; k < 500; ++k) ASSERT_EQ(order[std::size_t(k)], k);
}
