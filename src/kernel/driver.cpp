// Cache blocking and packing for the block kernel: portable code that feeds a tile kernel.
//
// Loop nest (outermost first), for one block product c += a x b:
//   jc: columns of b in steps of nc   - the packed block of b (kc x nc) stays in L2/L3
//   pc: the inner range in steps of kc - pack that block of b, panel by panel
//   ic: rows of a in steps of mc      - pack the mc x kc block of a (stays in L2)
//   jr: one nr-wide panel of b        - stays in L1 while every row panel passes
//   ir: one mr-high panel of a        - the tile kernel adds mr x nr results into c
// Packing turns the row tables (each row its own heap block) into contiguous
// panels read at unit stride, and zero-pads the edges so the tile kernel always
// works on full tiles; only the valid corner of each tile is written back.
#include "kernel/driver.hpp"

#include <sys/mman.h>

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace block_kernel::detail {
namespace {

int32_t round_up(int32_t x, int32_t step) { return (x + step - 1) / step * step; }

// b[pc .. pc+kc)[jc .. jc+nc) into panels of nr columns: panel p holds
// element (kk, j) at dst[p * kc * nr + kk * nr + j]; columns past nc are zero.
// Each row of b is read once, front to back, and dealt out to the panels.
// Nr is the path's tile width when it is one of the usual ones (a fixed-size
// copy compiles to a few vector moves), 0 for any other width.
template <int32_t Nr>
void pack_b(const int32_t* const* b, int32_t pc, int32_t kc, int32_t jc, int32_t nc, int32_t nr_any,
            int32_t* dst) {
  const int32_t nr = Nr != 0 ? Nr : nr_any;
  const size_t panel_size = static_cast<size_t>(kc) * static_cast<size_t>(nr);
  const size_t row_bytes = static_cast<size_t>(nr) * sizeof(int32_t);
  for (int32_t kk = 0; kk < kc; ++kk) {
    const int32_t* src = b[pc + kk] + jc;
    int32_t* out = dst + static_cast<size_t>(kk * nr);
    int32_t j = 0;
    for (; j + nr <= nc; j += nr, out += panel_size) {
      std::memcpy(out, src + j, Nr != 0 ? Nr * sizeof(int32_t) : row_bytes);
    }
    if (j < nc) {
      const int32_t width = nc - j;
      std::memcpy(out, src + j, static_cast<size_t>(width) * sizeof(int32_t));
      for (int32_t x = width; x < nr; ++x) {
        out[x] = 0;
      }
    }
  }
}

// a[ic .. ic+mc)[pc .. pc+kc) into panels of mr rows: panel q holds element
// (r, kk) at dst[q * kc * mr + kk * mr + r]; rows past mc are zero. The
// writes run contiguously and the reads walk mr rows side by side, which is
// several times faster than transposing one row at a time. Mr as Nr above.
template <int32_t Mr>
void pack_a(const int32_t* const* a, int32_t ic, int32_t mc, int32_t pc, int32_t kc, int32_t mr_any,
            int32_t* dst) {
  constexpr int32_t kMaxMr = 16;
  const int32_t mr = Mr != 0 ? Mr : mr_any;
  assert(mr <= kMaxMr);
  const int32_t* rows[kMaxMr];
  for (int32_t q = 0; q * mr < mc; ++q) {
    const int32_t height = min32(mr, mc - q * mr);
    for (int32_t r = 0; r < height; ++r) {
      rows[r] = a[ic + q * mr + r] + pc;
    }
    int32_t* out = dst + static_cast<size_t>(q) * static_cast<size_t>(kc * mr);
    if (height == mr) {  // the common case: a whole panel, a fixed count of rows
      for (int32_t kk = 0; kk < kc; ++kk, out += mr) {
        for (int32_t r = 0; r < mr; ++r) {
          out[r] = rows[r][kk];
        }
      }
      continue;
    }
    for (int32_t kk = 0; kk < kc; ++kk, out += mr) {
      for (int32_t r = 0; r < height; ++r) {
        out[r] = rows[r][kk];
      }
      for (int32_t r = height; r < mr; ++r) {
        out[r] = 0;
      }
    }
  }
}

// One int16_pairs word: `even` in the low half, `odd` in the high half.
int32_t pair_word(int32_t even, int32_t odd) {
  return static_cast<int32_t>((static_cast<uint32_t>(even) & 0xFFFFU) |
                              (static_cast<uint32_t>(odd) << 16));
}

// As pack_b, for the int16_pairs packing: step s of panel p holds, for each
// column j, b[pc + 2s][j] and b[pc + 2s + 1][j] in one word at
// dst[p * steps * nr + s * nr + j], the odd partner of an odd kc being zero.
void pack_b_pairs(const int32_t* const* b, int32_t pc, int32_t kc, int32_t jc, int32_t nc,
                  int32_t nr, int32_t* dst) {
  const int32_t steps = (kc + 1) / 2;
  const size_t panel_size = static_cast<size_t>(steps) * static_cast<size_t>(nr);
  for (int32_t s = 0; s < steps; ++s) {
    const int32_t* even = b[pc + 2 * s] + jc;
    const int32_t* odd = 2 * s + 1 < kc ? b[pc + 2 * s + 1] + jc : nullptr;
    int32_t* out = dst + static_cast<size_t>(s) * static_cast<size_t>(nr);
    for (int32_t j = 0; j < nc; j += nr, out += panel_size) {
      const int32_t width = min32(nr, nc - j);
      for (int32_t x = 0; x < width; ++x) {
        out[x] = pair_word(even[j + x], odd ? odd[j + x] : 0);
      }
      for (int32_t x = width; x < nr; ++x) {
        out[x] = 0;
      }
    }
  }
}

// As pack_a, for the int16_pairs packing: step s of panel q holds, for each
// row r, a[r][pc + 2s] and a[r][pc + 2s + 1] in one word at
// dst[q * steps * mr + s * mr + r], the odd partner of an odd kc being zero.
void pack_a_pairs(const int32_t* const* a, int32_t ic, int32_t mc, int32_t pc, int32_t kc,
                  int32_t mr, int32_t* dst) {
  constexpr int32_t kMaxMr = 16;
  assert(mr <= kMaxMr);
  const int32_t steps = (kc + 1) / 2;
  const int32_t whole = kc / 2;  // steps with both partners inside the block
  const int32_t* rows[kMaxMr];
  for (int32_t q = 0; q * mr < mc; ++q) {
    const int32_t height = min32(mr, mc - q * mr);
    for (int32_t r = 0; r < height; ++r) {
      rows[r] = a[ic + q * mr + r] + pc;
    }
    int32_t* out = dst + static_cast<size_t>(q) * static_cast<size_t>(steps * mr);
    for (int32_t s = 0; s < steps; ++s, out += mr) {
      for (int32_t r = 0; r < height; ++r) {
        const int32_t even = 2 * s;  // the pair's first k
        out[r] = pair_word(rows[r][even], s < whole ? rows[r][even + 1] : 0);
      }
      for (int32_t r = height; r < mr; ++r) {
        out[r] = 0;
      }
    }
  }
}

// True when every value of x[0 .. n) fits in 16 bits. Branch-free over the
// row, so the compiler vectorises it; a row is the unit of early exit.
bool row_fits_int16(const int32_t* x, int32_t n) {
  uint32_t outside = 0;
  for (int32_t j = 0; j < n; ++j) {
    outside |= (static_cast<uint32_t>(x[j]) + 0x8000U) >> 16;
  }
  return outside == 0;
}

using pack_fn = void (*)(const int32_t* const*, int32_t, int32_t, int32_t, int32_t, int32_t,
                         int32_t*);

pack_fn pack_b_for(int32_t nr) {
  switch (nr) {
    case 8:
      return pack_b<8>;
    case 16:
      return pack_b<16>;
    case 32:
      return pack_b<32>;
    default:
      return pack_b<0>;
  }
}

pack_fn pack_a_for(int32_t mr) {
  switch (mr) {
    case 4:
      return pack_a<4>;
    case 6:
      return pack_a<6>;
    case 12:
      return pack_a<12>;
    default:
      return pack_a<0>;
  }
}

}  // namespace

int32_t steps_of(const tile_kernel& kernel, int32_t kc) {
  return kernel.pack == packing::int16_pairs ? (kc + 1) / 2 : kc;
}

bool fits_int16(const operands& op) { return rows_fit_int16(op, 0, scan_rows(op)); }

int32_t scan_rows(const operands& op) { return (op.i1 - op.i0) + (op.k1 - op.k0); }

bool rows_fit_int16(const operands& op, int32_t first, int32_t last) {
  const int32_t m = op.i1 - op.i0;
  for (int32_t r = first; r < last; ++r) {
    const bool fits = r < m ? row_fits_int16(op.a[op.i0 + r] + op.k0, op.k1 - op.k0)
                            : row_fits_int16(op.b[op.k0 + r - m] + op.j0, op.j1 - op.j0);
    if (!fits) {
      return false;
    }
  }
  return true;
}

pack_sizes pack_sizes_for(const tile_kernel& kernel, const operands& op) {
  const int32_t m = op.i1 - op.i0;
  const int32_t k = op.k1 - op.k0;
  const int32_t n = op.j1 - op.j0;
  const auto kc_max = static_cast<size_t>(steps_of(kernel, min32(kernel.kc, k)));
  const auto mc_max =
      static_cast<size_t>(min32(kernel.mc, round_up(min32(m, kernel.mc), kernel.mr)));
  const auto nc_max =
      static_cast<size_t>(min32(kernel.nc, round_up(min32(n, kernel.nc), kernel.nr)));
  constexpr size_t kLine = kPackAlign / sizeof(int32_t);
  return {(mc_max * kc_max + kLine - 1) / kLine * kLine,
          (nc_max * kc_max + kLine - 1) / kLine * kLine};
}

pack_block alloc_pack(size_t words) {
  constexpr size_t kHugePage = size_t{2} << 20;
  // Below this a few 4 KiB faults cost less than clearing a whole huge page.
  constexpr size_t kHugeFrom = size_t{256} << 10;
  const size_t bytes = words * sizeof(int32_t);
  const bool huge = bytes >= kHugeFrom;
  const size_t span = huge ? (bytes + kHugePage - 1) / kHugePage * kHugePage : bytes;
  const size_t align = huge ? kHugePage : kPackAlign;
  void* base = std::malloc(span + align);
  if (base == nullptr) {
    return {nullptr, nullptr};
  }
  const auto addr = reinterpret_cast<uintptr_t>(base);
  char* start = static_cast<char*>(base) + (align - addr % align) % align;
  if (huge) {
    madvise(start, span, MADV_HUGEPAGE);  // advice only: without it, small pages
  }
  return {base, reinterpret_cast<int32_t*>(start)};
}

void pack_b_panels(const tile_kernel& kernel, const operands& op, int32_t pc, int32_t kc,
                   int32_t jc, int32_t nc, int32_t p0, int32_t p1, int32_t* b_pack) {
  const int32_t nr = kernel.nr;
  const int32_t first = jc + p0 * nr;
  const int32_t width = min32(nc, p1 * nr) - p0 * nr;
  if (width <= 0) {
    return;
  }
  int32_t* dst = b_pack + static_cast<size_t>(p0) * static_cast<size_t>(steps_of(kernel, kc)) *
                              static_cast<size_t>(nr);
  if (kernel.pack == packing::int16_pairs) {
    pack_b_pairs(op.b, op.k0 + pc, kc, op.j0 + first, width, nr, dst);
  } else {
    pack_b_for(nr)(op.b, op.k0 + pc, kc, op.j0 + first, width, nr, dst);
  }
}

void pack_a_block(const tile_kernel& kernel, const operands& op, int32_t pc, int32_t kc, int32_t r0,
                  int32_t r1, int32_t* a_pack) {
  assert(r0 < r1 && r1 - r0 <= kernel.mc);
  const pack_fn pack = kernel.pack == packing::int16_pairs ? pack_a_pairs : pack_a_for(kernel.mr);
  pack(op.a, op.i0 + r0, r1 - r0, op.k0 + pc, kc, kernel.mr, a_pack);
}

void multiply_packed(const tile_kernel& kernel, const operands& op, int32_t kc, int32_t jc,
                     int32_t r0, int32_t r1, int32_t first, int32_t last, const int32_t* a_pack,
                     const int32_t* b_pack) {
  assert(first % kernel.nr == 0);
  const int32_t mr = kernel.mr;
  const int32_t nr = kernel.nr;
  const auto steps = static_cast<size_t>(steps_of(kernel, kc));
  // Every loop steps by the size of the block it just did, so no index ever
  // goes past its bound (and none can overflow for bounds near INT32_MAX).
  int32_t width = 0;
  for (int32_t jr = first; jr < last; jr += width) {
    width = min32(nr, last - jr);
    const int32_t* b_panel = b_pack + static_cast<size_t>(jr) * steps;
    int32_t height = 0;
    for (int32_t ir = 0; ir < r1 - r0; ir += height) {
      height = min32(mr, r1 - r0 - ir);
      const int32_t* a_panel = a_pack + static_cast<size_t>(ir) * steps;
      kernel.tile(static_cast<int32_t>(steps), a_panel, b_panel, op.c + op.i0 + r0 + ir,
                  op.j0 + jc + jr, height, width);
    }
  }
}

bool blocked_product(const tile_kernel& kernel, const operands& op) {
  const int32_t m = op.i1 - op.i0;
  const int32_t k = op.k1 - op.k0;
  const int32_t n = op.j1 - op.j0;
  assert(m > 0 && k > 0 && n > 0);  // the entry point returns early for empty ranges
  assert(kernel.mc % kernel.mr == 0 && kernel.nc % kernel.nr == 0);
  assert(kernel.pack != packing::int16_pairs || kernel.kc % 2 == 0);  // pairs never straddle blocks

  const pack_sizes sizes = pack_sizes_for(kernel, op);
  const pack_block block = alloc_pack(sizes.a_words + sizes.b_words);
  if (block.start == nullptr) {
    return false;
  }
  int32_t* a_pack = block.start;
  int32_t* b_pack = a_pack + sizes.a_words;

  int32_t nc = 0;
  for (int32_t jc = 0; jc < n; jc += nc) {
    nc = min32(kernel.nc, n - jc);
    int32_t kc = 0;
    for (int32_t pc = 0; pc < k; pc += kc) {
      kc = min32(kernel.kc, k - pc);
      pack_b_panels(kernel, op, pc, kc, jc, nc, 0, (nc + kernel.nr - 1) / kernel.nr, b_pack);
      int32_t mc = 0;
      for (int32_t ic = 0; ic < m; ic += mc) {
        mc = min32(kernel.mc, m - ic);
        pack_a_block(kernel, op, pc, kc, ic, ic + mc, a_pack);
        multiply_packed(kernel, op, kc, jc, ic, ic + mc, 0, nc, a_pack, b_pack);
      }
    }
  }
  std::free(block.base);
  return true;
}

void direct_product(const operands& op, int32_t r0, int32_t r1) {
  for (int32_t i = op.i0 + r0; i < op.i0 + r1; ++i) {
    int32_t* c_row = op.c[i];
    for (int32_t kk = op.k0; kk < op.k1; ++kk) {
      const auto aik = static_cast<uint32_t>(op.a[i][kk]);
      const int32_t* b_row = op.b[kk];
      for (int32_t j = op.j0; j < op.j1; ++j) {
        c_row[j] = static_cast<int32_t>(static_cast<uint32_t>(c_row[j]) +
                                        aik * static_cast<uint32_t>(b_row[j]));
      }
    }
  }
}

}  // namespace block_kernel::detail
