// The recorder behind dense_detail::trace: one buffer per thread and recording session.
#include "common/trace.hpp"

#include <unistd.h>

#include <algorithm>
#include <dense/textio.hpp>

namespace dense_detail::trace {
namespace {

// One thread's spans in one session. Buffers are owned by the list, not by
// their thread: a worker thread ends before stop() collects what it recorded.
struct buffer {
  std::vector<span_record> spans;
  buffer* next;
};

std::atomic<buffer*> g_buffers{nullptr};
// Sessions are numbered so that a thread notices that its buffer belongs to
// an earlier session (and was freed) without reading it.
std::atomic<uint64_t> g_session{0};

thread_local buffer* tl_buffer = nullptr;
thread_local uint64_t tl_session = 0;
thread_local int64_t tl_thread = 0;

buffer* this_threads_buffer() {
  const uint64_t session = g_session.load(std::memory_order_acquire);
  if (tl_buffer == nullptr || tl_session != session) {
    auto* b = new buffer{{}, g_buffers.load(std::memory_order_relaxed)};
    b->spans.reserve(256);
    while (!g_buffers.compare_exchange_weak(b->next, b, std::memory_order_release,
                                            std::memory_order_relaxed)) {
    }
    tl_buffer = b;
    tl_session = session;
  }
  return tl_buffer;
}

void free_buffers() {
  buffer* b = g_buffers.exchange(nullptr, std::memory_order_acquire);
  while (b != nullptr) {
    buffer* next = b->next;
    delete b;
    b = next;
  }
}

}  // namespace

double now() { return textio::wtime(); }

int64_t this_thread() {
  if (tl_thread == 0) {
    tl_thread = static_cast<int64_t>(gettid());
  }
  return tl_thread;
}

void start() {
  g_recording.store(false, std::memory_order_relaxed);
  free_buffers();
  g_session.fetch_add(1, std::memory_order_release);
  g_recording.store(true, std::memory_order_relaxed);
}

std::vector<span_record> stop() {
  g_recording.store(false, std::memory_order_relaxed);
  std::vector<span_record> all;
  for (buffer* b = g_buffers.load(std::memory_order_acquire); b != nullptr; b = b->next) {
    all.insert(all.end(), b->spans.begin(), b->spans.end());
  }
  free_buffers();
  g_session.fetch_add(1, std::memory_order_release);
  std::stable_sort(all.begin(), all.end(),
                   [](const span_record& x, const span_record& y) { return x.start < y.start; });
  return all;
}

void record(const char* phase, double start, double end, int32_t worker) {
  this_threads_buffer()->spans.push_back({phase, start, end, this_thread(), worker});
}

}  // namespace dense_detail::trace
