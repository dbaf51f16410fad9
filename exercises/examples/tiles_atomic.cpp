// Worked example: POSIX threads that cut c into tiles and take the next tile from one atomic
// counter, each tile computed four rows at a time (docs/exercises.md).
//
// Why: a share fixed at the start (rows 0..m/2 to one thread, the rest to the
// other, as schedule(static) does) finishes only when its slowest thread
// does, and on a shared machine a thread can lose its core for a while. Here
// a thread that is held up simply takes fewer tiles: each thread asks the
// counter for the next tile (a relaxed fetch_add) until none is left. A tile
// is kTileRows x kTileCols of c; its kTileCols columns of b (a band of
// K x kTileCols values, 1 MiB at K = 1024) are read again for every four rows
// of the tile, and every element of b loaded serves four sums at once.
// Tiles are disjoint and each is written by the thread that took it, so no
// lock is needed.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>
#include <vector>

using dense_core::matriz;

namespace {

constexpr int32_t kTileRows = 32;
constexpr int32_t kTileCols = 256;

struct shared_work {
  const matriz* a;
  const matriz* b;
  matriz* c;
  int32_t tile_rows;  // tiles down c
  int32_t tile_cols;  // tiles across c
  std::atomic<int32_t> next{0};
};

// One row of c's tile, [j0, j1), as sums over the inner index: c[i][j] += a[i][p] * b[p][j].
// kRows rows at once, so that every element of b loaded serves kRows sums.
template <int kRows>
void tile_rows(const shared_work& w, int32_t i, int32_t j0, int32_t j1) {
  // Sizes in locals: stores into c (int32_t) could otherwise change them as
  // far as the compiler knows, and the inner loop would not be vectorised.
  const int32_t inner = w.a->col;
  uint32_t* c[kRows];
  for (int r = 0; r < kRows; ++r) {
    c[r] = reinterpret_cast<uint32_t*>(w.c->mat[i + r]);
    for (int32_t j = j0; j < j1; ++j) {
      c[r][j] = 0;
    }
  }
  for (int32_t p = 0; p < inner; ++p) {
    uint32_t a[kRows];
    for (int r = 0; r < kRows; ++r) {
      a[r] = static_cast<uint32_t>(w.a->mat[i + r][p]);
    }
    const auto* bp = reinterpret_cast<const uint32_t*>(w.b->mat[p]);
    for (int32_t j = j0; j < j1; ++j) {
      const uint32_t bpj = bp[j];
      for (int r = 0; r < kRows; ++r) {
        c[r][j] += a[r] * bpj;
      }
    }
  }
}

void multiply_tile(const shared_work& w, int32_t tile) {
  const int32_t i0 = tile / w.tile_cols * kTileRows;
  const int32_t j0 = tile % w.tile_cols * kTileCols;
  const int32_t i1 = std::min(i0 + kTileRows, w.c->lin);
  const int32_t j1 = std::min(j0 + kTileCols, w.c->col);
  int32_t i = i0;
  for (; i + 4 <= i1; i += 4) {
    tile_rows<4>(w, i, j0, j1);
  }
  for (; i < i1; ++i) {
    tile_rows<1>(w, i, j0, j1);
  }
}

void* take_tiles(void* arg) {
  auto& w = *static_cast<shared_work*>(arg);
  const int32_t tiles = w.tile_rows * w.tile_cols;
  for (int32_t t = w.next.fetch_add(1, std::memory_order_relaxed); t < tiles;
       t = w.next.fetch_add(1, std::memory_order_relaxed)) {
    multiply_tile(w, t);
  }
  return nullptr;
}

}  // namespace

extern "C" matriz* tiles_atomic(const matriz* a, const matriz* b, int32_t threads) {
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  if (c == nullptr) {
    return nullptr;
  }
  *c = {nullptr, a->lin, b->col};
  if (dense_core::malocar(c) == 0) {
    std::free(c);
    return nullptr;
  }
  shared_work w{a, b, c, (a->lin + kTileRows - 1) / kTileRows,
                (b->col + kTileCols - 1) / kTileCols};
  // The calling thread takes tiles too, beside threads - 1 others.
  std::vector<pthread_t> team(static_cast<size_t>(std::max(threads, 1) - 1));
  size_t started = 0;
  while (started < team.size() && pthread_create(&team[started], nullptr, take_tiles, &w) == 0) {
    ++started;
  }
  take_tiles(&w);
  for (size_t t = 0; t < started; ++t) {
    pthread_join(team[t], nullptr);
  }
  return c;
}
