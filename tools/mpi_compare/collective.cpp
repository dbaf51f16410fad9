// One collective product on the first ranks, timed, checked and counted.
#include "collective.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dense/mpi_products.hpp>
#include <dense/team_kernel.hpp>
#include <thread>

#include "common/matrix_records.hpp"
#include "common/trace.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/machine.hpp"
#include "tools/common/seeded.hpp"

namespace mpi_compare {
namespace {

using dense_core::matriz;
constexpr int kTagCheck = 77;

// Element (i, j) of factor `which` (0: A, 1: B), from 1 to `limit`: any
// rank can make any block without a message.
int32_t value(uint32_t seed, int32_t limit, uint32_t which, int64_t i, int64_t j) {
  const uint64_t x = tool_common::mix64(
      (static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(which) << 62) ^
      (static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ull) ^ static_cast<uint64_t>(j));
  return static_cast<int32_t>(x % static_cast<uint64_t>(limit)) + 1;
}

// Block `blk` of factor `which` (2: zeros, for c); null when empty.
matriz* make_block(const options& o, uint32_t which, const dense_arith::bloco& blk) {
  const int32_t rows = blk.lin_fim - blk.lin_inicio;
  const int32_t cols = blk.col_fim - blk.col_inicio;
  if (rows <= 0 || cols <= 0) {
    return nullptr;
  }
  matriz* m = dense_detail::new_zeroed_matrix(rows, cols);
  if (m == nullptr) {
    std::fprintf(stderr, "mpi_compare: rank %d: not enough memory for a %dx%d block\n",
                 world_rank(), rows, cols);
    MPI_Abort(MPI_COMM_WORLD, tool_common::kExitDiffers);
  }
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < cols; ++j) {
      m->mat[i][j] =
          which > 1 ? 0 : value(o.seed, o.limit, which, blk.lin_inicio + i, blk.col_inicio + j);
    }
  }
  return m;
}

dense_arith::bloco block_of(const row_setup& r, int32_t rows, int32_t cols, int rank) {
  return mpi_products::bloco_do_rank(rows, cols, r.grid[0], r.grid[1], rank);
}

bool same_block(const matriz* whole, const dense_arith::bloco& blk, const int32_t* values) {
  const int32_t cols = blk.col_fim - blk.col_inicio;
  for (int32_t i = blk.lin_inicio; i < blk.lin_fim; ++i) {
    if (std::memcmp(whole->mat[i] + blk.col_inicio,
                    values + static_cast<size_t>(i - blk.lin_inicio) * cols,
                    static_cast<size_t>(cols) * sizeof(int32_t)) != 0) {
      return false;
    }
  }
  return true;
}

bool same_matrix(const matriz* x, const matriz* y) {
  if (x == nullptr || y == nullptr || x->lin != y->lin || x->col != y->col) {
    return false;
  }
  for (int32_t i = 0; i < x->lin; ++i) {
    if (std::memcmp(x->mat[i], y->mat[i], static_cast<size_t>(x->col) * sizeof(int32_t)) != 0) {
      return false;
    }
  }
  return true;
}

// A matrix's elements row after row.
std::vector<int32_t> flat(const matriz* m) {
  std::vector<int32_t> out;
  for (int32_t i = 0; m != nullptr && i < m->lin; ++i) {
    out.insert(out.end(), m->mat[i], m->mat[i] + m->col);
  }
  return out;
}

// Rank 0 receives every rank's block of c and compares it with the reference.
bool check_blocks(const options& o, const row_setup& r, const whole_factors& w) {
  int rank = 0;
  need(MPI_Comm_rank(r.comm, &rank));
  if (rank != 0) {
    std::vector<int32_t> mine = flat(r.my_c);
    if (!mine.empty()) {
      need(MPI_Send(mine.data(), static_cast<int>(mine.size()), MPI_INT32_T, 0, kTagCheck, r.comm));
    }
    return true;
  }
  bool ok = true;
  for (int q = 0; q < r.ranks; ++q) {
    const auto blk = block_of(r, o.rows, o.cols, q);
    const int64_t count =
        static_cast<int64_t>(blk.lin_fim - blk.lin_inicio) * (blk.col_fim - blk.col_inicio);
    if (count == 0) {
      continue;
    }
    std::vector<int32_t> theirs = q == 0 ? flat(r.my_c) : std::vector<int32_t>(count);
    if (q != 0) {
      need(MPI_Recv(theirs.data(), static_cast<int>(count), MPI_INT32_T, q, kTagCheck, r.comm,
                    MPI_STATUS_IGNORE));
    }
    ok = ok && same_block(w.reference, blk, theirs.data());
  }
  return ok;
}

