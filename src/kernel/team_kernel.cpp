// The block kernel on one OpenMP team that balances itself: the threads take the product's
// pieces of work (team_plan.hpp) from one shared counter, and wait for one another's pieces
// by sleeping (team_progress.hpp), never at a barrier inside the region.
//
// When the machine has a 16-bit-range path, the team first scans the block's values the
// same way: runs of rows from a counter of their own, and a run that finds a value outside
// 16 bits clears the team's `fits` word. Every thread waits for the whole scan, reads the
// word, and so picks the same kernel and the same plan. Then each thread, until the
// counter is empty, takes the next piece:
//   pack piece  packs its panels of b into its block's buffer (one of two, or the one),
//               once the items of the block that used that buffer last have read them;
//   item        packs its rows of a into the thread's own buffer (unless its last item
//               packed the same rows), waits until the panels it reads are packed (and the
//               same item of the block before, which adds into the same rectangle of c, is
//               done), then multiplies.
// Packing a before waiting gives the last pack pieces time to finish, so an item rarely
// waits at all. A thread that finds the counter empty leaves the region at once: the
// runtime's barrier at its end is the one place where the team meets. Waiting for the
// last pieces in the kit's own sleeping wait first was measured to lose more than it
// saves (docs/team-kernel.md): the sleeper must be woken to leave, and on a busy machine
// a woken thread may wait a whole time slice for a core, while the partner it would
// have let through waits for it in the runtime's barrier anyway. A member woken on the
// caller's CPU moves off it for the call (team_cpus.hpp), or a busy machine would give
// the whole team one core.
//
// Shared mutable state, besides c: the counters (work_counter), the progress word
// (team_progress), the scan's two words, and the board of marks below, all atomics.
// Packed panels of b and rectangles of c pass between threads only through the marks: a
// pack piece writes its panels before it sets its mark (release) and an item reads them
// after it sees the marks of the pack pieces that hold them (acquire); an item adds into
// its rectangle of c only after it sees the same item of the block before marked done,
// and marks itself done (release) after its last write.
#include <omp.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/team_kernel.hpp>

#include "common/even_split.hpp"
#include "common/matrix_records.hpp"
#include "common/messages.hpp"
#include "common/team_size.hpp"
#include "common/trace.hpp"
#include "kernel/dispatch.hpp"
#include "kernel/driver.hpp"
#include "kernel/operands.hpp"
#include "kernel/team_cpus.hpp"
#include "kernel/team_plan.hpp"
#include "kernel/team_progress.hpp"
#include "kernel/work_counter.hpp"

namespace team_kernel {
namespace detail {

using block_kernel::detail::checked;
using block_kernel::detail::operands;
using block_kernel::detail::tile_kernel;
using dense_detail::even_part;
using dense_detail::item_range;
namespace kd = block_kernel::detail;
namespace trace = dense_detail::trace;

namespace {

// Scan pieces per thread: the 16-bit check of a block's values.
constexpr int32_t kScanPiecesPerThread = 4;

int32_t units_of(int32_t total, int32_t unit) {
  return static_cast<int32_t>((int64_t{total} + unit - 1) / unit);
}

// The marks of one call's pieces: int32 words, zeroed before the region and
// touched inside it only through atomic_ref. Per block, one word per pack
// piece and one per item, set when that piece is done.
class board {
 public:
  board(int32_t* words, const team_plan& plan)
      : words_(words), per_block_(marks_per_block(plan)), packs_(plan.pack_pieces) {}

  static size_t words_for(const team_plan& plan) {
    return static_cast<size_t>(block_count(plan)) * static_cast<size_t>(marks_per_block(plan));
  }

  bool pack_done(int32_t block, int32_t piece) const { return load(mark(block, piece)); }
  bool item_done(int32_t block, int32_t item) const { return load(mark(block, packs_ + item)); }

  void pack_finished(int32_t block, int32_t piece) { set(mark(block, piece)); }
  void item_finished(int32_t block, int32_t item) { set(mark(block, packs_ + item)); }

