#pragma once
// One operating-system thread for a routine of the caller's: `Initialize` makes it
// held before the routine starts, `ThreadEnabled` lets it run or holds it where it
// is, and the end of the object ends the thread.
#include <memory>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

class cls_Thread {
public:
    using ThreadRoutine = void (*)();

#ifdef _WIN32
    using CreateFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                           LPDWORD);
#else
    using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
#endif
    // Replaces the call that makes threads (tests use it to make creation fail);
    // nullptr restores the system's. Returns the one in use before.
    static CreateFunction SetCreateFunction(CreateFunction create);

    cls_Thread() = default;
    ~cls_Thread();
    cls_Thread(const cls_Thread&) = delete;
    cls_Thread& operator=(const cls_Thread&) = delete;

    // Makes the thread, held before `LongPointFunction` runs. A thread made by an
    // earlier call is ended first. When no thread can be made the user is told.
    void Initialize(ThreadRoutine LongPointFunction);

    bool ThreadEnabled() const { return IsEnabled; }
    // True lets the thread run (again); false holds it and returns once it is held.
    void ThreadEnabled(bool Newvalue);

    bool HasThread() const { return ThreadHandle != nullptr; }

#ifndef _WIN32
    struct Control;  // what the thread shares with its owner; opaque to callers
#endif

private:
    void EndThread();

#ifdef _WIN32
    HANDLE ThreadHandle = nullptr;
#else
    std::shared_ptr<Control> ThreadHandle;
#endif
    bool IsEnabled = false;
};
