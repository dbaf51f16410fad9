// The block kernel on one team that balances itself: the threads take the product's
// pieces of work (team_plan.hpp) from one shared counter, do the pieces another thread took
// but has not begun, and wait by sleeping (team_progress.hpp) only for pieces already begun,
// never at a barrier. A large product's team is an OpenMP region; a small one's is the caller
// and whichever of the kit's helpers arrive while it works (team_pool.hpp).
//
// When the machine has a 16-bit-range path, the team first scans the block's values the
// same way: runs of rows from a counter of their own, and a run that finds a value outside
// 16 bits clears the team's `fits` word. A scan run only reads, so a thread that finds that
// counter empty checks every run not yet marked checked itself rather than wait for it; then
// every thread reads the word, and so picks the same kernel and the same plan. Then each
// thread, until the counter is empty, takes the next piece:
//   pack piece  packs its panels of b into its block's buffer (one of two, or the one),
//               once the items of the block that used that buffer last have read them;
//   item        packs its rows of a into the thread's own buffer (unless its last item
//               packed the same rows), waits until the panels it reads are packed (and the
//               same item of the block before, which adds into the same rectangle of c, is
//               done), then multiplies.
// Packing a before waiting gives the last pack pieces time to finish, so an item rarely
// waits at all. A piece taken from the counter is only claimed until its thread begins to
// write; a thread that needs a claimed piece, or finds the counter empty, claims it for
// itself and does it, so a thread that loses its core before it begins holds nobody up.
// Once the counter is empty and no piece is left unbegun, a thread leaves: the end of the
// call (the runtime's barrier at the region's end, or the pool's wait for the helpers
// that joined) is the one place where the team meets. Waiting for the
// last pieces in the kit's own sleeping wait first was measured to lose more than it
// saves (docs/team-kernel.md): the sleeper must be woken to leave, and on a busy machine
// a woken thread may wait a whole time slice for a core, while the partner it would
// have let through waits for it in the runtime's barrier anyway. A member woken on the
// caller's CPU moves off it for the call (team_cpus.hpp), or a busy machine would give
// the whole team one core.
//
// Shared mutable state, besides c: the counters (work_counter), the progress word
// (team_progress), the scan's word and marks, and the board of marks below, all atomics;
// the test-only hook (piece_hook.hpp), read once per thread and call; between calls, the
// pool of helpers and its job slot (team_pool.hpp).
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
#include "common/omp_team_end.hpp"
#include "common/team_size.hpp"
#include "common/trace.hpp"
#include "kernel/dispatch.hpp"
#include "kernel/driver.hpp"
#include "kernel/operands.hpp"
#include "kernel/piece_hook.hpp"
#include "kernel/team_cpus.hpp"
#include "kernel/team_load.hpp"
#include "kernel/team_plan.hpp"
#include "kernel/team_pool.hpp"
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

// What the pieces' marks say. A piece taken from the counter is claimed by its
// thread (kClaimed + thread) until its work begins; while it is claimed, any
// thread that needs it, or that has nothing left to take, may claim it for
// itself instead and do it. Its work begins with the one change from the
// claim of the thread that does it to kStarted, so it is done once, by that
// thread; kDone once its results are published.
constexpr int32_t kFree = 0;
constexpr int32_t kStarted = 1;
constexpr int32_t kDone = 2;
constexpr int32_t kClaimed = 3;  // + the claiming thread

// The marks of one call's pieces: int32 words, zeroed before the region and
// touched inside it only through atomic_ref. Per block, one word per pack
// piece and one per item.
class board {
 public:
  board(int32_t* words, const team_plan& plan)
      : words_(words), per_block_(marks_per_block(plan)), packs_(plan.pack_pieces) {}

  static size_t words_for(const team_plan& plan) {
    return static_cast<size_t>(block_count(plan)) * static_cast<size_t>(marks_per_block(plan));
  }