 private:
  static int64_t marks_per_block(const team_plan& plan) {
    return plan.pack_pieces + int64_t{plan.row_items} * plan.col_items;
  }
  int32_t* mark(int32_t block, int32_t which) const {
    return words_ + static_cast<size_t>(block) * static_cast<size_t>(per_block_) +
           static_cast<size_t>(which);
  }
  static bool load(int32_t* word) {
    return std::atomic_ref<int32_t>(*word).load(std::memory_order_acquire) != 0;
  }
  static void set(int32_t* word) {
    std::atomic_ref<int32_t>(*word).store(1, std::memory_order_release);
  }

  int32_t* words_;
  int64_t per_block_;
  int32_t packs_;
};

// What the team shares in one call. [0] is the int32 kernel and its plan,
// [1] the 16-bit-range kernel and its plan (kernels[1] null when there is none).
struct team_call {
  const operands* op;
  const tile_kernel* kernels[2];
  team_plan plans[2];
  work_counter* pieces[2];
  work_counter* scan;               // runs of rows of the 16-bit check
  int32_t scan_pieces;              // 0 without a 16-bit-range kernel
  std::atomic<int32_t> scanned{0};  // scan pieces finished
  std::atomic<int32_t> fits{1};     // cleared by a scan piece that finds a value outside 16 bits
  team_progress progress;
  int32_t* b_packs[2];  // the buffers of packed b: block s uses b_packs[s % b_buffers]
  int32_t* a_packs;     // one buffer of a_words per thread
  size_t a_words;
  int32_t* board_words;
};

// Waits, sleeping, until done(); marked on thread t's timeline only when it
// had to wait.
template <typename Done>
void wait_for(team_call& call, int32_t t, Done done) {
  if (done()) {
    return;
  }
  const trace::span waiting(trace::kWait, t);
  call.progress.wait_until(done);
}

// The 16-bit check, shared: true when every value of the block fits.
bool scan_values(team_call& call, int32_t t) {
  const int32_t rows = kd::scan_rows(*call.op);
  for (int64_t q = call.scan->take(); q >= 0; q = call.scan->take()) {
    // Once one run has found a value outside 16 bits, the others need not look.
    if (call.fits.load(std::memory_order_relaxed) != 0) {
      const trace::span scanning(trace::kScanValues, t);
      const item_range part = even_part(rows, call.scan_pieces, static_cast<int32_t>(q));
      if (!kd::rows_fit_int16(*call.op, part.begin, part.end)) {
        call.fits.store(0, std::memory_order_relaxed);
      }
    }
    // Release: the store above is seen by whoever sees this count complete.
    call.scanned.fetch_add(1, std::memory_order_release);
    call.progress.finished();
  }
  wait_for(call, t,
           [&] { return call.scanned.load(std::memory_order_acquire) == call.scan_pieces; });
  return call.fits.load(std::memory_order_relaxed) != 0;
}

void pack_piece(team_call& call, const team_plan& plan, const tile_kernel& kernel, board& marks,
                const team_piece& piece, int32_t t) {
  const packed_block& b = piece.block;
  const item_range panels = panels_of(plan, b, piece.index);
  // The items that read the words these panels overwrite, in the last two
  // blocks that used this buffer: a shallower last block of a column lays out
  // fewer, shorter panels, so past its end the block before it is the last
  // that wrote there.
  const auto readers_done = [&](int32_t before) {
    if (before < 0) {
      return true;
    }
    const packed_block last = block_at(plan, before);
    const item_range cols = overwritten_readers(plan, b, piece.index, last);
    for (int32_t r = 0; r < plan.row_items; ++r) {
      for (int32_t c = cols.begin; c < cols.end; ++c) {
        if (!marks.item_done(before, r * last.col_items + c)) {
          return false;
        }
      }
    }
    return true;
  };
  wait_for(call, t, [&] {
    return readers_done(b.index - plan.b_buffers) && readers_done(b.index - 2 * plan.b_buffers);
  });
  {
    const trace::span packing(trace::kPackB, t);
    kd::pack_b_panels(kernel, *call.op, b.pc, b.kc, b.jc, b.nc, panels.begin, panels.end,
                      call.b_packs[b.index % plan.b_buffers]);
  }
  marks.pack_finished(b.index, piece.index);
}

// What a thread's buffer of a holds: the rows of one item of one block.
struct packed_rows {
  int32_t block = -1;
  int32_t rows_begin = -1;
};

void item_piece(team_call& call, const tile_kernel& kernel, const team_plan& plan, board& marks,
                const team_piece& piece, int32_t t, packed_rows* held) {
  const packed_block& b = piece.block;
  const item_area area = item_at(plan, b, piece.index);
  int32_t* a_pack = call.a_packs + static_cast<size_t>(t) * call.a_words;
  // Items of the same rows (a result cut across the columns) follow one
  // another, so a thread often takes the next one and packs nothing.
  if (held->block != b.index || held->rows_begin != area.rows.begin) {
    const trace::span packing(trace::kPackA, t);
    kd::pack_a_block(kernel, *call.op, b.pc, b.kc, area.rows.begin, area.rows.end, a_pack);
    *held = {b.index, area.rows.begin};
  }
  // Only the pack pieces that hold this item's panels.
  const int32_t panels = units_of(b.nc, plan.nr);
  const int32_t first = dense_detail::part_holding(panels, b.packs, area.cols.begin / plan.nr);
  const int32_t last = dense_detail::part_holding(panels, b.packs, (area.cols.end - 1) / plan.nr);
  wait_for(call, t, [&] {
    for (int32_t q = first; q <= last; ++q) {
      if (!marks.pack_done(b.index, q)) {
        return false;
      }
    }
    return !b.follows || marks.item_done(b.index - 1, piece.index);
  });
  {
    const trace::span multiplying(trace::kMultiply, t);
    kd::multiply_packed(kernel, *call.op, b.kc, b.jc, area.rows.begin, area.rows.end,
                        area.cols.begin, area.cols.end, a_pack,
                        call.b_packs[b.index % plan.b_buffers]);
  }
  marks.item_finished(b.index, piece.index);
}

// Thread t's part: the scan, then pieces until none is left.
void take_part(team_call& call, int32_t t) {
  const int which = call.kernels[1] != nullptr && scan_values(call, t) ? 1 : 0;
  const tile_kernel& kernel = *call.kernels[which];
  const team_plan& plan = call.plans[which];
  work_counter& pieces = *call.pieces[which];
  board marks(call.board_words, plan);
  packed_rows held;
  for (int64_t p = pieces.take(); p >= 0; p = pieces.take()) {
    const team_piece piece = piece_at(plan, p);
    if (piece.packs_b) {
      pack_piece(call, plan, kernel, marks, piece, t);
    } else {
      item_piece(call, kernel, plan, marks, piece, t, &held);
    }
    call.progress.finished();
  }
}

}  // namespace

int run_team(const kd::kernel_choice& choice, const dense_arith::submatriz* a,
             const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n) {
  operands op{};
  const checked verdict = kd::check_operands(a, b, c, &op);
  if (verdict != checked::run) {
    return verdict == checked::refused ? -1 : 0;
  }
  const int32_t m = op.i1 - op.i0;
  const int32_t k = op.k1 - op.k0;
  const int32_t cols = op.j1 - op.j0;
  const tile_kernel& wide = *choice.wide;
  const int64_t tiles = int64_t{units_of(m, wide.mr)} * units_of(cols, wide.nr);
  const int32_t team = dense_detail::team_size(n, tiles);
  if (team == 1) {  // the sequential kernel itself: no region, no waiting
    if (!kd::blocked_product(kd::pick_kernel(choice, op), op)) {
      kd::direct_product(op, 0, m);
    }
    return 0;
  }
  team_call call{};
  call.op = &op;
  call.kernels[0] = &wide;
  call.kernels[1] = choice.narrow;
  call.plans[0] = plan_team(wide, m, k, cols, team);
  call.plans[1] = choice.narrow ? plan_team(*choice.narrow, m, k, cols, team) : call.plans[0];
  // The team scans the values together, so the buffers are sized before the
  // kernel is known: for whichever of the two kernels needs more.
  kd::pack_sizes sizes = kd::pack_sizes_for(wide, op);
  if (choice.narrow) {
    const kd::pack_sizes narrow = kd::pack_sizes_for(*choice.narrow, op);
    sizes = {std::max(sizes.a_words, narrow.a_words), std::max(sizes.b_words, narrow.b_words)};
  }
  const auto b_buffers =
      static_cast<size_t>(std::max(call.plans[0].b_buffers, call.plans[1].b_buffers));
  constexpr size_t kLine = kd::kPackAlign / sizeof(int32_t);
  const size_t board_words =
      (std::max(board::words_for(call.plans[0]), board::words_for(call.plans[1])) + kLine - 1) /
      kLine * kLine;
  const auto members = static_cast<size_t>(team);
  const kd::pack_block block =
      kd::alloc_pack(b_buffers * sizes.b_words + members * sizes.a_words + board_words);
  if (block.start == nullptr) {  // the same sums without buffers, rows dealt out to the team
#pragma omp parallel num_threads(team)
    {
      const item_range rows = even_part(m, omp_get_num_threads(), omp_get_thread_num());
      kd::direct_product(op, rows.begin, rows.end);
    }
    return 0;
  }
  call.b_packs[0] = block.start;
  call.b_packs[1] = b_buffers == 2 ? block.start + sizes.b_words : nullptr;
  call.a_packs = block.start + b_buffers * sizes.b_words;
  call.a_words = sizes.a_words;
  call.board_words = call.a_packs + members * sizes.a_words;
  std::memset(call.board_words, 0, board_words * sizeof(int32_t));
  call.scan_pieces = choice.narrow ? std::min(kd::scan_rows(op), kScanPiecesPerThread * team) : 0;
  work_counter scan(call.scan_pieces);
  work_counter wide_pieces(piece_count(call.plans[0]));
  work_counter narrow_pieces(piece_count(call.plans[1]));
  call.scan = &scan;
  call.pieces[0] = &wide_pieces;
  call.pieces[1] = &narrow_pieces;
  // The runtime may give fewer threads than asked: the pieces go to whichever
  // threads it gave, and never more than the buffers were sized for.
  const int caller_cpu = sched_getcpu();
#pragma omp parallel num_threads(team)
  {
    const off_callers_cpu spread(caller_cpu, omp_get_thread_num());
    take_part(call, omp_get_thread_num());
  }
  std::free(block.base);
  return 0;
}

}  // namespace detail

int mmsubmatrizOMP(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c, int32_t n) {
  return detail::run_team(block_kernel::detail::host().kernels, a, b, c, n);
}

dense_core::matriz* multiplicarKernelOMP(const dense_core::matriz* a, const dense_core::matriz* b,
                                         int32_t n) {
  if (!a || !b || !a->mat || !b->mat) {
    std::puts(dense_msg::kMissingMatrix);
    return nullptr;
  }
  if (a->col != b->lin) {
    std::puts(dense_msg::kInvalidForProduct);
    return nullptr;
  }
  // Like the library's other products that return a matrix, but a result the
  // heap cannot hold is reported and refused instead of ending the process:
  // this function already tells its caller "no result" with null.
  dense_core::matriz* r = dense_detail::new_zeroed_matrix(a->lin, b->col);
  if (!r) {
    std::puts(dense_msg::kOutOfMemory);
    return nullptr;
  }
  dense_arith::bloco a_block{0, a->lin, 0, a->col};
  dense_arith::bloco b_block{0, b->lin, 0, b->col};
  dense_arith::bloco c_block{0, r->lin, 0, r->col};
  // The descriptors' matrix pointers are non-const only by the record's
  // type; the factors are read, never written.
  const dense_arith::submatriz da{const_cast<dense_core::matriz*>(a), &a_block};
  const dense_arith::submatriz db{const_cast<dense_core::matriz*>(b), &b_block};
  const dense_arith::submatriz dc{r, &c_block};
  mmsubmatrizOMP(&da, &db, &dc, n);
  return r;
}

}  // namespace team_kernel
