// compare_products_worker: runs one product given to compare_products with --add, in a process of
// its own (see worker_protocol.hpp for the requests, the replies and the shared memory).
//
// It is linked with the whole of libdense and exports its symbols, so a
// student's shared object, linked with no library at all, finds malocar, the
// kernel and the team kernel here. It serves requests until compare_products
// closes its end of the socket, and dies with compare_products (SIGKILL on
// the parent's death), so no worker outlives the run that started it.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dense/dense_core.hpp>
#include <dense/textio.hpp>
#include <iterator>
#include <string>
#include <vector>

#include "common/matrix_records.hpp"
#include "tools/common/stdout_sink.hpp"
#include "worker_protocol.hpp"

namespace {

namespace wp = compare_products::worker_protocol;
using dense_core::matriz;

using product_call = matriz* (*)(const matriz* a, const matriz* b, int32_t threads);

// How a call left one factor: its record, its row table, then its values
// (read through the rows as made), each against what was handed over; `flat`
// holds its rows one after another. Empty when all are as they were handed over.
std::string changed_factor(const char* name, const matriz& now, const matriz& made,
                           const std::vector<int32_t*>& rows, const int32_t* flat) {
  const std::string head = std::string("changed its input ") + name + ": ";
  if (now.lin != made.lin || now.col != made.col || now.mat != made.mat) {
    return head + "its record (lin, col or mat) was " + std::to_string(made.lin) + "x" +
           std::to_string(made.col) + ", now " + std::to_string(now.lin) + "x" +
           std::to_string(now.col) + (now.mat != made.mat ? " with another row table" : "");
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    if (made.mat[i] != rows[i]) {
      return head + "row " + std::to_string(i) + " (0-based) of its row table points elsewhere";
    }
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    for (int32_t j = 0; j < made.col; ++j) {
      const int32_t was = flat[i * static_cast<size_t>(made.col) + static_cast<size_t>(j)];
      if (rows[i][j] != was) {
        return head + "first changed element row " + std::to_string(i) + ", column " +
               std::to_string(j) + " (0-based): handed over " + std::to_string(was) + ", now " +
               std::to_string(rows[i][j]);
      }
    }
  }
  return {};
}

// The mappings of the shared memory for the shape last multiplied, and the
// factors the product is given.
struct mapped {
  int32_t rows = 0;
  int32_t inner = 0;
  int32_t cols = 0;
  void* result = nullptr;   // read-write
  void* factors = nullptr;  // read-only
  wp::memory_layout layout{};
  // The factors as the library makes matrices (malocar: a heap block per
  // row), as the kit's own methods get them: rows laid out otherwise (one
  // block, every row on a page boundary) would make a product faster or
  // slower here than beside the kit's methods. Put back afresh before every
  // call, record, row table and values, so a product that writes into its
  // const factors (their values, their shape, their rows) spoils only its own result.
  matriz* a = nullptr;
  matriz* b = nullptr;
  matriz a_made{};
  matriz b_made{};
  std::vector<int32_t*> a_rows;
  std::vector<int32_t*> b_rows;

  void release() {
    if (result != nullptr) {
      munmap(result, layout.result_bytes);
    }
    if (factors != nullptr) {
      munmap(factors, layout.a_bytes + layout.b_bytes);
    }
    if (a != nullptr && b != nullptr) {
      put_back();
    }
    dense_detail::release_matrix(a);
    dense_detail::release_matrix(b);
    *this = mapped();
  }

  // Notes the factors' records and row tables as made, to put back before each call.
  void note_made() {
    a_made = *a;
    b_made = *b;
    a_rows.assign(a->mat, a->mat + a->lin);
    b_rows.assign(b->mat, b->mat + b->lin);
  }

  // The factors' records and row tables as they were made.
  void put_back() {
    *a = a_made;
    *b = b_made;
    std::copy(a_rows.begin(), a_rows.end(), a->mat);
    std::copy(b_rows.begin(), b_rows.end(), b->mat);
  }

  // Which factor the call changed and how (changed_factor), A first; empty when neither.
  std::string changed() const {
    const auto* flat = static_cast<const int32_t*>(factors);
    const std::string in_a = changed_factor("A", *a, a_made, a_rows, flat);
    return !in_a.empty()
               ? in_a
               : changed_factor("B", *b, b_made, b_rows,
                                flat + static_cast<size_t>(rows) * static_cast<size_t>(inner));
  }

  // The factors from the shared memory into a and b, as they were made.
  void copy_factors() {
    put_back();
    wp::from_flat(wp::from_flat(static_cast<const int32_t*>(factors), a), b);
  }
};

// Copies of the descriptors the worker lives on (stdout, stderr, the socket,
// the shared memory), kept far above where a product that "closes every
// descriptor" reaches, and put back after each call.
class kept_descriptors {
 public:
  void keep() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
      limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1 << 16);
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    const int high = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur > 64
                         ? static_cast<int>(limit.rlim_cur) - 8
                         : 64;
    for (size_t i = 0; i < std::size(kFds); ++i) {
      copies_[i] = fcntl(kFds[i], F_DUPFD_CLOEXEC, high);
      fstat(kFds[i], &files_[i]);
    }
  }
  // Puts back each descriptor that is closed, or open on another file; false
  // when the socket could not be.
  bool restore() const {
    bool socket_ok = true;
    for (size_t i = 0; i < std::size(kFds); ++i) {
      struct stat now {};
      const bool same = fstat(kFds[i], &now) == 0 && now.st_dev == files_[i].st_dev &&
                        now.st_ino == files_[i].st_ino;
      if (!same && (copies_[i] < 0 || dup2(copies_[i], kFds[i]) < 0) && kFds[i] == wp::kRequestFd) {
        socket_ok = false;
      }
    }
    return socket_ok;
  }

 private:
  static constexpr int kFds[] = {1, 2, wp::kRequestFd, wp::kMemoryFd};
  int copies_[std::size(kFds)] = {-1, -1, -1, -1};
  struct stat files_[std::size(kFds)]{};
};

