// Step 5, solution: the row blocks of step 4 taken one at a time from an atomic counter by every
// thread of an OpenMP team, until none is left (docs/exercises.md, Step 5).
//
// Why: step 4's share is fixed before the loop starts, so the call ends when the slowest thread
// ends. On a machine that is never quiet a thread can lose half its core for the whole call
// (another process, another user), and the other thread then waits for it at the loop's end.
// Here each thread asks the counter for the next block (a relaxed fetch_add: the counter only
// has to hand out each number once; the team's end-of-region barrier orders the writes to c)
// and a thread that is held up simply takes fewer blocks: beside one busy process on two cores,
// one thread at full speed and one at half make about 1.5 threads' worth. Blocks are small
// enough (kRowBlock rows) that the last one taken is short, and large enough that the counter is
// touched rarely. The balance needs the threads on two CPUs in the first place: off_callers_cpu
// (given in the starter) keeps the member off the caller's CPU, where Linux would wake it beside
// a busy program.
//
// goal: speedup_vs_one_thread[2] >= 1.15
// try: ARGS='--size 1024 --threads 1,2 --time 60'
// busy: 1
#include <omp.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>

using dense_core::matriz;

namespace {

constexpr int32_t kRows = 6;       // rows of the block of c in registers
constexpr int32_t kCols = 16;      // columns of the block of c in registers
constexpr int32_t kRowBlock = 24;  // rows of c that one packed panel of b serves
constexpr int32_t kInner = 256;    // length of the piece of the inner index

matriz* new_zero_result(int32_t m, int32_t n) {
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  if (c == nullptr) {
    return nullptr;
  }
  *c = {nullptr, m, n};
  if (dense_core::malocar(c) == 0) {
    std::free(c);
    return nullptr;
  }
  dense_core::mzerar(c);
  return c;
}

// Eight 32-bit lanes, one AVX2 register: GCC's vector extension, so that the compiler keeps each
// sum in a register (a plain uint32_t array of sums is kept in memory, on the stack).
using lanes = uint32_t __attribute__((vector_size(32)));
constexpr ptrdiff_t kLanes = 8;  // ptrdiff_t: it scales pointer offsets
constexpr int32_t kVectors = kCols / kLanes;

// Eight values from p into *v (a copy, not a cast: a row of c need not be 32-byte aligned).
// Through a pointer: a vector returned by value would change the calling convention on a build
// without AVX.
void load(lanes* v, const uint32_t* p) { __builtin_memcpy(v, p, sizeof *v); }

// b[p0 .. p0+len)[j .. j+kCols) copied into panel, one row of kCols values after another, so
// that register_block reads it as one stream instead of len rows in len separate heap blocks.
void pack_panel(const matriz* b, uint32_t* panel, int32_t j, int32_t p0, int32_t len) {
  for (int32_t p = 0; p < len; ++p, panel += kCols) {
    __builtin_memcpy(panel, reinterpret_cast<const uint32_t*>(b->mat[p0 + p]) + j,
                     sizeof(uint32_t) * kCols);
  }
}

// c[i .. i+R)[j .. j+kCols) += a[i .. i+R)[p0 .. p0+len) * the panel, the sums in registers
// until the end. The kit's arithmetic wraps at 32 bits: sums in unsigned lanes.
template <int32_t R>
void register_block(const matriz* a, const uint32_t* panel, matriz* c, int32_t i, int32_t j,
                    int32_t p0, int32_t len) {
  lanes sum[R][kVectors] = {};
  const uint32_t* arow[R];
  for (int32_t r = 0; r < R; ++r) {
    arow[r] = reinterpret_cast<const uint32_t*>(a->mat[i + r]) + p0;
  }
  for (int32_t p = 0; p < len; ++p, panel += kCols) {  // panel: the panel's row p
    lanes bv[kVectors];
    for (int32_t v = 0; v < kVectors; ++v) {
      load(&bv[v], panel + v * kLanes);
    }
    for (int32_t r = 0; r < R; ++r) {
      const uint32_t arp = arow[r][p];  // one value of a, multiplied into every lane
      for (int32_t v = 0; v < kVectors; ++v) {
        sum[r][v] += arp * bv[v];
      }
    }
  }
  for (int32_t r = 0; r < R; ++r) {
    auto* cr = reinterpret_cast<uint32_t*>(c->mat[i + r]) + j;
    for (int32_t v = 0; v < kVectors; ++v) {
      lanes total;
      load(&total, cr + v * kLanes);
      total += sum[r][v];
      __builtin_memcpy(cr + v * kLanes, &total, sizeof total);
    }
  }
}

// The columns right of the last whole band of kCols: the plain i-k-j loop.
void edge_columns(const matriz* a, const matriz* b, matriz* c, int32_t i0, int32_t i1, int32_t j0,
                  int32_t p0, int32_t p1) {
  const int32_t n = c->col;
  for (int32_t i = i0; i < i1; ++i) {
    auto* ci = reinterpret_cast<uint32_t*>(c->mat[i]);
    for (int32_t p = p0; p < p1; ++p) {
      const auto aip = static_cast<uint32_t>(a->mat[i][p]);
      const auto* bp = reinterpret_cast<const uint32_t*>(b->mat[p]);
      for (int32_t j = j0; j < n; ++j) {
        ci[j] += aip * bp[j];
      }
    }
  }
}

// Rows [i0, i1) of c, whole. The panel lives on the stack (16 KiB): every thread that runs a
// row block has its own.
void row_block(const matriz* a, const matriz* b, matriz* c, int32_t i0, int32_t i1) {
  alignas(32) uint32_t panel[kInner * kCols];
  const int32_t k = a->col;
  const int32_t n = c->col;
  const int32_t whole = n - n % kCols;
  for (int32_t p0 = 0; p0 < k; p0 += kInner) {
    const int32_t len = std::min(kInner, k - p0);
    for (int32_t j = 0; j < whole; j += kCols) {
      pack_panel(b, panel, j, p0, len);
      int32_t i = i0;
      for (; i + kRows <= i1; i += kRows) {
        register_block<kRows>(a, panel, c, i, j, p0, len);
      }
      for (; i < i1; ++i) {
        register_block<1>(a, panel, c, i, j, p0, len);
      }
    }
    edge_columns(a, b, c, i0, i1, whole, p0, p0 + len);
  }
}

// Keeps one member of an OpenMP team off the CPU of the thread that started the region, for as
// long as this object lives, and gives the member its own CPU set back at the end.
//
// Why: between calls the team's other member sleeps. When no CPU is idle (another program keeps
// the other core busy), Linux wakes a sleeping thread on the CPU of the thread that woke it, so
// the member lands on the caller's CPU and the whole team shares one core: no way of sharing
// out the rows can then beat one thread. Moved to another CPU, the member shares that CPU with
// the busy program instead and runs at about half speed there, which is exactly the case a team
// must balance. The kit's kernel does the same (docs/team-kernel.md).
class off_callers_cpu {
 public:
  explicit off_callers_cpu(int caller_cpu) {
    if (omp_get_thread_num() == 0 || caller_cpu < 0 || sched_getcpu() != caller_cpu ||
        sched_getaffinity(0, sizeof own_, &own_) != 0 || CPU_COUNT(&own_) < 2) {
      return;  // the caller itself, or already elsewhere, or nowhere else to go
    }
    cpu_set_t others = own_;
    CPU_CLR(caller_cpu, &others);
    moved_ = sched_setaffinity(0, sizeof others, &others) == 0;
  }
  ~off_callers_cpu() {
    if (moved_) {
      sched_setaffinity(0, sizeof own_, &own_);
    }
  }
  off_callers_cpu(const off_callers_cpu&) = delete;
  off_callers_cpu& operator=(const off_callers_cpu&) = delete;

 private:
  cpu_set_t own_{};
  bool moved_ = false;
};

}  // namespace

extern "C" matriz* step5_atomic_team(const matriz* a, const matriz* b, int32_t threads) {
  const int32_t m = a->lin;
  matriz* c = new_zero_result(m, b->col);
  if (c == nullptr) {
    return nullptr;
  }
  const int32_t blocks = (m + kRowBlock - 1) / kRowBlock;
  const int caller_cpu = sched_getcpu();
  std::atomic<int32_t> next{0};
#pragma omp parallel num_threads(threads)
  {
    const off_callers_cpu placed(caller_cpu);
    for (int32_t block = next.fetch_add(1, std::memory_order_relaxed); block < blocks;
         block = next.fetch_add(1, std::memory_order_relaxed)) {
      const int32_t i0 = block * kRowBlock;
      row_block(a, b, c, i0, std::min(i0 + kRowBlock, m));
    }
  }
  return c;
}
