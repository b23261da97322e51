#include "thread/cls_thread.h"

#include "platform/message.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <setjmp.h>
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
//
// The end works like the system call it stands for: the thread leaves its routine
// from inside the hold signal's handler, jumping straight back to where the
// routine was called. Nothing of the routine runs any more: no destructor and no
// handler of its own (a routine that catches everything could otherwise swallow
// an unwinding cancellation, which aborts the program). Whatever the routine held
// at that moment stays held, so a routine to be ended must not own what others need.
struct cls_Thread::Control {
    pthread_t thread{};
    ThreadRoutine routine = nullptr;
    sigjmp_buf ending{};  // where an ended thread leaves its routine
    std::atomic<bool> hold{true};
    std::atomic<bool> held{false};
    std::atomic<bool> end{false};
    std::atomic<bool> finished{false};
};

namespace {

cls_Thread::CreateFunction g_create = &pthread_create;
thread_local cls_Thread::Control* t_control = nullptr;
thread_local unsigned t_holds = 0;  // hold signals this thread has taken, ended waits restart

int hold_signal() { return SIGRTMIN + 6; }
int release_signal() { return SIGRTMIN + 7; }

void leave_if_ended(cls_Thread::Control* c) {
    if (!c->end.load()) return;
    t_control = nullptr;
    siglongjmp(c->ending, 1);
}

void hold_here(cls_Thread::Control* c) {
    sigset_t wait;
    pthread_sigmask(SIG_BLOCK, nullptr, &wait);
    sigdelset(&wait, release_signal());
    while (c->hold.load() && !c->end.load()) {
        c->held.store(true);
        sigsuspend(&wait);
    }
    c->held.store(false);
    leave_if_ended(c);
}

void on_hold(int) {
    const int saved = errno;
    if (cls_Thread::Control* c = t_control) {
        ++t_holds;
        leave_if_ended(c);
        hold_here(c);
    }
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

// Runs the routine once released; returns when it returns or when the thread is ended.
void run_until_ended(cls_Thread::Control* c) {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, release_signal());
    sigaddset(&s, hold_signal());
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
    // The jump back restores this mask: an ended thread takes no further signal of ours.
    if (sigsetjmp(c->ending, 1) == 0) {
        t_control = c;
        sigemptyset(&s);
        sigaddset(&s, hold_signal());
        pthread_sigmask(SIG_UNBLOCK, &s, nullptr);
        hold_here(c);
        if (c->routine) c->routine();
    }
    t_control = nullptr;
}

void* run_routine(void* arg) {
    std::shared_ptr<cls_Thread::Control> c;
    {
        auto* handed = static_cast<std::shared_ptr<cls_Thread::Control>*>(arg);
        c = std::move(*handed);
        delete handed;
    }
    run_until_ended(c.get());
    c->finished.store(true);
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

// The hold signal takes a running routine out of whatever it does; the release
// signal wakes a held one, which then leaves too. Only a routine that blocks our
// signals itself can stay: after the wait it is left to end on its own, detached,
// rather than block the owner forever.
void cls_Thread::EndThread() {
    if (!ThreadHandle) return;
    Control* c = ThreadHandle.get();
    c->end.store(true);
    if (!c->finished.load()) {
        pthread_kill(c->thread, hold_signal());
        pthread_kill(c->thread, release_signal());
    }
    if (wait_until([c] { return c->finished.load(); }))
        pthread_join(c->thread, nullptr);
    else
        pthread_detach(c->thread);
    ThreadHandle.reset();
}

// Sleeps that a hold interrupts start again for the time still to go, as though
// the thread had never been held; any other signal still cuts them short. These
// stand in for the C library's own, which they call for threads that are not ours.
namespace {

constexpr long kNano = 1000000000L;

timespec plus(timespec a, const timespec& b) {
    a.tv_sec += b.tv_sec;
    a.tv_nsec += b.tv_nsec;
    if (a.tv_nsec >= kNano) a.tv_nsec -= kNano, ++a.tv_sec;
    return a;
}

timespec until(const timespec& deadline, clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
    if (left.tv_nsec < 0) left.tv_nsec += kNano, --left.tv_sec;
    if (left.tv_sec < 0) left = timespec{0, 0};
    return left;
}

// Our threads' sleep: returns 0 or an error number, as clock_nanosleep does.
int sleep_through_holds(clockid_t clock, int flags, const timespec* request, timespec* remain) {
    if (!request || request->tv_nsec < 0 || request->tv_nsec >= kNano || request->tv_sec < 0) return EINVAL;
    timespec deadline = *request;
    if (!(flags & TIMER_ABSTIME)) {
        timespec now{};
        if (clock_gettime(clock, &now) != 0) return errno;
        deadline = plus(now, *request);
    }
    for (;;) {
        const unsigned holds = t_holds;
        if (syscall(SYS_clock_nanosleep, clock, TIMER_ABSTIME, &deadline, nullptr) == 0) return 0;
        const int error = errno;
        if (error == EINTR && t_holds != holds) continue;
        if (error == EINTR && remain && !(flags & TIMER_ABSTIME)) *remain = until(deadline, clock);
        return error;
    }
}

template <class F>
F libc(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int clock_nanosleep(clockid_t clock, int flags, const timespec* request, timespec* remain) {
    static const auto next = libc<int (*)(clockid_t, int, const timespec*, timespec*)>("clock_nanosleep");
    if (!t_control) return next(clock, flags, request, remain);
    return sleep_through_holds(clock, flags, request, remain);
}

extern "C" int nanosleep(const timespec* request, timespec* remain) {
    static const auto next = libc<int (*)(const timespec*, timespec*)>("nanosleep");
    if (!t_control) return next(request, remain);
    const int error = sleep_through_holds(CLOCK_MONOTONIC, 0, request, remain);
    if (error == 0) return 0;
    errno = error;
    return -1;
}

extern "C" int usleep(useconds_t microseconds) {
    static const auto next = libc<int (*)(useconds_t)>("usleep");
    if (!t_control) return next(microseconds);
    const timespec request{time_t(microseconds / 1000000), long(microseconds % 1000000) * 1000};
    return nanosleep(&request, nullptr);
}

extern "C" unsigned sleep(unsigned seconds) {
    static const auto next = libc<unsigned (*)(unsigned)>("sleep");
    if (!t_control) return next(seconds);
    const timespec request{time_t(seconds), 0};
    timespec left{};
    if (nanosleep(&request, &left) == 0) return 0;
    return unsigned(left.tv_sec + (left.tv_nsec > 0 ? 1 : 0));
}

#endif