// Row `r`'s product on this rank: c on rank 0 of rows and summa, else null
// (summa-blocks adds into the rank's own block of c).
matriz* product(const options& o, row_setup& r, const whole_factors& w) {
  if (r.m == method::rows) {
    return mpi_products::multiplicarMPI(w.a, w.b, r.threads, r.comm);
  }
  if (r.m == method::summa) {
    return mpi_products::multiplicarSUMMA(w.a, w.b, r.threads, r.comm);
  }
  mpi_products::multiplicarSUMMAblocos(r.my_a, r.my_b, r.my_c, o.rows, o.inner, o.cols, r.threads,
                                       r.grid_comm);
  return nullptr;
}

// The product of row `r` on its ranks, timed on each; the slowest time on rank 0.
double timed_product(const options& o, row_setup& r, const whole_factors& w, matriz** c) {
  need(MPI_Barrier(r.comm));
  start_counting();
  const double t0 = MPI_Wtime();
  *c = product(o, r, w);
  const double mine = MPI_Wtime() - t0;
  r.last = stop_counting();
  double slowest = 0;
  need(MPI_Reduce(&mine, &slowest, 1, MPI_DOUBLE, MPI_MAX, 0, r.comm));
  return slowest;
}

// Row `r` on this rank: its communicator (the one of its rank count), and
// for summa-blocks its grid and this rank's blocks of a and b.
row_setup set_up(const options& o, method m, int32_t threads, int32_t ranks, MPI_Comm comm) {
  row_setup r;
  r.m = m;
  r.threads = threads;
  r.ranks = ranks;
  r.grid[0] = ranks;
  r.comm = comm;
  if (m != method::rows) {
    r.grid[0] = r.grid[1] = 0;
    need(MPI_Dims_create(ranks, 2, r.grid));
  }
  if (m == method::summa_blocks && comm != MPI_COMM_NULL) {
    int rank = 0;
    need(MPI_Comm_rank(comm, &rank));
    need(mpi_products::criar_grade(comm, &r.grid_comm));
    r.my_a = make_block(o, 0, block_of(r, o.rows, o.inner, rank));
    r.my_b = make_block(o, 1, block_of(r, o.inner, o.cols, rank));
  }
  return r;
}

}  // namespace

void need(int rc) {
  if (rc == MPI_SUCCESS) {
    return;
  }
  char text[MPI_MAX_ERROR_STRING] = {};
  int length = 0;
  MPI_Error_string(rc, text, &length);
  std::fprintf(stderr, "mpi_compare: MPI: %s\n", text);
  MPI_Abort(MPI_COMM_WORLD, tool_common::kExitDiffers);
}

int world_rank() {
  int r = 0;
  need(MPI_Comm_rank(MPI_COMM_WORLD, &r));
  return r;
}

int world_size() {
  int s = 0;
  need(MPI_Comm_size(MPI_COMM_WORLD, &s));
  return s;
}