  std::atomic_ref<int32_t> pack(int32_t block, int32_t piece) const {
    return std::atomic_ref<int32_t>(*mark(block, piece));
  }
  std::atomic_ref<int32_t> item(int32_t block, int32_t item) const {
    return std::atomic_ref<int32_t>(*mark(block, packs_ + item));
  }
  std::atomic_ref<int32_t> of(const team_piece& piece) const {
    return piece.packs_b ? pack(piece.block.index, piece.index)
                         : item(piece.block.index, piece.index);
  }

 private:
  static int64_t marks_per_block(const team_plan& plan) {
    return plan.pack_pieces + int64_t{plan.row_items} * plan.col_items;
  }
  int32_t* mark(int32_t block, int32_t which) const {
    return words_ + static_cast<size_t>(block) * static_cast<size_t>(per_block_) +
           static_cast<size_t>(which);
  }

  int32_t* words_;
  int64_t per_block_;
  int32_t packs_;
};

bool is_done(std::atomic_ref<int32_t> mark) {
  return mark.load(std::memory_order_acquire) == kDone;
}

// What the team shares in one call. [0] is the int32 kernel and its plan,
// [1] the 16-bit-range kernel and its plan (kernels[1] null when there is none).
struct team_call {
  const operands* op;
  const tile_kernel* kernels[2];
  team_plan plans[2];
  work_counter* pieces[2];
  work_counter* scan;            // runs of rows of the 16-bit check
  int32_t scan_pieces;           // 0 without a 16-bit-range kernel
  int32_t* scan_marks;           // one per scan piece: 1 once some thread has checked it
  std::atomic<int32_t> fits{1};  // cleared by a scan piece that finds a value outside 16 bits
  team_progress progress;
  int32_t* b_packs[2];  // the buffers of packed b: block s uses b_packs[s % b_buffers]
  int32_t* a_packs;     // one buffer of a_words per thread
  size_t a_words;
  int32_t* board_words;
};

// One thread's view of one kernel's pieces.
struct worker {
  team_call& call;
  const tile_kernel& kernel;
  const team_plan& plan;
  board marks;
  int32_t t;
  piece_hook hook;
  // What the thread's buffer of a holds: the rows of one item of one block.
  int32_t held_block = -1;
  int32_t held_rows = -1;

  void report(piece_kind kind, int64_t piece, piece_event event) const {
    if (hook != nullptr) {
      hook(kind, piece, event, t);
    }
  }
};

void run_piece(worker& w, int64_t p, bool stolen);

// Claims piece `p` for w's thread when it is free or claimed by another
// thread, and does it; false when it has begun or is done.
bool take_over(worker& w, int64_t p) {
  std::atomic_ref<int32_t> mark = w.marks.of(piece_at(w.plan, p));
  int32_t seen = mark.load(std::memory_order_acquire);
  while (seen == kFree || (seen >= kClaimed && seen != kClaimed + w.t)) {
    if (mark.compare_exchange_weak(seen, kClaimed + w.t, std::memory_order_acq_rel)) {
      run_piece(w, p, true);
      return true;
    }
  }
  return false;
}

// Waits until every piece that `needs` lists (needs(visit) calls visit(p) for
// each, and stops when visit returns false) is done. A needed piece that no
// thread has begun is taken over and done here instead; only a piece that its
// thread has begun is waited for, spinning briefly, then sleeping until some
// piece is finished. `still_mine` says whether w's own piece is still its own:
// once another thread has taken it over, the wait ends.
template <typename Needs, typename Mine>
void wait_for(worker& w, piece_kind kind, int64_t number, Needs needs, Mine still_mine) {
  const auto all_done = [&] {
    return needs([&](int64_t p) { return is_done(w.marks.of(piece_at(w.plan, p))); });
  };
  bool reported = false;
  while (still_mine() && !all_done()) {
    bool helped = false;
    needs([&](int64_t p) {
      helped = helped || take_over(w, p);
      return !helped;
    });
    if (helped) {
      continue;
    }
    if (!reported) {
      reported = true;
      w.report(kind, number, piece_event::waits);
    }
    // Every needed piece not done has begun on a running thread: wait for one
    // of them to finish (or for one to come free again, which only a finish
    // can bring about).
    const trace::span waiting(trace::kWait, w.t);
    w.call.progress.wait_until([&] {
      bool stealable = false;
      const bool done = needs([&](int64_t p) {
        const int32_t m = w.marks.of(piece_at(w.plan, p)).load(std::memory_order_acquire);
        stealable = stealable || m == kFree || (m >= kClaimed && m != kClaimed + w.t);
        return m == kDone;
      });
      return done || stealable || !still_mine();
    });
  }
}