void copy_text(char* to, size_t size, const std::string& text) {
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(to, text.data(), n);
  to[n] = '\0';
}

// Maps the shared memory for rows x inner x cols and makes the factors'
// matrices; false when it cannot.
bool map_shape(mapped& m, int32_t rows, int32_t inner, int32_t cols) {
  if (m.rows == rows && m.inner == inner && m.cols == cols && m.result != nullptr) {
    return true;
  }
  m.release();
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  m.layout = wp::layout_for(rows, inner, cols, page);
  m.result =
      mmap(nullptr, m.layout.result_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, wp::kMemoryFd, 0);
  m.factors = mmap(nullptr, m.layout.a_bytes + m.layout.b_bytes, PROT_READ, MAP_SHARED,
                   wp::kMemoryFd, static_cast<off_t>(m.layout.factors_offset));
  if (m.result == MAP_FAILED || m.factors == MAP_FAILED) {
    m.result = m.result == MAP_FAILED ? nullptr : m.result;
    m.factors = m.factors == MAP_FAILED ? nullptr : m.factors;
    m.release();
    return false;
  }
  m.a = dense_detail::new_zeroed_matrix(rows, inner);
  m.b = dense_detail::new_zeroed_matrix(inner, cols);
  m.rows = rows;
  m.inner = inner;
  m.cols = cols;
  if (m.a == nullptr || m.b == nullptr) {
    m.release();
    return false;
  }
  m.note_made();
  return true;
}

wp::reply load(const wp::request& q, void** library, product_call* call) {
  wp::reply r{};
  // Loading runs the library's constructors: they may print, and stdout is not ours to give.
  *library = dlopen(q.path, RTLD_NOW | RTLD_LOCAL);
  if (*library == nullptr) {
    r.kind = wp::reply_kind::cannot_open;
    const char* why = dlerror();
    copy_text(r.text, sizeof r.text, why != nullptr ? why : "unknown error");
    return r;
  }
  dlerror();
  void* symbol = dlsym(*library, q.symbol);
  const char* why = dlerror();
  if (symbol == nullptr || why != nullptr) {
    r.kind = wp::reply_kind::no_symbol;
    copy_text(r.text, sizeof r.text, why != nullptr ? why : "");
    return r;
  }
  // POSIX gives an object pointer; the contract says it is a function of this type.
  *call = reinterpret_cast<product_call>(symbol);
  r.kind = wp::reply_kind::loaded;
  return r;
}

wp::reply multiply(const wp::request& q, product_call call, mapped& m,
                   tool_common::stdout_sink& sink) {
  wp::reply r{};
  if (call == nullptr) {
    r.kind = wp::reply_kind::not_loaded;
    return r;
  }
  if (!map_shape(m, q.rows, q.inner, q.cols)) {
    r.kind = wp::reply_kind::no_result;
    copy_text(r.text, sizeof r.text, "the worker could not map the factors");
    return r;
  }
  m.copy_factors();
  sink.begin();
  const double start = textio::wtime();
  matriz* c = call(m.a, m.b, q.threads);
  const double stop = textio::wtime();
  const std::string said = sink.end();
  r.seconds = stop - start;
  const std::string changed = m.changed();
  if (!changed.empty()) {
    r.kind = wp::reply_kind::changed_input;
    copy_text(r.text, sizeof r.text, changed);
    dense_detail::release_matrix(c);
    return r;
  }
  if (c == nullptr) {
    r.kind = wp::reply_kind::no_result;
    copy_text(r.text, sizeof r.text, said);
    return r;
  }
  r.lin = c->lin;
  r.col = c->col;
  if (c->mat == nullptr) {
    r.kind = wp::reply_kind::no_storage;
  } else if (c->lin != q.rows || c->col != q.cols) {
    r.kind = wp::reply_kind::wrong_shape;
  } else {
    wp::to_flat(c, static_cast<int32_t*>(m.result));
    r.kind = wp::reply_kind::product;
  }
  // The contract hands the caller a matrix to release with mliberar and free.
  dense_detail::release_matrix(c);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  // Die with the process that started us, and not be left behind if it is already gone.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (argc < 2 || std::to_string(getppid()) != argv[1]) {
    return 1;
  }
  // A crash ends the worker with its signal whatever runtime is linked in (a
  // sanitizer would otherwise report it and exit), so compare_products can name it.
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
    std::signal(sig, SIG_DFL);
  }
  void* library = nullptr;
  product_call call = nullptr;
  mapped m;
  tool_common::stdout_sink sink;
  kept_descriptors kept;
  kept.keep();
  for (;;) {
    wp::request q{};
    const ssize_t got = recv(wp::kRequestFd, &q, sizeof q, 0);
    if (got != static_cast<ssize_t>(sizeof q)) {
      break;  // compare_products closed its end (or sent nonsense): done
    }
    q.path[sizeof q.path - 1] = '\0';
    q.symbol[sizeof q.symbol - 1] = '\0';
    const wp::reply r =
        q.kind == wp::request_kind::load ? load(q, &library, &call) : multiply(q, call, m, sink);
    if (!kept.restore()) {
      // Ends at once, with the status compare_products reads for it: an exit
      // through the runtime's exit handlers (a sanitizer build's leak check
      // over what the product left) could replace that status with its own.
      std::_Exit(wp::kLostDescriptorsStatus);
    }
    if (send(wp::kRequestFd, &r, sizeof r, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof r)) {
      break;
    }
  }
  m.release();
  return 0;
}
