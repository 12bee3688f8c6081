// The seam's threads on Windows: slim reader/writer locks, condition
// variables and CreateThread (Windows 7 and later).
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/thread.h"

namespace tarveld::platform {

// An SRW lock and a condition variable need neither set-up nor clean-up
// calls, so a monitor can outlive every thread that used it, even one the
// system ended at process exit.
struct Monitor::State {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
};

Monitor::Monitor() : state_(new State) {}

Monitor::~Monitor() {
  delete state_;
}

void Monitor::Lock() {
  AcquireSRWLockExclusive(&state_->lock);
}

bool Monitor::TryLock() {
  return TryAcquireSRWLockExclusive(&state_->lock) != 0;
}

void Monitor::Unlock() {
  ReleaseSRWLockExclusive(&state_->lock);
}

void Monitor::Wait(std::uint32_t milliseconds) {
  SleepConditionVariableSRW(&state_->condition, &state_->lock, milliseconds, 0);
}

void Monitor::NotifyAll() {
  WakeAllConditionVariable(&state_->condition);
}

struct WorkerThread::Handle {
  HANDLE thread;
};

namespace {

// Lets go of the record of a thread without waiting for it.
void Forget(WorkerThread::Handle*& handle) {
  if (handle != nullptr) {
    CloseHandle(handle->thread);
    delete handle;
    handle = nullptr;
  }
}

struct StartInfo {
  void (*run)(void*);
  void* argument;
  HMODULE module;
};

// The thread's first and last frames. The function it runs lives in this
// module, so the thread holds a reference to the module (taken by Start)
// and returns it only with FreeLibraryAndExitThread, which never comes back
// here: a host that unloaded the module meanwhile gets it unloaded now,
// with no code of it left running.
DWORD WINAPI RunWorker(void* parameter) {
  const StartInfo info = *static_cast<StartInfo*>(parameter);
  delete static_cast<StartInfo*>(parameter);
  info.run(info.argument);
  FreeLibraryAndExitThread(info.module, 0);
}

}  // namespace

// Never waits: the module's static destructors run inside DllMain, at times
// on this very thread (the last FreeLibrary above), where a wait would hang.
WorkerThread::~WorkerThread() {
  Forget(handle_);
}

bool WorkerThread::Start(void (*run)(void*), void* argument) {
  Forget(handle_);
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCSTR>(&RunWorker), &module)) {
    return false;
  }
  auto* info = new StartInfo{run, argument, module};
  const HANDLE thread = CreateThread(nullptr, 0, &RunWorker, info, 0, nullptr);
  if (thread == nullptr) {
    delete info;
    FreeLibrary(module);
    return false;
  }
  handle_ = new Handle{thread};
  return true;
}

void WorkerThread::Join() {
  if (handle_ == nullptr) {
    return;
  }
  WaitForSingleObject(handle_->thread, INFINITE);
  Forget(handle_);
}

bool WorkerThread::AwaitEnd(std::uint32_t milliseconds) {
  return handle_ == nullptr || WaitForSingleObject(handle_->thread, milliseconds) == WAIT_OBJECT_0;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

std::uint64_t MonotonicMilliseconds() {
  return GetTickCount64();
}

bool MayJoinThreadsAtUnload() {
  return false;
}

}  // namespace tarveld::platform
