// What the two POSIX-thread product modules share: the factor checks and
// handing a job to a thread, or to the calling thread when no thread can be had.
#pragma once

#include <pthread.h>

#include <cstdio>

#include <dense/dense_core.hpp>

#include "common/messages.hpp"

namespace thread_jobs {

// True when both factors have storage; otherwise says so and refuses.
inline bool factors_exist(const dense_core::matriz* a, const dense_core::matriz* b) {
  if (a == nullptr || a->mat == nullptr || b == nullptr || b->mat == nullptr) {
    std::puts(dense_msg::kMissingMatrix);
    return false;
  }
  return true;
}

// Starts body(arg) on a new thread with default attributes; false when the
// thread could not be created.
inline bool start(pthread_t* handle, void* (*body)(void*), void* arg) {
  return pthread_create(handle, nullptr, body, arg) == 0;
}

// Waits for a started job, or runs a job that no thread took here, so the
// result is complete either way.
inline void finish(bool started, pthread_t handle, void* (*body)(void*), void* arg) {
  if (started) {
    pthread_join(handle, nullptr);
  } else {
    body(arg);
  }
}

}  // namespace thread_jobs
