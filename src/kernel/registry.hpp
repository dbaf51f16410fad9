// Private to the block kernel: the registry of its instruction-set paths, one row each.
//
// A row says everything the kernel knows about a path: its name, the CPU features it needs,
// whether the kernel may pick it on its own, and how the driver runs it (register tile,
// cache blocks, packing, tile function). The rows stand in order of preference: the first
// row of a kind (int32 words, int16 pairs) whose features a CPU has is the one calls take
// there. Everything else (the selection, whether a path runs here, its name) is read from
// the rows, so a new instruction set is one row in registry.cpp, one file in tiles/ and
// its line in CMakeLists.txt.
#pragma once

#include <cstdint>
#include <span>

#include "kernel/tiles/tile.hpp"

namespace block_kernel {

// The CPU features a path may need, one bit each. A feature the kernel does not
// query yet is one more bit here and one more line in dispatch.cpp's CPU query.
using cpu_features = uint32_t;
namespace feature {
inline constexpr cpu_features avx2 = 1U << 0;
inline constexpr cpu_features avx512f = 1U << 1;
inline constexpr cpu_features avx512bw = 1U << 2;
inline constexpr cpu_features avx512vnni = 1U << 3;
inline constexpr cpu_features avxvnni = 1U << 4;  // AVX-VNNI: vpdpwssd on ymm
}  // namespace feature

namespace detail {

// One instruction-set path.
struct path_row {
  const char* name;    // "<instruction set>_<value type>", unique
  cpu_features needs;  // every one of these bits, or the path cannot run
  bool picked;         // false: never chosen on its own, only forced (a test's truth)
  tile_kernel kernel;  // kernel.tile is null when this build has no such tile
};

// Every path, in order of preference within each packing.
std::span<const path_row> path_rows();

}  // namespace detail
}  // namespace block_kernel
