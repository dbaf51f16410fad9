// What the MPI products share: messages, the checked MPI call, contiguous blocks, the agreed
// refusal.
#include "mpi/mpi_detail.hpp"

#include <sys/mman.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/team_kernel.hpp>
#include <vector>

#include "common/matrix_records.hpp"
#include "common/messages.hpp"
#include "mpi/phases.hpp"

namespace mpi_detail {

void print_refusal(int32_t why) {
  if (why == kMissing) {
    std::puts(dense_msg::kMissingMatrix);
  } else if (why == kMismatch) {
    std::puts(dense_msg::kInvalidForProduct);
  } else if (why == kNotAGrid) {
    print_mpi_error(MPI_ERR_TOPOLOGY);
  }
  std::fflush(stdout);
}

void print_mpi_error(int code) {
  char text[MPI_MAX_ERROR_STRING + 1] = {};
  int length = 0;
  if (MPI_Error_string(code, text, &length) != MPI_SUCCESS) {
    std::snprintf(text, sizeof text, "error code %d", code);
  }
  // One line, whatever MPI put in its string.
  for (char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      *p = ' ';
    }
  }
  std::printf("ERRO: MPI: %s\n", text);
  std::fflush(stdout);
}

void check(int code, MPI_Comm comm) {
  if (code == MPI_SUCCESS) {
    return;
  }
  print_mpi_error(code);
  MPI_Abort(comm, 1);
  std::exit(1);  // MPI_Abort does not come back; this is for a runtime that does.
}

void out_of_memory(MPI_Comm comm) {
  std::puts(dense_msg::kOutOfMemory);
  std::fflush(stdout);
  MPI_Abort(comm, 1);
  std::exit(1);
}

private_comm::private_comm(MPI_Comm comm) {
  if (comm == MPI_COMM_NULL) {
    print_mpi_error(MPI_ERR_COMM);
    return;
  }
  // MPI_Comm_dup is itself collective; an error in it goes to the caller's
  // handler, since we have no communicator of our own yet.
  MPI_Comm copy = MPI_COMM_NULL;
  const int rc = MPI_Comm_dup(comm, &copy);
  if (rc != MPI_SUCCESS) {
    print_mpi_error(rc);
    return;
  }
  comm_ = copy;
  check(MPI_Comm_set_errhandler(comm_, MPI_ERRORS_RETURN), comm_);
  check(MPI_Comm_rank(comm_, &rank_), comm_);
  check(MPI_Comm_size(comm_, &size_), comm_);
}

private_comm::~private_comm() {
  if (comm_ != MPI_COMM_NULL) {
    MPI_Comm_free(&comm_);
  }
}

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// `bytes` of heap, zeroed when `zeroed`. Blocks of a huge page and more are
// aligned to huge pages and asked to use them: a fresh block is touched page
// by page, and a 16 MiB block is 4096 page faults in 4 KiB pages but 8 in
// 2 MiB pages. Released with free either way.
void* big_block(size_t bytes, bool zeroed) {
  if (bytes < kHugePage) {
    return zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
  }
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p != nullptr) {
    madvise(p, rounded, MADV_HUGEPAGE);  // advice only: without it, small pages
    if (zeroed) {
      std::memset(p, 0, bytes);
    }
  }
  return p;
}

}  // namespace

packed::packed(int32_t rows, int32_t cols, MPI_Comm comm, start_as start) {
  m_.lin = rows;
  m_.col = cols;
  capacity_rows_ = rows;
  capacity_cols_ = cols;
  if (rows <= 0 || cols <= 0) {
    return;
  }
  const size_t count = static_cast<size_t>(rows) * static_cast<size_t>(cols);
  data_ = static_cast<int32_t*>(big_block(count * sizeof(int32_t), start == start_as::zeros));
  m_.mat = static_cast<int32_t**>(std::malloc(static_cast<size_t>(rows) * sizeof(int32_t*)));
  if (data_ == nullptr || m_.mat == nullptr) {
    std::free(data_);
    std::free(m_.mat);
    data_ = nullptr;
    m_.mat = nullptr;
    out_of_memory(comm);
  }
  for (int32_t i = 0; i < rows; ++i) {
    m_.mat[i] = row(i);
  }
}

void packed::reshape(int32_t rows, int32_t cols) {
  assert(rows <= capacity_rows_ && cols <= capacity_cols_);
  m_.lin = rows;
  m_.col = cols;
  for (int32_t i = 0; m_.mat != nullptr && i < m_.lin; ++i) {
    m_.mat[i] = row(i);
  }
}

packed::~packed() {
  std::free(m_.mat);
  std::free(data_);
}

