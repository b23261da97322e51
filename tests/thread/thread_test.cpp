#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <memory>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/message.h"
#include "thread/cls_thread.h"

namespace {

using namespace std::chrono_literals;

std::atomic<long> g_steps{0};

// Counts forever, with a short sleep between steps.
void counting_routine() {
    for (;;) {
        g_steps.fetch_add(1);
        ::usleep(100);
    }
}

template <class Pred>
bool eventually(Pred pred) {
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

int threads_now() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)e;
        ++n;
    }
    return n;
}

// Whether the counter stands still over a while.
bool stands_still() {
    const long before = g_steps.load();
    std::this_thread::sleep_for(150ms);
    return g_steps.load() == before;
}

class ThreadWrapper : public ::testing::Test {
protected:
    void SetUp() override {
        g_steps = 0;
        baseline = threads_now();
    }
    int baseline = 0;
};

TEST_F(ThreadWrapper, RoutineWaitsUntilEnabled) {
    cls_Thread t;
    EXPECT_FALSE(t.ThreadEnabled());
    t.Initialize(&counting_routine);
    ASSERT_TRUE(t.HasThread());
    ASSERT_TRUE(eventually([&] { return threads_now() == baseline + 1; }));
    t.ThreadEnabled(false);  // never released: nothing to hold
    EXPECT_FALSE(t.ThreadEnabled());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(g_steps.load(), 0);

    t.ThreadEnabled(true);
    EXPECT_TRUE(t.ThreadEnabled());
    EXPECT_TRUE(eventually([] { return g_steps.load() > 50; }));
}

TEST_F(ThreadWrapper, DisablingHoldsTheRoutineAndEnablingGoesOn) {
    cls_Thread t;
    t.Initialize(&counting_routine);
    t.ThreadEnabled(true);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(eventually([] { return g_steps.load() > 20; }));
        t.ThreadEnabled(false);
        EXPECT_FALSE(t.ThreadEnabled());
        const long held_at = g_steps.load();
        EXPECT_TRUE(stands_still()) << "round " << round;
        t.ThreadEnabled(true);
        EXPECT_TRUE(eventually([&] { return g_steps.load() > held_at + 20; })) << "round " << round;
        g_steps = 0;
    }
    // Enabling a running thread again leaves it running.
    t.ThreadEnabled(true);
    EXPECT_TRUE(t.ThreadEnabled());
    const long now = g_steps.load();
    EXPECT_TRUE(eventually([&] { return g_steps.load() > now + 20; }));
}

TEST_F(ThreadWrapper, TheEndOfTheObjectEndsTheThread) {
    {  // running
        cls_Thread t;
        t.Initialize(&counting_routine);
        t.ThreadEnabled(true);
        ASSERT_TRUE(eventually([] { return g_steps.load() > 20; }));
    }
    EXPECT_TRUE(eventually([&] { return threads_now() == baseline; }));
    EXPECT_TRUE(stands_still());

    {  // held after running
        cls_Thread t;
        t.Initialize(&counting_routine);
        t.ThreadEnabled(true);
        ASSERT_TRUE(eventually([] { return g_steps.load() > 40; }));
        t.ThreadEnabled(false);
    }
    EXPECT_TRUE(eventually([&] { return threads_now() == baseline; }));
    EXPECT_TRUE(stands_still());

    g_steps = 0;
    {  // never released: the routine never starts
        cls_Thread t;
        t.Initialize(&counting_routine);
        ASSERT_TRUE(eventually([&] { return threads_now() == baseline + 1; }));
    }
    EXPECT_TRUE(eventually([&] { return threads_now() == baseline; }));
    EXPECT_EQ(g_steps.load(), 0);
}

// Spins without ever reaching a cancellation point or a system call.
void spinning_routine() {
    for (;;) g_steps.fetch_add(1, std::memory_order_relaxed);
}

std::atomic<long> g_caught{0};

// Swallows every exception around its sleep, as careless code does.
void swallowing_routine() {
    for (;;) {
        try {
            ::usleep(200);
            g_steps.fetch_add(1);
        } catch (...) {
            g_caught.fetch_add(1);
        }
    }
}