// The number of the piece of block `block` that is its pack piece or item `index`.
int64_t number_of(const packed_block& block, bool packs_b, int32_t index) {
  return block.first_piece + (packs_b ? index : block.packs + index);
}

// The 16-bit check, shared: true when every value of the block fits. A scan
// piece only reads, so a thread that finds the counter empty checks every
// piece that is not marked checked yet itself, after a brief spin, instead of
// waiting for a partner that may have lost its core: the check is done twice
// at worst, never waited for.
bool scan_values(team_call& call, int32_t t, piece_hook hook) {
  const int32_t rows = kd::scan_rows(*call.op);
  const auto scan = [&](int32_t q, bool taken) {
    const auto report = [&](piece_event e) {
      if (hook != nullptr) {
        hook(piece_kind::scan, q, e, t);
      }
    };
    std::atomic_ref<int32_t> mark(call.scan_marks[q]);
    if (taken) {
      report(piece_event::taken);
    }
    if (mark.load(std::memory_order_acquire) != 0) {
      return;  // another thread has checked it meanwhile
    }
    report(taken ? piece_event::starts : piece_event::stolen);
    // Once one run has found a value outside 16 bits, the others need not look.
    if (call.fits.load(std::memory_order_relaxed) != 0) {
      const trace::span scanning(trace::kScanValues, t);
      const item_range part = even_part(rows, call.scan_pieces, q);
      if (!kd::rows_fit_int16(*call.op, part.begin, part.end)) {
        call.fits.store(0, std::memory_order_relaxed);
      }
    }
    // Release: the store above is seen by whoever sees this mark.
    if (mark.exchange(1, std::memory_order_acq_rel) == 0) {
      report(piece_event::done);
    }
    call.progress.finished();
  };
  for (int64_t q = call.scan->take(); q >= 0; q = call.scan->take()) {
    scan(static_cast<int32_t>(q), true);
  }
  for (int32_t q = 0; q < call.scan_pieces; ++q) {
    std::atomic_ref<int32_t> mark(call.scan_marks[q]);
    const auto checked = [&] { return mark.load(std::memory_order_acquire) != 0; };
    if (!call.progress.spin_until(checked)) {
      scan(q, false);
    }
  }
  return call.fits.load(std::memory_order_relaxed) != 0;
}

// A pack piece, once its thread has it: waits for (or does) the items that
// still read the words its panels overwrite, then packs.
void pack_piece(worker& w, const team_piece& piece, int64_t number) {
  const packed_block& b = piece.block;
  const team_plan& plan = w.plan;
  const item_range panels = panels_of(plan, b, piece.index);
  std::atomic_ref<int32_t> mark = w.marks.of(piece);
  // The items that read the words these panels overwrite, in the last two
  // blocks that used this buffer: a shallower last block of a column lays out
  // fewer, shorter panels, so past its end the block before it is the last
  // that wrote there.
  const auto readers = [&](auto visit) {
    for (const int32_t before : {b.index - plan.b_buffers, b.index - 2 * plan.b_buffers}) {
      if (before < 0) {
        continue;
      }
      const packed_block last = block_at(plan, before);
      const item_range cols = overwritten_readers(plan, b, piece.index, last);
      for (int32_t r = 0; r < plan.row_items; ++r) {
        for (int32_t c = cols.begin; c < cols.end; ++c) {
          if (!visit(number_of(last, false, r * last.col_items + c))) {
            return false;
          }
        }
      }
    }
    return true;
  };
  const int32_t mine = kClaimed + w.t;
  wait_for(w, piece_kind::pack, number, readers,
           [&] { return mark.load(std::memory_order_acquire) == mine; });
  int32_t claim = mine;
  if (!mark.compare_exchange_strong(claim, kStarted, std::memory_order_acq_rel)) {
    return;  // taken over while this thread waited
  }
  w.report(piece_kind::pack, number, piece_event::starts);
  {
    const trace::span packing(trace::kPackB, w.t);
    kd::pack_b_panels(w.kernel, *w.call.op, b.pc, b.kc, b.jc, b.nc, panels.begin, panels.end,
                      w.call.b_packs[b.index % plan.b_buffers]);
  }
  mark.store(kDone, std::memory_order_release);
  w.report(piece_kind::pack, number, piece_event::done);
}

