// The seam's threads on POSIX systems: pthreads.
#include <pthread.h>
#include <time.h>

#include "platform/thread.h"

namespace tarveld::platform {

struct Monitor::State {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
};

Monitor::Monitor() : state_(new State) {
  pthread_mutex_init(&state_->mutex, nullptr);
  // Timed waits count on the monotonic clock, so a change of the wall clock
  // neither stretches nor cuts a pause.
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&state_->condition, &attributes);
  pthread_condattr_destroy(&attributes);
}

Monitor::~Monitor() {
  pthread_cond_destroy(&state_->condition);
  pthread_mutex_destroy(&state_->mutex);
  delete state_;
}

void Monitor::Lock() {
  pthread_mutex_lock(&state_->mutex);
}

bool Monitor::TryLock() {
  return pthread_mutex_trylock(&state_->mutex) == 0;
}

void Monitor::Unlock() {
  pthread_mutex_unlock(&state_->mutex);
}

void Monitor::Wait(std::uint32_t milliseconds) {
  timespec until{};
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += static_cast<time_t>(milliseconds / 1000);
  until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  pthread_cond_timedwait(&state_->condition, &state_->mutex, &until);
}

void Monitor::NotifyAll() {
  pthread_cond_broadcast(&state_->condition);
}

struct WorkerThread::Handle {
  pthread_t thread;
  void (*run)(void*);
  void* argument;
};

namespace {

void* RunWorker(void* handle) {
  const auto* h = static_cast<const WorkerThread::Handle*>(handle);
  h->run(h->argument);
  return nullptr;
}

}  // namespace

WorkerThread::~WorkerThread() {
  Join();
}

bool WorkerThread::Start(void (*run)(void*), void* argument) {
  Join();
  auto* handle = new Handle{{}, run, argument};
  if (pthread_create(&handle->thread, nullptr, &RunWorker, handle) != 0) {
    delete handle;
    return false;
  }
  handle_ = handle;
  return true;
}

void WorkerThread::Join() {
  if (handle_ == nullptr) {
    return;
  }
  pthread_join(handle_->thread, nullptr);
  delete handle_;
  handle_ = nullptr;
}

bool WorkerThread::AwaitEnd(std::uint32_t milliseconds) {
  if (handle_ == nullptr) {
    return true;
  }
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  if (pthread_timedjoin_np(handle_->thread, nullptr, &deadline) != 0) {
    return false;
  }
  delete handle_;
  handle_ = nullptr;
  return true;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  timespec pause{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0) {
  }
}

std::uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec / 1000000);
}

bool MayJoinThreadsAtUnload() {
  return true;
}

}  // namespace tarveld::platform