// Ends `t` and says how long that took.
std::chrono::milliseconds time_to_end(std::unique_ptr<cls_Thread>& t) {
    const auto start = std::chrono::steady_clock::now();
    t.reset();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

TEST_F(ThreadWrapper, TheEndEndsARoutineInEveryState) {
    for (auto routine : {&spinning_routine, &swallowing_routine}) {
        for (bool held : {false, true}) {
            g_steps = 0;
            g_caught = 0;
            auto t = std::make_unique<cls_Thread>();
            t->Initialize(routine);
            t->ThreadEnabled(true);
            ASSERT_TRUE(eventually([] { return g_steps.load() > 20; }));
            if (held) t->ThreadEnabled(false);
            EXPECT_LT(time_to_end(t).count(), 1000) << "held " << held;
            EXPECT_TRUE(eventually([&] { return threads_now() == baseline; })) << "held " << held;
            EXPECT_TRUE(stands_still()) << "held " << held;
            EXPECT_EQ(g_caught.load(), 0) << "the end went through the routine's handler";
        }
    }
}

struct SleepResult {
    std::atomic<bool> done{false};
    int result = 0, error = 0;
    std::chrono::milliseconds took{0};
};
SleepResult g_sleep;
void (*g_sleep_call)() = nullptr;

pthread_t g_sleeper{};
std::atomic<bool> g_sleeper_known{false};

void timed_sleep_routine() {
    g_sleeper = pthread_self();
    g_sleeper_known = true;
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    g_sleep_call();
    g_sleep.error = errno;
    g_sleep.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    g_sleep.done = true;
    for (;;) ::pause();
}

void interrupted_by_user_signal(int) {}

TEST_F(ThreadWrapper, HoldsAreInvisibleToTheRoutinesSleeps) {
    const std::pair<const char*, void (*)()> sleeps[] = {
        {"usleep", [] { g_sleep.result = ::usleep(600000); }},
        {"nanosleep", [] {
             timespec request{0, 600000000}, left{};
             g_sleep.result = ::nanosleep(&request, &left);
         }},
    };
    for (const auto& [name, call] : sleeps) {
        g_sleep.done = false;
        g_sleeper_known = false;
        g_sleep_call = call;
        cls_Thread t;
        t.Initialize(&timed_sleep_routine);
        t.ThreadEnabled(true);
        std::this_thread::sleep_for(150ms);
        t.ThreadEnabled(false);
        std::this_thread::sleep_for(100ms);
        t.ThreadEnabled(true);
        t.ThreadEnabled(false);
        t.ThreadEnabled(true);
        ASSERT_TRUE(eventually([] { return g_sleep.done.load(); })) << name;
        EXPECT_EQ(g_sleep.result, 0) << name << ": errno " << g_sleep.error;
        EXPECT_GE(g_sleep.took.count(), 600) << name;
    }
}

TEST_F(ThreadWrapper, OtherSignalsStillCutASleepShort) {
    struct sigaction sa {}, old {};
    sa.sa_handler = &interrupted_by_user_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, &old);
    g_sleep.done = false;
    g_sleeper_known = false;
    g_sleep_call = [] { g_sleep.result = ::usleep(3000000); };
    {
        cls_Thread t;
        t.Initialize(&timed_sleep_routine);
        t.ThreadEnabled(true);
        ASSERT_TRUE(eventually([] { return g_sleeper_known.load(); }));
        std::this_thread::sleep_for(100ms);
        pthread_kill(g_sleeper, SIGUSR1);
        ASSERT_TRUE(eventually([] { return g_sleep.done.load(); }));
        EXPECT_EQ(g_sleep.result, -1);
        EXPECT_EQ(g_sleep.error, EINTR);
        EXPECT_LT(g_sleep.took.count(), 2000);
    }
    sigaction(SIGUSR1, &old, nullptr);
}

TEST_F(ThreadWrapper, InitializingAgainEndsTheFormerThread) {
    cls_Thread t;
    t.Initialize(&counting_routine);
    t.ThreadEnabled(true);
    ASSERT_TRUE(eventually([] { return g_steps.load() > 20; }));
    t.Initialize(&counting_routine);
    EXPECT_TRUE(eventually([&] { return threads_now() == baseline + 1; }));
    EXPECT_TRUE(stands_still());  // the new one is held although the flag is still true
    EXPECT_TRUE(t.ThreadEnabled());
    t.ThreadEnabled(true);
    const long now = g_steps.load();
    EXPECT_TRUE(eventually([&] { return g_steps.load() > now + 20; }));
}

struct Shown {
    int count = 0;
    std::string text, title;
    pagiro::MessageIcon icon = pagiro::MessageIcon::None;
};
Shown g_shown;

TEST_F(ThreadWrapper, FailedCreationIsReported) {
    g_shown = {};
    const auto old_message = pagiro::set_message_handler(
        [](const std::string& text, const std::string& title, pagiro::MessageIcon icon) {
            ++g_shown.count;
            g_shown.text = text;
            g_shown.title = title;
            g_shown.icon = icon;
        });
    const auto old_create = cls_Thread::SetCreateFunction(
        [](pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; });
    {
        cls_Thread t;
        t.Initialize(&counting_routine);
        EXPECT_FALSE(t.HasThread());
        EXPECT_EQ(g_shown.count, 1);
        EXPECT_EQ(g_shown.text, "线程创建失败！");
        EXPECT_EQ(g_shown.title, "错误");
        EXPECT_EQ(g_shown.icon, pagiro::MessageIcon::Exclamation);
        t.ThreadEnabled(true);  // the flag follows the request all the same
        EXPECT_TRUE(t.ThreadEnabled());
        t.ThreadEnabled(false);
        EXPECT_FALSE(t.ThreadEnabled());
    }
    cls_Thread::SetCreateFunction(old_create);
    pagiro::set_message_handler(old_message);
    EXPECT_EQ(threads_now(), baseline);
    EXPECT_EQ(g_steps.load(), 0);

    // With the system's call back in place a thread is made and no message shown.
    cls_Thread t;
    t.Initialize(&counting_routine);
    EXPECT_TRUE(t.HasThread());
    EXPECT_EQ(g_shown.count, 1);
}

TEST_F(ThreadWrapper, AnObjectNeverInitializedEndsQuietly) {
    {
        cls_Thread t;
        EXPECT_FALSE(t.HasThread());
        t.ThreadEnabled(true);
        t.ThreadEnabled(false);
    }
    EXPECT_EQ(threads_now(), baseline);
}

}  // namespace
