// What compare_products and its worker process (compare_products_worker) say to each other, and
// where the factors and the result lie in the memory they share.
//
// A product given with --add never runs inside compare_products: a crash or a
// hang there would take the table with it. It runs in a worker, a program of
// its own started fresh with posix_spawn (no OpenMP pool or thread state of
// ours is inherited, and libgomp would hang in a plainly forked child). The
// worker finds two descriptors open when it starts:
//   kRequestFd  one end of a SOCK_SEQPACKET socket pair: one request, one
//               reply, each a fixed record, in turn;
//   kMemoryFd   a memfd that compare_products sizes and fills: the result
//               first, then both factors, laid out by memory_layout().
// Every matrix in the shared memory is its rows one after another, each
// `cols` int32 values. The worker maps the factors read-only and copies them,
// before every call, into matrices made as the library makes them (a heap
// block per row), so a product meets the same layout as the kit's methods;
// their records and row tables are put back too, and the descriptors above
// after each call, so a product that writes into its const factors or closes
// every descriptor spoils only its own result. After each call the factors
// are compared with what was handed over: `const matriz*` does not protect
// the rows, and a product that changed an input is wrong. The time is taken by the
// worker around the call alone: starting the process, copying and the socket
// cost the row nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <dense/dense_core.hpp>

namespace compare_products::worker_protocol {

inline constexpr int kRequestFd = 3;
inline constexpr int kMemoryFd = 4;
// The worker's exit status when a product closed its socket and it could not
// be put back: the worker cannot answer, and says why this way.
inline constexpr int kLostDescriptorsStatus = 121;

enum class request_kind : uint32_t {
  load = 1,      // dlopen `path` (RTLD_NOW) and look up `symbol`
  multiply = 2,  // call the symbol on the factors in the shared memory
};

struct request {
  request_kind kind;
  // multiply: A is rows x inner, B inner x cols; the thread count to pass.
  int32_t rows;
  int32_t inner;
  int32_t cols;
  int32_t threads;
  // load: both end in a NUL.
  char path[4096];
  char symbol[256];
};

enum class reply_kind : uint32_t {
  loaded = 1,       // load: the symbol is there
  cannot_open = 2,  // load: dlopen failed; `text` is dlerror's
  no_symbol = 3,    // load: dlsym found nothing; `text` is dlerror's
  product = 4,      // multiply: the result is in the shared memory
  no_result = 5,    // multiply: the call returned null; `text` is what it printed
  no_storage = 6,   // multiply: a record whose `mat` is null
  wrong_shape = 7,  // multiply: a result of `lin` x `col`, not rows x cols
  not_loaded = 8,   // multiply before a load that succeeded
  // multiply: the call changed a factor; `text` says which and where
  // ("changed its input B: first changed element row 3, column 0 (0-based): ...").
  changed_input = 9,
};

struct reply {
  reply_kind kind;
  int32_t lin;  // the shape of the result the call returned
  int32_t col;
  double seconds;   // the call alone, by wtime
  char text[2048];  // ends in a NUL; cut short when longer
};

// Byte offsets and sizes of the matrices in the shared memory. The factors
// start on a page of their own, so that they can be mapped read-only.
struct memory_layout {
  size_t result_bytes;
  size_t factors_offset;  // a multiple of the page size
  size_t a_bytes;
  size_t b_bytes;
  size_t total;
};

inline memory_layout layout_for(int32_t rows, int32_t inner, int32_t cols, size_t page) {
  memory_layout l{};
  l.result_bytes = static_cast<size_t>(rows) * static_cast<size_t>(cols) * sizeof(int32_t);
  l.factors_offset = (l.result_bytes + page - 1) / page * page;
  l.a_bytes = static_cast<size_t>(rows) * static_cast<size_t>(inner) * sizeof(int32_t);
  l.b_bytes = static_cast<size_t>(inner) * static_cast<size_t>(cols) * sizeof(int32_t);
  l.total = l.factors_offset + l.a_bytes + l.b_bytes;
  return l;
}

// Copies matrix `m` row after row to `to`; returns where the next one goes.
inline int32_t* to_flat(const dense_core::matriz* m, int32_t* to) {
  const size_t row_bytes = static_cast<size_t>(m->col) * sizeof(int32_t);
  for (int32_t i = 0; i < m->lin; ++i) {
    std::memcpy(to, m->mat[i], row_bytes);
    to += m->col;
  }
  return to;
}

// Fills matrix `m` from its rows one after another at `from`; returns where the next one starts.
inline const int32_t* from_flat(const int32_t* from, dense_core::matriz* m) {
  const size_t row_bytes = static_cast<size_t>(m->col) * sizeof(int32_t);
  for (int32_t i = 0; i < m->lin; ++i) {
    std::memcpy(m->mat[i], from, row_bytes);
    from += m->col;
  }
  return from;
}

}  // namespace compare_products::worker_protocol
