// Private to the team kernel: how one product is cut into pieces of work that the threads
// take from one shared counter, and what each piece must wait for. Pure: tests check the
// cut without starting a thread.
//
// The team runs the driver's loops (driver.hpp) over packed blocks of b, columns (jc)
// outer, inner range (pc) inner; block s is b's kc x nc block number s in that order.
// Each block brings two kinds of pieces, numbered block by block, pack pieces first:
//   pack pieces  each packs a run of the block's nr-wide panels of b into the block's
//                buffer, which the whole team then reads;
//   items        each packs its rows of a (at most mc) and adds its rectangle of c for
//                the block's inner range, against every panel it covers.
// The counter hands the pieces out in that order, and a piece waits only for pieces
// with smaller numbers:
//   a pack piece of block s  the items of blocks s - b_buffers and s - 2 b_buffers that
//                            read the words its panels overwrite: block s packs into
//                            the buffer those blocks were read from (the second, when
//                            the first was a shallower last block of a column). Two
//                            buffers let the next block be packed while the last is
//                            read; they cost a second block of fresh memory, so only a
//                            product whose items span whole blocks of columns (many
//                            rows, long calls) has two;
//   an item of block s       the pack pieces of block s that hold the panels it reads,
//                            and, when block s - 1 covers the same columns, the same
//                            item of block s - 1: both add into the same rectangle of c.
// No piece waits for a thread. A thread that loses its core delays only what needs the
// piece it holds, and a thread that starts late takes whatever is left; and since every
// wait is for a piece handed out earlier, one thread alone does every piece in order
// and never waits (a team of one, or a nested region, cannot deadlock).
#pragma once

#include <cstdint>

#include "common/even_split.hpp"
#include "kernel/tiles/tile.hpp"

namespace team_kernel::detail {

// Rows are cut into body items and tail items. Body items are as tall as mc
// allows (tall items read the packed panels of b least often: each panel
// once per item) while every thread has at least kBodyItemsPerThread of
// them. The last rows, one body item per thread, are cut kTailCut times
// finer, to items of at least kMinTailTiles tiles: the last items, which a
// thread may still hold when the others have nothing left, are small, so
// the team finishes nearly together. A result of at most mc rows is one
// item tall and cut across the columns only.
inline constexpr int32_t kBodyItemsPerThread = 2;
inline constexpr int32_t kTailCut = 4;
inline constexpr int32_t kMinTailTiles = 2;
// Items per thread in each packed block below which the columns are cut too.
inline constexpr int32_t kItemsPerThread = 8;
// Pack pieces per thread in each packed block.
inline constexpr int32_t kPackPiecesPerThread = 4;
// An item cut across the columns is at least this many tiles wide: an item
// packs its rows of a unless its thread's last item packed the same ones, so
// narrow items would pack the same rows again and again.
inline constexpr int32_t kMinItemColTiles = 4;

// The cut of one m x k x n product for a team of `threads` on a tile kernel.
struct team_plan {
  int32_t m, k, n;         // the result's rows and columns, the inner range
  int32_t mr, nr, kc, nc;  // the tile kernel's tile and blocks
  int32_t col_blocks;      // blocks of nc columns (the last may be narrower)
  int32_t depth_blocks;    // blocks of kc of the inner range (the last may be shallower)
  int32_t body_rows;       // rows of the body items (whole mr tiles), then the tail's
  int32_t body_items;      // items down the body rows: even_part in whole mr tiles
  int32_t row_items;       // body items, then tail items down the rest of the rows
  int32_t col_items;       // items across a block's columns, in whole nr tiles
  int32_t pack_pieces;     // pack pieces of a block
  int32_t b_buffers;       // buffers of packed b: block s uses buffer s % b_buffers
  int32_t k_per_step;      // elements of k per step of a packed panel: 2 for int16 pairs
};

// Rows first, into body and tail items (see kBodyItemsPerThread); the
// columns are cut too only when the rows alone give fewer than
// kItemsPerThread items per thread. Pure; m, k, n >= 1, threads >= 1.
team_plan plan_team(const block_kernel::detail::tile_kernel& kernel, int32_t m, int32_t k,
                    int32_t n, int32_t threads);

// One packed block of b and its pieces. jc, nc, pc, kc are relative to the
// product's block; first_piece is the number of its first pack piece.
struct packed_block {
  int32_t index;
  int32_t jc, nc, pc, kc;
  int32_t packs;      // its pack pieces
  int32_t col_items;  // its items across the columns (fewer in a narrow last block)
  int32_t items;      // row_items * col_items
  int64_t first_piece;
  bool follows;  // block index - 1 covers the same columns (pc > 0)
};

int32_t block_count(const team_plan& plan);
int64_t piece_count(const team_plan& plan);
packed_block block_at(const team_plan& plan, int32_t index);

// Piece number `piece` (in [0, piece_count)): its block, whether it packs b,
// and its index among the block's pack pieces or items.
struct team_piece {
  packed_block block;
  bool packs_b;
  int32_t index;
};
team_piece piece_at(const team_plan& plan, int64_t piece);

// The panels [begin, end) of the block that its pack piece `index` packs.
dense_detail::item_range panels_of(const team_plan& plan, const packed_block& block, int32_t index);

// The items of block `reader`, an earlier block that used the same buffer,
// that read words which pack piece `piece` of block `writer` overwrites:
// every row item, at the column items [begin, end) (empty for none). Blocks
// of different depths lay their panels out at different strides.
dense_detail::item_range overwritten_readers(const team_plan& plan, const packed_block& writer,
                                             int32_t piece, const packed_block& reader);

// The rows of the result (relative) and the columns inside the packed block
// (from jc; begin a multiple of nr) of the block's item `index`. Items with
// the same index in blocks of the same columns cover the same rectangle.
struct item_area {
  dense_detail::item_range rows;
  dense_detail::item_range cols;
};
item_area item_at(const team_plan& plan, const packed_block& block, int32_t index);

}  // namespace team_kernel::detail
