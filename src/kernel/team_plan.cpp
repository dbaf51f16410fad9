// The team kernel's cut of a product into pieces of work: pure arithmetic on the sizes.
#include "kernel/team_plan.hpp"

#include <algorithm>

namespace team_kernel::detail {
namespace {

using dense_detail::even_part;
using dense_detail::item_range;

int32_t units_of(int32_t total, int32_t unit) {
  return static_cast<int32_t>((int64_t{total} + unit - 1) / unit);
}

// The pieces of a block `width` columns wide, with its pack pieces and items.
struct block_pieces {
  int32_t packs;
  int32_t col_items;
  int64_t total;
};

block_pieces pieces_of(const team_plan& plan, int32_t width) {
  const int32_t panels = units_of(width, plan.nr);
  const int32_t packs = std::min(plan.pack_pieces, panels);
  const int32_t col_items = std::min(plan.col_items, panels);
  return {packs, col_items, packs + int64_t{plan.row_items} * col_items};
}

}  // namespace

team_plan plan_team(const block_kernel::detail::tile_kernel& kernel, int32_t m, int32_t k,
                    int32_t n, int32_t threads) {
  team_plan p{};
  p.m = m;
  p.k = k;
  p.n = n;
  p.mr = kernel.mr;
  p.nr = kernel.nr;
  p.kc = kernel.kc;
  p.nc = kernel.nc;
  p.col_blocks = units_of(n, kernel.nc);
  p.depth_blocks = units_of(k, kernel.kc);
  const int32_t row_tiles = units_of(m, kernel.mr);
  const int32_t tallest = kernel.mc / kernel.mr;  // tiles of a body item at most
  if (row_tiles <= tallest) {
    p.body_rows = 0;  // one tail item: all the rows
    p.body_items = 0;
    p.row_items = 1;
  } else {
    const auto tiles_per_item = static_cast<int32_t>(
        std::clamp<int64_t>(row_tiles / (int64_t{kBodyItemsPerThread} * threads), 1, tallest));
    const auto tail_tiles =
        static_cast<int32_t>(std::min<int64_t>(row_tiles, int64_t{tiles_per_item} * threads));
    const int32_t body_tiles = row_tiles - tail_tiles;
    const int32_t tail_item_tiles =
        std::max(std::min(kMinTailTiles, tiles_per_item), tiles_per_item / kTailCut);
    p.body_rows = body_tiles * kernel.mr;  // below m: the tail holds at least one tile
    p.body_items = units_of(body_tiles, tiles_per_item);
    p.row_items = p.body_items + units_of(tail_tiles, tail_item_tiles);
  }
  const int64_t target = int64_t{kItemsPerThread} * threads;
  const int32_t col_tiles = units_of(std::min(n, kernel.nc), kernel.nr);
  const int64_t wanted_cols = (target + p.row_items - 1) / p.row_items;
  p.col_items = static_cast<int32_t>(
      std::clamp<int64_t>(wanted_cols, 1, std::max(1, col_tiles / kMinItemColTiles)));
  p.pack_pieces =
      static_cast<int32_t>(std::min<int64_t>(col_tiles, int64_t{kPackPiecesPerThread} * threads));
  p.b_buffers = p.col_items == 1 && int64_t{p.col_blocks} * p.depth_blocks > 1 ? 2 : 1;
  p.k_per_step = kernel.pack == block_kernel::detail::packing::int16_pairs ? 2 : 1;
  return p;
}

int32_t block_count(const team_plan& plan) { return plan.col_blocks * plan.depth_blocks; }

packed_block block_at(const team_plan& plan, int32_t index) {
  const int32_t column = index / plan.depth_blocks;
  const int32_t depth = index % plan.depth_blocks;
  packed_block b{};
  b.index = index;
  b.jc = column * plan.nc;
  b.nc = std::min(plan.nc, plan.n - b.jc);
  b.pc = depth * plan.kc;
  b.kc = std::min(plan.kc, plan.k - b.pc);
  const block_pieces own = pieces_of(plan, b.nc);
  b.packs = own.packs;
  b.col_items = own.col_items;
  b.items = plan.row_items * b.col_items;
  b.follows = depth > 0;
  // The blocks before the last column are all nc wide, with the same pieces.
  const int64_t full_before = int64_t{column} * plan.depth_blocks;
  b.first_piece = full_before * pieces_of(plan, plan.nc).total + int64_t{depth} * own.total;
  return b;
}

int64_t piece_count(const team_plan& plan) {
  const packed_block last = block_at(plan, block_count(plan) - 1);
  return last.first_piece + last.packs + last.items;
}

team_piece piece_at(const team_plan& plan, int64_t piece) {
  const int32_t last_column = (plan.col_blocks - 1) * plan.depth_blocks;
  const packed_block tail = block_at(plan, last_column);
  int32_t index = 0;
  if (piece < tail.first_piece) {
    index = static_cast<int32_t>(piece / pieces_of(plan, plan.nc).total);
  } else {
    index = last_column +
            static_cast<int32_t>((piece - tail.first_piece) / (tail.packs + int64_t{tail.items}));
  }
  const packed_block b = block_at(plan, index);
  const auto offset = static_cast<int32_t>(piece - b.first_piece);
  const bool packs_b = offset < b.packs;
  return {b, packs_b, packs_b ? offset : offset - b.packs};
}

item_range panels_of(const team_plan& plan, const packed_block& block, int32_t index) {
  return even_part(units_of(block.nc, plan.nr), block.packs, index);
}

item_range overwritten_readers(const team_plan& plan, const packed_block& writer, int32_t piece,
                               const packed_block& reader) {
  const item_range panels = panels_of(plan, writer, piece);
  // Words per panel: a panel holds nr words per step of the block's depth.
  const int64_t stride = int64_t{units_of(writer.kc, plan.k_per_step)} * plan.nr;
  const int64_t reader_stride = int64_t{units_of(reader.kc, plan.k_per_step)} * plan.nr;
  const int32_t reader_panels = units_of(reader.nc, plan.nr);
  const auto first = static_cast<int32_t>(panels.begin * stride / reader_stride);
  const auto end = static_cast<int32_t>(
      std::min<int64_t>(reader_panels, (panels.end * stride + reader_stride - 1) / reader_stride));
  if (first >= end) {
    return {0, 0};
  }
  return {dense_detail::part_holding(reader_panels, reader.col_items, first),
          dense_detail::part_holding(reader_panels, reader.col_items, end - 1) + 1};
}

item_area item_at(const team_plan& plan, const packed_block& block, int32_t index) {
  const int32_t row_item = index / block.col_items;
  item_range rows{};
  if (row_item < plan.body_items) {
    rows = even_part(plan.body_rows, plan.body_items, row_item, plan.mr);
  } else {
    rows = even_part(plan.m - plan.body_rows, plan.row_items - plan.body_items,
                     row_item - plan.body_items, plan.mr);
    rows = {plan.body_rows + rows.begin, plan.body_rows + rows.end};
  }
  return {rows, even_part(block.nc, block.col_items, index % block.col_items, plan.nr)};
}

}  // namespace team_kernel::detail
