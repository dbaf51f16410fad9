// The team kernel with one thread stalled on one piece (the test-only piece hook): the
// other thread takes a piece over when its holder has not begun it, and never starts a
// piece before the pieces it must wait for are done. No timing: a stalled thread is held
// until the step it waits for has been reported (or, should the kernel be broken, for a
// long safety limit, after which the checks fail).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "block_case.hpp"
#include "kernel/registry.hpp"
#include "kernel/team_plan.hpp"
#include "kernel/testing.hpp"

namespace {

using block_kernel::path;
using kernel_test::block_case;
using team_kernel::detail::piece_event;
using team_kernel::detail::piece_kind;

struct step {
  piece_kind kind;
  int64_t piece;
  piece_event event;
  int32_t thread;
};

// What the hook records and whom it holds: the thread that first takes piece
// `piece` of kind `kind` is held until release(steps, its thread) is true.
struct recorder {
  std::mutex mu;
  std::condition_variable changed;
  std::vector<step> steps;
  piece_kind kind = piece_kind::item;
  int64_t piece = -1;
  bool (*release)(const std::vector<step>&, const step& held) = nullptr;
  bool held_once = false;
  int32_t held_thread = -1;
};
recorder g_rec;

void record(piece_kind kind, int64_t piece, piece_event event, int32_t thread) {
  std::unique_lock<std::mutex> lock(g_rec.mu);
  const step s{kind, piece, event, thread};
  g_rec.steps.push_back(s);
  g_rec.changed.notify_all();
  if (g_rec.release != nullptr && !g_rec.held_once && event == piece_event::taken &&
      kind == g_rec.kind && piece == g_rec.piece) {
    g_rec.held_once = true;
    g_rec.held_thread = thread;
    // The safety limit only ends a test of a broken kernel; it is never what
    // a passing test waits for.
    g_rec.changed.wait_for(lock, std::chrono::seconds(20),
                           [&] { return g_rec.release(g_rec.steps, s); });
  }
}

// Another thread has reported `event` on the held piece.
template <piece_event Event>
bool other_thread_reports(const std::vector<step>& steps, const step& held) {
  for (const step& s : steps) {
    if (s.kind == held.kind && s.piece == held.piece && s.event == Event &&
        s.thread != held.thread) {
      return true;
    }
  }
  return false;
}

// The hook installed for one call, and the team's steps afterwards.
std::vector<step> run_with_stall(block_case& t, const char* path_name, piece_kind kind,
                                 int64_t piece,
                                 bool (*release)(const std::vector<step>&, const step&)) {
  {
    const std::lock_guard<std::mutex> lock(g_rec.mu);
    g_rec.steps.clear();
    g_rec.kind = kind;
    g_rec.piece = piece;
    g_rec.release = release;
    g_rec.held_once = false;
    g_rec.held_thread = -1;
  }
  team_kernel::detail::set_piece_hook(record);
  const int rc = team_kernel::detail::mmsubmatrizOMP_on(block_kernel::path_named(path_name),
                                                        &t.a_desc, &t.b_desc, &t.c_desc, 2);
  team_kernel::detail::set_piece_hook(nullptr);
  EXPECT_EQ(rc, 0);
  const std::lock_guard<std::mutex> lock(g_rec.mu);
  EXPECT_TRUE(g_rec.held_once) << "no thread took the piece to stall";
  return g_rec.steps;
}

const block_kernel::detail::tile_kernel& kernel_of(const char* name) {
  return block_kernel::detail::path_rows()[static_cast<size_t>(block_kernel::path_named(name))]
      .kernel;
}

// Every pack piece and item started once and done once, each by the thread
// that started it; and no piece started before the pieces it waits for were
// done: a pack piece after the items of earlier blocks that read the words it
// overwrites, an item after the same item of the block before in the same
// columns.
void expect_each_piece_once_and_in_order(const std::vector<step>& steps,
                                         const team_kernel::detail::team_plan& plan) {
  using namespace team_kernel::detail;
  std::map<int64_t, size_t> started;  // piece -> index of its starts step
  std::map<int64_t, size_t> done;
  std::map<int64_t, int32_t> by;
  for (size_t i = 0; i < steps.size(); ++i) {
    const step& s = steps[i];
    if (s.kind == piece_kind::scan ||
        (s.event != piece_event::starts && s.event != piece_event::done)) {
      continue;
    }
    auto& seen = s.event == piece_event::starts ? started : done;
    EXPECT_EQ(seen.count(s.piece), 0U) << "piece " << s.piece << " reported twice";
    seen[s.piece] = i;
    if (s.event == piece_event::starts) {
      by[s.piece] = s.thread;
    } else {
      EXPECT_EQ(by[s.piece], s.thread) << "piece " << s.piece << " done by another thread";
    }
  }
  const int64_t total = piece_count(plan);
  EXPECT_EQ(static_cast<int64_t>(started.size()), total);
  EXPECT_EQ(static_cast<int64_t>(done.size()), total);
  const auto done_before = [&](int64_t needed, int64_t piece) {
    EXPECT_TRUE(done.count(needed) != 0 && started.count(piece) != 0 &&
                done[needed] < started[piece])
        << "piece " << piece << " started before piece " << needed << " was done";
  };
  for (int64_t p = 0; p < total; ++p) {
    const team_piece piece = piece_at(plan, p);
    const packed_block& b = piece.block;
    if (piece.packs_b) {
      for (const int32_t before : {b.index - plan.b_buffers, b.index - 2 * plan.b_buffers}) {
        if (before < 0) {
          continue;
        }
        const packed_block last = block_at(plan, before);
        const auto cols = overwritten_readers(plan, b, piece.index, last);
        for (int32_t r = 0; r < plan.row_items; ++r) {
          for (int32_t c = cols.begin; c < cols.end; ++c) {
            done_before(last.first_piece + last.packs + int64_t{r} * last.col_items + c, p);
          }
        }
      }
    } else if (b.follows) {
      const packed_block prev = block_at(plan, b.index - 1);
      done_before(prev.first_piece + prev.packs + piece.index, p);
    }
  }
}

// The products: one packed block (the sizes a student runs, scaled down to
// the scalar path's blocks); several blocks deep in one column (each item
// waits for the same item of the block before; two buffers of b); two blocks
// of columns over one buffer (the second block's pack pieces wait for the
// first's readers).
struct product {
  const char* name;
  int32_t m, k, n;
};
const product kOneBlock{"one block", 100, 120, 100};
const product kDeep{"deep", 40, 700, 24};
const product kWide{"wide", 8, 50, 1100};

team_kernel::detail::team_plan plan_of(const product& p) {
  return team_kernel::detail::plan_team(kernel_of("scalar_i32"), p.m, p.k, p.n, 2);
}

int64_t item_number(const team_kernel::detail::team_plan& plan, int32_t block, int32_t item) {
  const auto b = team_kernel::detail::block_at(plan, block);
  return b.first_piece + b.packs + item;
}

TEST(TeamStall, APieceItsThreadHasNotBegunIsTakenOverAndDoneOnce) {
  struct row {
    const product& p;
    const char* what;
    bool packs_b;
    int32_t block;
    int32_t index;
  };
  for (const row& r :
       std::vector<row>{{kOneBlock, "first pack piece", true, 0, 0},
                        {kOneBlock, "first item", false, 0, 0},
                        {kOneBlock, "last item", false, 0, -1},
                        {kDeep, "item of the first block", false, 0, 0},
                        {kDeep, "pack piece of the last block", true, 2, 1},
                        {kWide, "item read before the buffer is reused", false, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << r.p.name << ", " << r.what);
    const auto plan = plan_of(r.p);
    const auto b = team_kernel::detail::block_at(plan, r.block);
    const int32_t index = r.index >= 0 ? r.index : b.items - 1;
    const int64_t number = r.packs_b ? b.first_piece + index : item_number(plan, r.block, index);
    block_case t(r.p.m, r.p.k, r.p.k, r.p.n, r.p.m, r.p.n, 31U, INT32_MIN, INT32_MAX);
    const std::vector<int32_t> want = t.expected_c();
    const auto kind = r.packs_b ? piece_kind::pack : piece_kind::item;
    const std::vector<step> steps =
        run_with_stall(t, "scalar_i32", kind, number, other_thread_reports<piece_event::done>);
    EXPECT_EQ(t.c.values(), want);
    EXPECT_TRUE(other_thread_reports<piece_event::done>(
        steps, {kind, number, piece_event::taken, g_rec.held_thread}))
        << "the stalled piece was not taken over";
    expect_each_piece_once_and_in_order(steps, plan);
  }
}

TEST(TeamStall, TheValueCheckOfAStalledThreadIsDoneByTheOtherAndPicksTheSameKernel) {
  // scalar_i16 forced: the team checks the values first, in scan pieces.
  for (const auto& [lo, hi] : {std::pair{-1000, 1000}, std::pair{INT32_MIN, INT32_MAX}}) {
    SCOPED_TRACE(testing::Message() << "values " << lo << ".." << hi);
    block_case t(60, 90, 90, 70, 60, 70, 5U, lo, hi);
    const std::vector<int32_t> want = t.expected_c();
    const std::vector<step> steps = run_with_stall(t, "scalar_i16", piece_kind::scan, 0,
                                                   other_thread_reports<piece_event::done>);
    EXPECT_EQ(t.c.values(), want);
    EXPECT_TRUE(other_thread_reports<piece_event::done>(
        steps, {piece_kind::scan, 0, piece_event::taken, g_rec.held_thread}));
  }
}

// A piece that must wait for the held one: the held piece is released once the
// other thread has taken it over (the wait works) or has started the piece
// that should have waited (the wait is broken, and the order check fails).
int64_t g_dependent = -1;
bool taken_over_or_dependent_started(const std::vector<step>& steps, const step& held) {
  for (const step& s : steps) {
    if (s.thread != held.thread && ((s.piece == held.piece && s.event == piece_event::stolen) ||
                                    (s.piece == g_dependent && s.event == piece_event::starts))) {
      return true;
    }
  }
  return false;
}

TEST(TeamStall, NoPieceStartsBeforeTheStalledPieceItWaitsForIsDone) {
  struct row {
    const product& p;
    const char* wait;
    int32_t held_block;  // the held item: item 0 of this block
    int64_t dependent;   // the piece that must wait for it
  };
  const auto deep = plan_of(kDeep);
  const auto wide = plan_of(kWide);
  ASSERT_EQ(deep.b_buffers, 2);
  ASSERT_EQ(wide.b_buffers, 1);
  ASSERT_EQ(wide.col_blocks, 2);
  for (const row& r :
       std::vector<row>{{kDeep, "an item waits for the same item of the block before", 1,
                         item_number(deep, 2, 0)},
                        {kWide, "a pack piece waits for the readers of the words it overwrites", 0,
                         team_kernel::detail::block_at(wide, 1).first_piece}}) {
    SCOPED_TRACE(r.wait);
    const auto plan = plan_of(r.p);
    g_dependent = r.dependent;
    block_case t(r.p.m, r.p.k, r.p.k, r.p.n, r.p.m, r.p.n, 47U, INT32_MIN, INT32_MAX);
    const std::vector<int32_t> want = t.expected_c();
    const std::vector<step> steps =
        run_with_stall(t, "scalar_i32", piece_kind::item, item_number(plan, r.held_block, 0),
                       taken_over_or_dependent_started);
    EXPECT_EQ(t.c.values(), want);
    expect_each_piece_once_and_in_order(steps, plan);
  }
}

}  // namespace
