// mpi_compare: times the MPI products of dense_mpi on 1, 2, 4, ... ranks and checks each result.
//
// Started under mpirun; every rank runs this main. Rank 0 alone decides
// (options, the CSV file, memory) and tells the others before anyone waits
// on anyone, holds the whole factors and the reference product, and prints.
// Each rank count is measured on a communicator of the first ranks; the
// ranks left out wait in a sleeping barrier so that they leave the cores to
// the ranks that work.
#include <mpi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/dense_core.hpp>
#include <dense/mpi_products.hpp>
#include <dense/team_kernel.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/matrix_records.hpp"
#include "count.hpp"
#include "options.hpp"
#include "report.hpp"
#include "tools/common/exit_status.hpp"
#include "tools/common/memory.hpp"
#include "tools/common/seeded.hpp"

#ifndef DENSE_VERSION
#define DENSE_VERSION "unknown"
#endif

namespace {

using dense_core::matriz;
using mpi_compare::method;
using mpi_compare::options;

using tool_common::kExitDiffers;
using tool_common::kExitRefused;
using tool_common::kExitWriteFailed;
constexpr int kTagCheck = 77;

// The program's own MPI calls: an error ends the job in one line, never a hang.
void need(int rc) {
  if (rc == MPI_SUCCESS) {
    return;
  }
  char text[MPI_MAX_ERROR_STRING] = {};
  int length = 0;
  MPI_Error_string(rc, text, &length);
  std::fprintf(stderr, "mpi_compare: MPI: %s\n", text);
  MPI_Abort(MPI_COMM_WORLD, kExitDiffers);
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

// A barrier that sleeps instead of spinning, for ranks with nothing to do.
void wait_quietly(MPI_Comm comm) {
  MPI_Request request = MPI_REQUEST_NULL;
  need(MPI_Ibarrier(comm, &request));
  int done = 0;
  while (done == 0) {
    need(MPI_Test(&request, &done, MPI_STATUS_IGNORE));
    if (done == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

// Element (i, j) of factor `which` (0: A, 1: B), from 1 to `limit`: any
// rank can make any block without a message.
int32_t value(uint32_t seed, int32_t limit, uint32_t which, int64_t i, int64_t j) {
  const uint64_t x = tool_common::mix64(
      (static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(which) << 62) ^
      (static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ull) ^ static_cast<uint64_t>(j));
  return static_cast<int32_t>(x % static_cast<uint64_t>(limit)) + 1;
}

void release(matriz* m) { dense_detail::release_matrix(m); }

// Block `blk` of factor `which` (whole matrix: the block of all of it); null when empty.
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
    MPI_Abort(MPI_COMM_WORLD, kExitDiffers);
  }
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < cols; ++j) {
      m->mat[i][j] =
          which > 1 ? 0 : value(o.seed, o.limit, which, blk.lin_inicio + i, blk.col_inicio + j);
    }
  }
  return m;
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

// Rank 0's decision on everything the user can get wrong, before any work.
struct decision {
  int status = 0;  // 0: go on; else the exit status
  std::string why;
  bool print_help = false;
  bool print_version = false;
};

decision decide(const mpi_compare::parse_result& parsed, FILE** csv) {
  decision d;
  if (!parsed.error.empty()) {
    d.status = kExitRefused;
    d.why = parsed.error;
    return d;
  }
  const options& o = parsed.opts;
  if (o.help || o.version) {
    d.print_help = o.help;
    d.print_version = !o.help;
    return d;
  }
  // Rank 0 holds A, B, the reference and the result, and the products' packed copies.
  const double a = static_cast<double>(o.rows) * o.inner;
  const double b = static_cast<double>(o.inner) * o.cols;
  const double c = static_cast<double>(o.rows) * o.cols;
  const std::string why = tool_common::memory_refusal(
      o.shape_option, o.rows, o.inner, o.cols, " on rank 0", 4.0 * (2 * a + 2 * b + 3 * c),
      static_cast<double>(tool_common::available_bytes()));
  if (!why.empty()) {
    d.status = kExitRefused;
    d.why = why;
    return d;
  }
  if (!o.csv.empty()) {
    *csv = std::fopen(o.csv.c_str(), "w");
    if (*csv == nullptr) {
      d.status = kExitRefused;
      d.why = "--csv: cannot write '" + o.csv + "': " + std::strerror(errno);
    }
  }
  return d;
}

// What every rank of one measurement needs.
struct setup {
  const options* o;
  const matriz* a;          // rank 0 only
  const matriz* b;          // rank 0 only
  const matriz* reference;  // rank 0 only
};

// Rank 0 receives every rank's block of c and compares it with the reference.
bool check_blocks(MPI_Comm comm, const int grid[2], const setup& s, const matriz* mine) {
  int rank = 0, size = 0;
  need(MPI_Comm_rank(comm, &rank));
  need(MPI_Comm_size(comm, &size));
  const options& o = *s.o;
  if (rank != 0) {
    const auto blk = mpi_products::bloco_do_rank(o.rows, o.cols, grid[0], grid[1], rank);
    const int32_t cols = blk.col_fim - blk.col_inicio;
    std::vector<int32_t> flat;
    for (int32_t i = 0; mine != nullptr && i < mine->lin; ++i) {
      flat.insert(flat.end(), mine->mat[i], mine->mat[i] + cols);
    }
    if (!flat.empty()) {
      need(MPI_Send(flat.data(), static_cast<int>(flat.size()), MPI_INT32_T, 0, kTagCheck, comm));
    }
    return true;
  }
  bool ok = true;
  for (int r = 0; r < size; ++r) {
    const auto blk = mpi_products::bloco_do_rank(o.rows, o.cols, grid[0], grid[1], r);
    const int64_t count =
        static_cast<int64_t>(blk.lin_fim - blk.lin_inicio) * (blk.col_fim - blk.col_inicio);
    if (count == 0) {
      continue;
    }
    std::vector<int32_t> flat(static_cast<size_t>(count));
    if (r == 0) {
      for (int32_t i = 0; i < mine->lin; ++i) {
        std::copy(mine->mat[i], mine->mat[i] + mine->col,
                  flat.begin() + static_cast<ptrdiff_t>(i) * mine->col);
      }
    } else {
      need(MPI_Recv(flat.data(), static_cast<int>(count), MPI_INT32_T, r, kTagCheck, comm,
                    MPI_STATUS_IGNORE));
    }
    ok = ok && same_block(s.reference, blk, flat.data());
  }
  return ok;
}

// One method at one thread count on the ranks of `comm`; the row is complete on rank 0.
mpi_compare::row measure(method m, int32_t threads, MPI_Comm comm, const setup& s) {
  int rank = 0, size = 0;
  need(MPI_Comm_rank(comm, &rank));
  need(MPI_Comm_size(comm, &size));
  const options& o = *s.o;
  mpi_compare::row r;
  r.m = m;
  r.ranks = size;
  r.threads = threads;
  r.grid[0] = size;
  r.grid[1] = 1;
  MPI_Comm grid = MPI_COMM_NULL;
  matriz* my_a = nullptr;
  matriz* my_b = nullptr;
  matriz* my_c = nullptr;
  if (m != method::rows) {
    r.grid[0] = r.grid[1] = 0;
    need(MPI_Dims_create(size, 2, r.grid));
  }
  if (m == method::summa_blocks) {
    need(mpi_products::criar_grade(comm, &grid));
    my_a =
        make_block(o, 0, mpi_products::bloco_do_rank(o.rows, o.inner, r.grid[0], r.grid[1], rank));
    my_b =
        make_block(o, 1, mpi_products::bloco_do_rank(o.inner, o.cols, r.grid[0], r.grid[1], rank));
  }
  mpi_compare::traffic t;
  for (int32_t rep = 0; rep < o.repeat; ++rep) {
    if (m == method::summa_blocks) {
      release(my_c);
      my_c =
          make_block(o, 2, mpi_products::bloco_do_rank(o.rows, o.cols, r.grid[0], r.grid[1], rank));
    }
    need(MPI_Barrier(comm));
    mpi_compare::start_counting();
    const double t0 = MPI_Wtime();
    matriz* c = nullptr;
    if (m == method::rows) {
      c = mpi_products::multiplicarMPI(s.a, s.b, threads, comm);
    } else if (m == method::summa) {
      c = mpi_products::multiplicarSUMMA(s.a, s.b, threads, comm);
    } else {
      mpi_products::multiplicarSUMMAblocos(my_a, my_b, my_c, o.rows, o.inner, o.cols, threads,
                                           grid);
    }
    const double mine = MPI_Wtime() - t0;
    t = mpi_compare::stop_counting();
    double slowest = 0;
    need(MPI_Reduce(&mine, &slowest, 1, MPI_DOUBLE, MPI_MAX, 0, comm));
    bool ok = true;
    if (m == method::summa_blocks) {
      ok = check_blocks(comm, r.grid, s, my_c);
    } else if (rank == 0) {
      ok = same_matrix(c, s.reference);
    }
    release(c);
    if (rank == 0) {
      r.seconds.push_back(slowest);
      r.identical = r.identical && ok;
    }
  }
  // Every repetition moves the same bytes; the last one's are reported.
  const uint64_t mine[2] = {t.sent, t.received};
  std::vector<uint64_t> all(static_cast<size_t>(rank == 0 ? 2 * size : 0));
  need(MPI_Gather(mine, 2, MPI_UINT64_T, all.data(), 2, MPI_UINT64_T, 0, comm));
  for (int q = 0; rank == 0 && q < size; ++q) {
    const auto sent = static_cast<double>(all[2 * static_cast<size_t>(q)]);
    const auto received = static_cast<double>(all[2 * static_cast<size_t>(q) + 1]);
    r.mean_bytes += sent / size;
    r.max_sent = std::max(r.max_sent, sent);
    r.max_received = std::max(r.max_received, received);
  }
  release(my_a);
  release(my_b);
  release(my_c);
  if (grid != MPI_COMM_NULL) {
    MPI_Comm_free(&grid);
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  need(MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN));
  const int rank = world_rank();
  const int ranks = world_size();
  const bool root = rank == 0;

  const auto parsed = mpi_compare::parse_options(argc, argv);
  FILE* csv = nullptr;
  decision d;
  if (root) {
    d = decide(parsed, &csv);
  }
  int verdict[3] = {d.status, d.print_help ? 1 : 0, d.print_version ? 1 : 0};
  need(MPI_Bcast(verdict, 3, MPI_INT, 0, MPI_COMM_WORLD));
  if (verdict[0] != 0 || verdict[1] != 0 || verdict[2] != 0) {
    if (root && verdict[0] != 0) {
      std::fprintf(stderr, "mpi_compare: %s\n", d.why.c_str());
    } else if (root && verdict[1] != 0) {
      std::fputs(mpi_compare::help_text().c_str(), stdout);
    } else if (root) {
      char library[MPI_MAX_LIBRARY_VERSION_STRING] = {};
      int length = 0;
      MPI_Get_library_version(library, &length);
      const std::string text(library, static_cast<size_t>(length));
      std::printf("mpi_compare (dense-kit) %s\n%s\n", DENSE_VERSION,
                  text.substr(0, text.find_first_of("\n,")).c_str());
    }
    std::fflush(stdout);
    MPI_Finalize();
    return verdict[0];
  }
  const options& o = parsed.opts;

  // Rank 0: the whole factors and the team kernel's product to check against.
  setup s{&o, nullptr, nullptr, nullptr};
  matriz* a = nullptr;
  matriz* b = nullptr;
  matriz* reference = nullptr;
  if (root) {
    a = make_block(o, 0, dense_arith::bloco{0, o.rows, 0, o.inner});
    b = make_block(o, 1, dense_arith::bloco{0, o.inner, 0, o.cols});
    reference = team_kernel::multiplicarKernelOMP(a, b, o.threads.back());
    if (reference == nullptr) {
      std::fprintf(stderr, "mpi_compare: the team kernel gave no reference product\n");
      MPI_Abort(MPI_COMM_WORLD, kExitDiffers);
    }
    s = setup{&o, a, b, reference};
  }

  std::vector<mpi_compare::row> rows;
  for (int32_t p : mpi_compare::rank_counts(ranks)) {
    MPI_Comm some = MPI_COMM_NULL;
    need(MPI_Comm_split(MPI_COMM_WORLD, rank < p ? 0 : MPI_UNDEFINED, rank, &some));
    if (some != MPI_COMM_NULL) {
      need(MPI_Comm_set_errhandler(some, MPI_ERRORS_RETURN));
      for (method m : o.methods) {
        for (int32_t t : o.threads) {
          rows.push_back(measure(m, t, some, s));
        }
      }
      MPI_Comm_free(&some);
    }
    wait_quietly(MPI_COMM_WORLD);
  }

  int status = 0;
  if (root) {
    mpi_compare::derive(rows, o);
    std::printf(
        "mpi_compare: A %dx%d times B %dx%d, values 1..%d from seed %u, %d rank%s, median of %d "
        "repetition%s\n\n",
        o.rows, o.inner, o.inner, o.cols, o.limit, o.seed, ranks, ranks == 1 ? "" : "s", o.repeat,
        o.repeat == 1 ? "" : "s");
    std::fputs(mpi_compare::format_table(rows).c_str(), stdout);
    std::fflush(stdout);
    for (const auto& r : rows) {
      if (!r.identical) {
        std::fprintf(stderr,
                     "mpi_compare: %s on %d rank%s, %d thread%s each, differs from the team "
                     "kernel's product\n",
                     mpi_compare::methods()[static_cast<size_t>(r.m)].name, r.ranks,
                     r.ranks == 1 ? "" : "s", r.threads, r.threads == 1 ? "" : "s");
        status = kExitDiffers;
      }
    }
    if (csv != nullptr) {
      const std::string text = mpi_compare::format_csv(rows);
      std::fwrite(text.data(), 1, text.size(), csv);
      if (std::ferror(csv) != 0 || std::fclose(csv) != 0) {
        std::fprintf(stderr, "mpi_compare: --csv: could not write '%s'\n", o.csv.c_str());
        status = status == 0 ? kExitWriteFailed : status;
      }
    }
  }
  release(reference);
  release(a);
  release(b);
  need(MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD));
  MPI_Finalize();
  return status;
}
