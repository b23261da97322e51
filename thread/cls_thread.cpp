#include "thread/cls_thread.h"

#include "platform/message.h"

#ifndef _WIN32
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>
#endif

namespace {

void report_creation_failure() {
    pagiro::show_message("线程创建失败！", "错误", pagiro::MessageIcon::Exclamation);
}

}  // namespace

#ifdef _WIN32

namespace {

DWORD WINAPI run_routine(LPVOID routine) {
    if (routine) reinterpret_cast<cls_Thread::ThreadRoutine>(routine)();
    return 0;
}

cls_Thread::CreateFunction g_create = &CreateThread;

}  // namespace

cls_Thread::CreateFunction cls_Thread::SetCreateFunction(CreateFunction create) {
    CreateFunction old = g_create;
    g_create = create ? create : &CreateThread;
    return old;
}

cls_Thread::~cls_Thread() { EndThread(); }

void cls_Thread::Initialize(ThreadRoutine LongPointFunction) {
    EndThread();
    DWORD id = 0;
    ThreadHandle = g_create(nullptr, 0, &run_routine, reinterpret_cast<LPVOID>(LongPointFunction), CREATE_SUSPENDED, &id);
    if (!ThreadHandle) report_creation_failure();
}

// Resuming a thread that already runs leaves it running; resuming again after a
// new `Initialize` releases the new thread.
void cls_Thread::ThreadEnabled(bool Newvalue) {
    if (Newvalue) {
        if (ThreadHandle) ResumeThread(ThreadHandle);
        IsEnabled = true;
    } else if (IsEnabled) {
        if (ThreadHandle) SuspendThread(ThreadHandle);
        IsEnabled = false;
    }
}

void cls_Thread::EndThread() {
    if (!ThreadHandle) return;
    TerminateThread(ThreadHandle, 0);
    CloseHandle(ThreadHandle);
    ThreadHandle = nullptr;
}

#else  // POSIX

// A held thread waits in sigsuspend inside a signal handler: the hold signal stops
// it wherever it is, and the release signal (blocked everywhere else) wakes it.
// Before its routine starts the thread holds itself in the same way.
struct cls_Thread::Control {
    pthread_t thread{};
    ThreadRoutine routine = nullptr;
    std::atomic<bool> hold{true};
    std::atomic<bool> held{false};
    std::atomic<bool> finished{false};
};

namespace {

cls_Thread::CreateFunction g_create = &pthread_create;
thread_local cls_Thread::Control* t_control = nullptr;

int hold_signal() { return SIGRTMIN + 6; }
int release_signal() { return SIGRTMIN + 7; }

void hold_here(cls_Thread::Control* c) {
    sigset_t wait;
    pthread_sigmask(SIG_BLOCK, nullptr, &wait);
    sigdelset(&wait, release_signal());
    while (c->hold.load()) {
        c->held.store(true);
        sigsuspend(&wait);
    }
    c->held.store(false);
}

void on_hold(int) {
    const int saved = errno;
    if (cls_Thread::Control* c = t_control) hold_here(c);
    errno = saved;
}

void on_release(int) {}

void install_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = &on_hold;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        sigaddset(&sa.sa_mask, release_signal());
        sigaction(hold_signal(), &sa, nullptr);
        sa.sa_handler = &on_release;
        sigemptyset(&sa.sa_mask);
        sigaction(release_signal(), &sa, nullptr);
    });
}

void* run_routine(void* arg) {
    std::shared_ptr<cls_Thread::Control> c;
    {
        auto* handed = static_cast<std::shared_ptr<cls_Thread::Control>*>(arg);
        c = std::move(*handed);
        delete handed;
    }
    // Also runs when the thread is cancelled, so the owner can tell it has ended.
    struct Finish {
        cls_Thread::Control* c;
        ~Finish() {
            t_control = nullptr;
            c->finished.store(true);
        }
    } finish{c.get()};

    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, release_signal());
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
    sigemptyset(&s);
    sigaddset(&s, hold_signal());
    pthread_sigmask(SIG_UNBLOCK, &s, nullptr);
    t_control = c.get();

    hold_here(c.get());
    if (c->routine) c->routine();
    return nullptr;
}

template <class Pred>
bool wait_until(Pred done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace

cls_Thread::CreateFunction cls_Thread::SetCreateFunction(CreateFunction create) {
    CreateFunction old = g_create;
    g_create = create ? create : &pthread_create;
    return old;
}

cls_Thread::~cls_Thread() { EndThread(); }

void cls_Thread::Initialize(ThreadRoutine LongPointFunction) {
    EndThread();
    install_handlers();
    auto c = std::make_shared<Control>();
    c->routine = LongPointFunction;
    auto* handed = new std::shared_ptr<Control>(c);
    if (g_create(&c->thread, nullptr, &run_routine, handed) != 0) {
        delete handed;
        report_creation_failure();
        return;
    }
    ThreadHandle = std::move(c);
}

// Releasing a thread that already runs leaves it running; releasing again after a
// new `Initialize` starts the new thread.
void cls_Thread::ThreadEnabled(bool Newvalue) {
    Control* c = ThreadHandle.get();
    if (Newvalue) {
        if (c) {
            c->hold.store(false);
            if (!c->finished.load()) pthread_kill(c->thread, release_signal());
        }
        IsEnabled = true;
    } else if (IsEnabled) {
        if (c) {
            c->hold.store(true);
            if (!c->finished.load()) {
                pthread_kill(c->thread, hold_signal());
                wait_until([c] { return c->held.load() || c->finished.load(); });
            }
        }
        IsEnabled = false;
    }
}

// Cancellation reaches a held thread in sigsuspend and a running routine at its next
// cancellation point; the thread is then joined. A routine that reaches none within
// the wait is left to end on its own, detached, rather than block the owner forever.
void cls_Thread::EndThread() {
    if (!ThreadHandle) return;
    Control* c = ThreadHandle.get();
    pthread_cancel(c->thread);
    if (wait_until([c] { return c->finished.load(); }))
        pthread_join(c->thread, nullptr);
    else
        pthread_detach(c->thread);
    ThreadHandle.reset();
}

#endif
