// The seam's threads: what the report writer needs to run beside the host.
//
// One lock with one condition, one worker thread, a monotonic clock, and the
// one rule that differs between the systems at unload. The 32-bit Windows
// toolchain's thread model offers no std::thread or std::mutex, so each
// system implements these with its own calls (posix_thread.cpp,
// windows_thread.cpp) and the core sees no system type.
#pragma once

#include <cstdint>

namespace tarveld::platform {

// A mutual-exclusion lock and a condition variable tied to it.
class Monitor {
 public:
  Monitor();
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  void Lock();
  // False when another thread holds the lock. Used where a thread that held
  // it may have been ended by the system (process exit on Windows).
  bool TryLock();
  void Unlock();
  // With the lock held: releases it, sleeps until notified or until
  // `milliseconds` have passed, and takes it again. May wake early; callers
  // test their condition in a loop.
  void Wait(std::uint32_t milliseconds);
  void NotifyAll();

 private:
  struct State;
  State* state_;
};

// RAII holder of a Monitor's lock.
class MonitorLock {
 public:
  explicit MonitorLock(Monitor& monitor) : monitor_(monitor) { monitor_.Lock(); }
  ~MonitorLock() { monitor_.Unlock(); }
  MonitorLock(const MonitorLock&) = delete;
  MonitorLock& operator=(const MonitorLock&) = delete;

 private:
  Monitor& monitor_;
};

// One thread at a time running a function. On Windows the running thread
// holds a reference to the module that contains this code, so a host that
// unloads the module while the thread runs leaves it loaded until the
// function returns; the thread then lets go of it as it exits.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `run(argument)` on a new thread. A thread started earlier must
  // have returned from its function or be about to; its resources are
  // reclaimed here. False when the system could not start a thread.
  bool Start(void (*run)(void*), void* argument);

  // Waits until the thread started last has ended; at once when none runs.
  void Join();

  // Waits at most `milliseconds` for the thread started last to end, and
  // says whether it has; its record stays, for Join or the destructor.
  bool AwaitEnd(std::uint32_t milliseconds);

  // The system's record of the thread, defined by each implementation.
  struct Handle;

 private:
  Handle* handle_ = nullptr;
};

// Milliseconds from an arbitrary origin that never goes back.
std::uint64_t MonotonicMilliseconds();

// Lets the calling thread sleep.
void SleepMilliseconds(std::uint32_t milliseconds);

// Whether the module's static destructors may wait for a thread. POSIX: yes,
// they run at exit or at dlclose with the writer still alive. Windows: no,
// they run inside DllMain under the loader lock, where waiting for a thread
// can deadlock; at process exit the system has ended the other threads by
// then anyway.
bool MayJoinThreadsAtUnload();

}  // namespace tarveld::platform