row_type::row_type(int32_t cols, MPI_Comm comm) {
  check(MPI_Type_contiguous(cols, MPI_INT32_T, &type_), comm);
  check(MPI_Type_commit(&type_), comm);
}

row_type::~row_type() {
  if (type_ != MPI_DATATYPE_NULL) {
    MPI_Type_free(&type_);
  }
}

void copy_block(const dense_core::matriz* m, int32_t r0, int32_t c0, packed& out) {
  for (int32_t i = 0; i < out.rows() && !out.empty(); ++i) {
    std::memcpy(out.row(i), m->mat[r0 + i] + c0, static_cast<size_t>(out.cols()) * sizeof(int32_t));
  }
}

void place_block(packed& in, dense_core::matriz* m, int32_t r0, int32_t c0) {
  for (int32_t i = 0; i < in.rows() && !in.empty(); ++i) {
    std::memcpy(m->mat[r0 + i] + c0, in.row(i), static_cast<size_t>(in.cols()) * sizeof(int32_t));
  }
}

dense_core::matriz window(const dense_core::matriz* whole, int32_t rows, int32_t cols) {
  return dense_core::matriz{whole == nullptr ? nullptr : whole->mat, rows, cols};
}

namespace {

// A record whose element (0, 0) is element (v.r0, v.c0) of v's matrix: a row
// table of its own pointing into the same rows, no element copied. The kernel
// pairs a's columns with b's rows by index, so all three blocks must start at
// (0, 0) of their records.
dense_core::matriz shifted(view v, int32_t rows, int32_t cols, std::vector<int32_t*>& table) {
  if (v.r0 == 0 && v.c0 == 0) {
    return dense_core::matriz{v.m->mat, rows, cols};
  }
  table.resize(static_cast<size_t>(rows));
  for (int32_t i = 0; i < rows; ++i) {
    table[static_cast<size_t>(i)] = v.m->mat[v.r0 + i] + v.c0;
  }
  return dense_core::matriz{table.data(), rows, cols};
}

}  // namespace

void add_product(view a, view b, view c, int32_t rows, int32_t inner, int32_t cols,
                 int32_t threads) {
  if (rows == 0 || inner == 0 || cols == 0) {
    return;
  }
  std::vector<int32_t*> ta;
  std::vector<int32_t*> tb;
  std::vector<int32_t*> tc;
  dense_core::matriz ma = shifted(a, rows, inner, ta);
  dense_core::matriz mb = shifted(b, inner, cols, tb);
  dense_core::matriz mc = shifted(c, rows, cols, tc);
  dense_arith::bloco ba{0, rows, 0, inner};
  dense_arith::bloco bb{0, inner, 0, cols};
  dense_arith::bloco bc{0, rows, 0, cols};
  const dense_arith::submatriz sa{&ma, &ba};
  const dense_arith::submatriz sb{&mb, &bb};
  const dense_arith::submatriz sc{&mc, &bc};
  // Every block was sized and allocated here, so the kernel has nothing to refuse.
  const phases::span computing(phases::kCompute, phases::kCaller);
  team_kernel::mmsubmatrizOMP(&sa, &sb, &sc, threads);
}

namespace {

// Rank 0's verdict on the factors it holds.
int32_t judge_factors(const dense_core::matriz* a, const dense_core::matriz* b) {
  if (a == nullptr || b == nullptr || a->mat == nullptr || b->mat == nullptr) {
    return kMissing;
  }
  if (a->col != b->lin || a->lin <= 0 || a->col <= 0 || b->col <= 0) {
    return kMismatch;
  }
  return kAccepted;
}

}  // namespace

bool agree_on_factors(const dense_core::matriz* a, const dense_core::matriz* b,
                      const private_comm& pc, product_shape* shape) {
  const phases::span agreeing(phases::kAgree, phases::kCaller);
  const bool root = pc.rank() == 0;
  int32_t header[4] = {kAccepted, 0, 0, 0};
  if (root) {
    header[0] = judge_factors(a, b);
    if (header[0] == kAccepted) {
      header[1] = a->lin;
      header[2] = a->col;
      header[3] = b->col;
    }
  }
  check(MPI_Bcast(header, 4, MPI_INT32_T, 0, pc.get()), pc.get());
  if (header[0] != kAccepted) {
    if (root) {
      print_refusal(header[0]);
    }
    return false;
  }
  *shape = {header[1], header[2], header[3]};
  return true;
}

dense_core::matriz* new_result(int32_t lin, int32_t col, MPI_Comm comm) {
  dense_core::matriz* m = dense_detail::new_zeroed_matrix(lin, col);
  if (m == nullptr) {
    out_of_memory(comm);
  }
  return m;
}

}  // namespace mpi_detail