void wait_idle(MPI_Comm comm, bool poll) {
  MPI_Request request = MPI_REQUEST_NULL;
  need(MPI_Ibarrier(comm, &request));
  int done = 0;
  while (done == 0) {
    need(MPI_Test(&request, &done, MPI_STATUS_IGNORE));
    if (done == 0 && !poll) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

bool idle_ranks_poll(const options& o) {
  MPI_Comm host = MPI_COMM_NULL;
  need(MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &host));
  int here = 1;
  need(MPI_Comm_size(host, &here));
  MPI_Comm_free(&host);
  const int32_t most_threads = *std::max_element(o.threads.begin(), o.threads.end());
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  return cpus > 0 && static_cast<int64_t>(here) * most_threads <= cpus;
}

whole_factors make_whole_factors(const options& o) {
  whole_factors w;
  w.a = make_block(o, 0, dense_arith::bloco{0, o.rows, 0, o.inner});
  w.b = make_block(o, 1, dense_arith::bloco{0, o.inner, 0, o.cols});
  w.reference = team_kernel::multiplicarKernelOMP(w.a, w.b, o.threads.back());
  if (w.reference == nullptr) {
    std::fprintf(stderr, "mpi_compare: the team kernel gave no reference product\n");
    MPI_Abort(MPI_COMM_WORLD, tool_common::kExitDiffers);
  }
  return w;
}

void release(whole_factors& w) {
  dense_detail::release_matrix(w.a);
  dense_detail::release_matrix(w.b);
  dense_detail::release_matrix(w.reference);
  w = {};
}

std::vector<row_setup> set_up_rows(const options& o) {
  const int rank = world_rank();
  const bool poll = idle_ranks_poll(o);
  std::vector<row_setup> setups;
  for (int32_t p : rank_counts(world_size())) {
    MPI_Comm some = MPI_COMM_NULL;
    need(MPI_Comm_split(MPI_COMM_WORLD, rank < p ? 0 : MPI_UNDEFINED, rank, &some));
    if (some != MPI_COMM_NULL) {
      need(MPI_Comm_set_errhandler(some, MPI_ERRORS_RETURN));
    }
    for (method m : o.methods) {
      for (int32_t t : o.threads) {
        setups.push_back(set_up(o, m, t, p, some));
        setups.back().poll_when_idle = poll;
      }
    }
  }
  return setups;
}

tool_common::call_result collective_call(const options& o, row_setup& r, const whole_factors& w) {
  tool_common::call_result got;
  if (r.comm != MPI_COMM_NULL) {
    if (r.m == method::summa_blocks) {
      int rank = 0;
      need(MPI_Comm_rank(r.comm, &rank));
      dense_detail::release_matrix(r.my_c);
      r.my_c = make_block(o, 2, block_of(r, o.rows, o.cols, rank));
    }
    matriz* c = nullptr;
    got.seconds = timed_product(o, r, w, &c);
    const bool ok = r.m == method::summa_blocks ? check_blocks(o, r, w)
                                                : world_rank() != 0 || same_matrix(c, w.reference);
    dense_detail::release_matrix(c);
    if (!ok) {
      got.failure = "differs from the team kernel's product";
    }
  }
  wait_idle(MPI_COMM_WORLD, r.poll_when_idle);
  return got;
}

void traced_call(const options& o, row_setup& r, const whole_factors& w, double* start,
                 double* end) {
  if (r.comm != MPI_COMM_NULL) {
    if (r.m == method::summa_blocks) {
      int rank = 0;
      need(MPI_Comm_rank(r.comm, &rank));
      dense_detail::release_matrix(r.my_c);
      r.my_c = make_block(o, 2, block_of(r, o.rows, o.cols, rank));
    }
    need(MPI_Barrier(r.comm));
    *start = dense_detail::trace::now();
    matriz* c = product(o, r, w);
    *end = dense_detail::trace::now();
    dense_detail::release_matrix(c);
  }
  wait_idle(MPI_COMM_WORLD, r.poll_when_idle);
}

std::vector<row> rows_of(const options& o, const std::vector<row_setup>& setups) {
  std::vector<row> rows;
  for (const row_setup& s : setups) {
    row r;
    r.m = s.m;
    r.ranks = s.ranks;
    r.threads = s.threads;
    r.grid[0] = s.grid[0];
    r.grid[1] = s.grid[1];
    r.size = {o.rows, o.inner, o.cols};
    rows.push_back(r);
  }
  return rows;
}

void gather_traffic(const std::vector<row_setup>& setups, std::vector<row>& rows) {
  for (size_t i = 0; i < setups.size(); ++i) {
    const row_setup& s = setups[i];
    if (s.comm == MPI_COMM_NULL) {
      continue;
    }
    int rank = 0;
    need(MPI_Comm_rank(s.comm, &rank));
    const uint64_t mine[2] = {s.last.sent, s.last.received};
    std::vector<uint64_t> all(static_cast<size_t>(rank == 0 ? 2 * s.ranks : 0));
    need(MPI_Gather(mine, 2, MPI_UINT64_T, all.data(), 2, MPI_UINT64_T, 0, s.comm));
    for (size_t q = 0; rank == 0 && q < static_cast<size_t>(s.ranks); ++q) {
      rows[i].mean_bytes += static_cast<double>(all[2 * q]) / s.ranks;
      rows[i].max_sent = std::max(rows[i].max_sent, static_cast<double>(all[2 * q]));
      rows[i].max_received = std::max(rows[i].max_received, static_cast<double>(all[2 * q + 1]));
    }
  }
}

void release(std::vector<row_setup>& setups) {
  std::vector<MPI_Comm> freed;
  for (row_setup& s : setups) {
    dense_detail::release_matrix(s.my_a);
    dense_detail::release_matrix(s.my_b);
    dense_detail::release_matrix(s.my_c);
    if (s.grid_comm != MPI_COMM_NULL) {
      MPI_Comm_free(&s.grid_comm);
    }
    // The rows of one rank count share its communicator: freed once.
    if (s.comm != MPI_COMM_NULL && std::find(freed.begin(), freed.end(), s.comm) == freed.end()) {
      freed.push_back(s.comm);
    }
  }
  for (MPI_Comm& c : freed) {
    MPI_Comm_free(&c);
  }
  setups.clear();
}

double host_cpu_seconds(MPI_Comm host) {
  const double mine = tool_common::own_cpu_seconds();
  double all = 0.0;
  need(MPI_Reduce(&mine, &all, 1, MPI_DOUBLE, MPI_SUM, 0, host));
  return all;
}

}  // namespace mpi_compare