// An item, once its thread has it: packs its rows of a (unless the thread's
// buffer holds them), waits for (or does) the pack pieces that hold its panels
// and the same item of the block before, then multiplies.
void item_piece(worker& w, const team_piece& piece, int64_t number) {
  const packed_block& b = piece.block;
  const team_plan& plan = w.plan;
  const item_area area = item_at(plan, b, piece.index);
  int32_t* a_pack = w.call.a_packs + static_cast<size_t>(w.t) * w.call.a_words;
  std::atomic_ref<int32_t> mark = w.marks.of(piece);
  const int32_t mine = kClaimed + w.t;
  const auto still_mine = [&] { return mark.load(std::memory_order_acquire) == mine; };
  // Only the pack pieces that hold this item's panels.
  const int32_t panels = units_of(b.nc, plan.nr);
  const int32_t first = dense_detail::part_holding(panels, b.packs, area.cols.begin / plan.nr);
  const int32_t last = dense_detail::part_holding(panels, b.packs, (area.cols.end - 1) / plan.nr);
  const auto needs = [&](auto visit) {
    for (int32_t q = first; q <= last; ++q) {
      if (!visit(number_of(b, true, q))) {
        return false;
      }
    }
    return !b.follows || visit(number_of(block_at(plan, b.index - 1), false, piece.index));
  };
  // Packing a before waiting gives the last pack pieces time to finish; a
  // piece done here meanwhile may have used the buffer, so look again after.
  // Items of the same rows (a result cut across the columns) follow one
  // another, so a thread often takes the next one and packs nothing.
  do {
    if (w.held_block != b.index || w.held_rows != area.rows.begin) {
      const trace::span packing(trace::kPackA, w.t);
      kd::pack_a_block(w.kernel, *w.call.op, b.pc, b.kc, area.rows.begin, area.rows.end, a_pack);
      w.held_block = b.index;
      w.held_rows = area.rows.begin;
    }
    wait_for(w, piece_kind::item, number, needs, still_mine);
  } while (still_mine() && (w.held_block != b.index || w.held_rows != area.rows.begin));
  int32_t claim = mine;
  if (!mark.compare_exchange_strong(claim, kStarted, std::memory_order_acq_rel)) {
    return;  // taken over while this thread packed or waited
  }
  w.report(piece_kind::item, number, piece_event::starts);
  {
    const trace::span multiplying(trace::kMultiply, w.t);
    kd::multiply_packed(w.kernel, *w.call.op, b.kc, b.jc, area.rows.begin, area.rows.end,
                        area.cols.begin, area.cols.end, a_pack,
                        w.call.b_packs[b.index % plan.b_buffers]);
  }
  mark.store(kDone, std::memory_order_release);
  w.report(piece_kind::item, number, piece_event::done);
}

// Piece `p`, claimed by w's thread: from the counter, or taken over.
void run_piece(worker& w, int64_t p, bool stolen) {
  const team_piece piece = piece_at(w.plan, p);
  const piece_kind kind = piece.packs_b ? piece_kind::pack : piece_kind::item;
  w.report(kind, p, stolen ? piece_event::stolen : piece_event::taken);
  if (piece.packs_b) {
    pack_piece(w, piece, p);
  } else {
    item_piece(w, piece, p);
  }
  w.call.progress.finished();
}

// Thread t's part: the scan, then pieces until none is left, then any piece
// another thread took but has not begun.
void take_part(team_call& call, int32_t t) {
  const piece_hook hook = g_piece_hook.load(std::memory_order_relaxed);
  const int which = call.kernels[1] != nullptr && scan_values(call, t, hook) ? 1 : 0;
  worker w{
      call, *call.kernels[which], call.plans[which], board(call.board_words, call.plans[which]), t,
      hook};
  work_counter& pieces = *call.pieces[which];
  for (int64_t p = pieces.take(); p >= 0; p = pieces.take()) {
    int32_t free = kFree;
    if (w.marks.of(piece_at(w.plan, p))
            .compare_exchange_strong(free, kClaimed + t, std::memory_order_acq_rel)) {
      run_piece(w, p, false);
    }
  }
  // A thread that has lost its core with a piece it had not begun holds up
  // whoever needs that piece, and the end of the call: do it here instead.
  // Nothing else is needed before leaving: a piece another member has begun
  // is its own to finish, and the call ends only after every member has left
  // (the runtime's barrier, or the pool's wait for the helpers that joined).
  for (int64_t p = 0; p < pieces.total(); ++p) {
    take_over(w, p);
  }
}

// What every member of one call is given: the call, and the CPU its caller ran
// on as it began (a member woken there moves off it, team_cpus.hpp).
struct team_job {
  team_call* call;
  int caller_cpu;
};

// Member t's part of a call, on whichever thread runs it.
void member_part(void* job, int32_t t) {
  const team_job& j = *static_cast<const team_job*>(job);
  const off_callers_cpu spread(j.caller_cpu, t);
  take_part(*j.call, t);
}

}  // namespace

int run_team(const kd::kernel_choice& choice, const dense_arith::submatriz* a,
             const dense_arith::submatriz* b, const dense_arith::submatriz* c, int32_t n,
             bool by_load) {
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
  // A small product on a busy machine takes only the members that find a free
  // CPU (team_load.hpp): the runtime's barrier would wait for the others.
  const int32_t most = dense_detail::team_size(n, tiles);
  const int32_t team = by_load ? team_under_load(most, int64_t{m} * k * cols) : most;
  if (team == 1) {  // the sequential kernel itself: no region, no waiting
    // On a timeline, the caller's lane holds the whole product, so a team cut
    // down to one by the load still shows who did the work.
    const trace::span whole(trace::kMultiply, 0);
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
  call.scan_pieces = choice.narrow ? std::min(kd::scan_rows(op), kScanPiecesPerThread * team) : 0;
  const size_t board_words =
      (std::max(board::words_for(call.plans[0]), board::words_for(call.plans[1])) +
       static_cast<size_t>(call.scan_pieces) + kLine - 1) /
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
    dense_detail::omp_team_left(team);
    return 0;
  }
  call.b_packs[0] = block.start;
  call.b_packs[1] = b_buffers == 2 ? block.start + sizes.b_words : nullptr;
  call.a_packs = block.start + b_buffers * sizes.b_words;
  call.a_words = sizes.a_words;
  call.board_words = call.a_packs + members * sizes.a_words;
  std::memset(call.board_words, 0, board_words * sizeof(int32_t));
  call.scan_marks = call.board_words + board_words - static_cast<size_t>(call.scan_pieces);
  work_counter scan(call.scan_pieces);
  work_counter wide_pieces(piece_count(call.plans[0]));
  work_counter narrow_pieces(piece_count(call.plans[1]));
  call.scan = &scan;
  call.pieces[0] = &wide_pieces;
  call.pieces[1] = &narrow_pieces;
  // The runtime may give fewer threads than asked, and the pool's helpers may
  // come late or not at all: the pieces go to whichever threads come for them,
  // and never more than the buffers were sized for.
  team_job job{&call, sched_getcpu()};
  if (int64_t{m} * k * cols <= kSmallWork) {
    run_with_arrivals(team, member_part, &job);
  } else {
#pragma omp parallel num_threads(team)
    { member_part(&job, omp_get_thread_num()); }
    dense_detail::omp_team_left(team);
  }
  std::free(block.base);
  return 0;
}

}  // namespace detail

int mmsubmatrizOMP(const dense_arith::submatriz* a, const dense_arith::submatriz* b,
                   const dense_arith::submatriz* c, int32_t n) {
  return detail::run_team(block_kernel::detail::host().kernels, a, b, c, n, true);
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
