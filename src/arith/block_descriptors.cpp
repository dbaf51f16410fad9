// Band descriptors over a caller's matrix, zeroed result parts, and the block
// product that adds one band's share of a product into a part.
#include <cstdio>
#include <cstdlib>

#include <dense/dense_arith.hpp>

namespace dense_arith {
namespace {

constexpr const char* kNoMemory = "** Erro: Memoria Insuficiente **";
constexpr const char* kMissing = "ERRO: Matriz inexistente.";

// Wrapping 32-bit arithmetic without signed overflow.
inline uint32_t w(int32_t v) { return static_cast<uint32_t>(v); }
inline int32_t s(uint32_t v) { return static_cast<int32_t>(v); }

[[noreturn]] void out_of_memory_exit() {
  std::puts("ERROR: Out of memory");
  std::exit(1);
}

// Frees the first `made` descriptors of a partition under construction, and
// the array itself.
void drop_partition(submatriz** parts, int32_t made) {
  for (int32_t t = 0; t < made; ++t) {
    std::free(parts[t]->bloco);
    std::free(parts[t]);
  }
  std::free(parts);
}

// True when [lo, hi) is empty or lies inside [0, limit).
bool inside(int32_t lo, int32_t hi, int32_t limit) { return lo >= hi || (lo >= 0 && hi <= limit); }

}  // namespace

submatriz** particionar_matriz(int32_t** mat, int32_t lin, int32_t col, int32_t orientacao,
                               int32_t divisor) {
  // A divisor below 1 describes no band at all: refused like an array that
  // cannot be had, before anything is allocated.
  if (mat == nullptr || divisor < 1) {
    std::puts(kNoMemory);
    return nullptr;
  }
  auto** parts =
      static_cast<submatriz**>(std::calloc(static_cast<size_t>(divisor), sizeof(submatriz*)));
  if (parts == nullptr) {
    std::puts(kNoMemory);
    return nullptr;
  }
  if (orientacao == 0 && divisor > lin) {
    std::printf("** Erro: Divisor (%d) maior que o n\xc3\xbamero de linhas (%d) **\n", divisor,
                lin);
    std::free(parts);
    return nullptr;
  }
  if (orientacao == 1 && divisor > col) {
    std::printf("** Erro: Divisor (%d) maior que o n\xc3\xbamero de colunas (%d) **\n", divisor,
                col);
    std::free(parts);
    return nullptr;
  }

  for (int32_t t = 0; t < divisor; ++t) {
    auto* d = static_cast<submatriz*>(std::malloc(sizeof(submatriz)));
    auto* b = static_cast<bloco*>(std::malloc(sizeof(bloco)));
    if (d == nullptr || b == nullptr) {
      std::free(d);
      std::free(b);
      drop_partition(parts, t);
      std::puts(kNoMemory);
      return nullptr;
    }
    d->bloco = b;
    parts[t] = d;
  }
  // One record for the whole call: it wraps the caller's row table, so every
  // descriptor reads and writes the caller's own rows.
  auto* shared = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  if (shared == nullptr) {
    drop_partition(parts, divisor);
    std::puts(kNoMemory);
    return nullptr;
  }
  shared->mat = mat;
  shared->lin = lin;
  shared->col = col;

  // Every band gets count/divisor; the last one also takes the remainder.
  // Orientations other than 0 and 1 are cut into columns without the divisor
  // check, so their leading bands may be empty ([0, 0)).
  const int32_t step = (orientacao == 0 ? lin : col) / divisor;
  for (int32_t t = 0; t < divisor; ++t) {
    parts[t]->matriz = shared;
    bloco* b = parts[t]->bloco;
    const int32_t lo = t * step;
    const int32_t hi = t == divisor - 1 ? (orientacao == 0 ? lin : col) : lo + step;
    if (orientacao == 0) {
      *b = bloco{lo, hi, 0, col};
    } else {
      *b = bloco{0, lin, lo, hi};
    }
  }
  return parts;
}

submatriz** csubmatrizv2(int32_t lin, int32_t col, int32_t divisor) {
  if (divisor < 0) out_of_memory_exit();
  // Room for one entry even when divisor is 0, so the empty array is a real,
  // freeable block and never mistaken for a failure.
  auto** parts = static_cast<submatriz**>(
      std::calloc(static_cast<size_t>(divisor > 0 ? divisor : 1), sizeof(submatriz*)));
  if (parts == nullptr) out_of_memory_exit();

  for (int32_t t = 0; t < divisor; ++t) {
    auto* d = static_cast<submatriz*>(std::malloc(sizeof(submatriz)));
    auto* b = static_cast<bloco*>(std::malloc(sizeof(bloco)));
    auto* m = static_cast<matriz*>(std::malloc(sizeof(matriz)));
    if (d == nullptr || b == nullptr || m == nullptr) out_of_memory_exit();
    *m = matriz{nullptr, lin, col};
    *b = bloco{0, lin, 0, col};
    d->matriz = m;
    d->bloco = b;
    parts[t] = d;
    if (dense_core::malocar(m) != 0) {
      dense_core::mzerar(m);
    } else if (lin > 0 && col > 0) {
      // malocar explains bad counts itself; an exhausted heap is silent there.
      // Either way the part stays without storage and every product refuses it.
      std::puts("ERROR: Out of memory");
    }
  }
  return parts;
}

int32_t multiplicar_submatriz(const submatriz* a, const submatriz* b, const submatriz* r) {
  if (a == nullptr || b == nullptr || r == nullptr || a->bloco == nullptr || b->bloco == nullptr) {
    std::puts(kNoMemory);
    return -1;
  }
  if (a->matriz == nullptr || b->matriz == nullptr || r->matriz == nullptr ||
      a->matriz->mat == nullptr || b->matriz->mat == nullptr || r->matriz->mat == nullptr) {
    std::puts(kMissing);
    return -1;
  }
  const bloco& ab = *a->bloco;
  const bloco& bb = *b->bloco;
  const matriz& am = *a->matriz;
  const matriz& bm = *b->matriz;
  const matriz& rm = *r->matriz;
  // Nothing is read or written when any of the three ranges is empty.
  if (ab.lin_inicio >= ab.lin_fim || bb.col_inicio >= bb.col_fim) return 0;
  if (ab.col_inicio >= ab.col_fim) return 0;
  // Bounds that leave a matrix would read or write foreign memory: refuse them.
  if (!inside(ab.lin_inicio, ab.lin_fim, am.lin) || !inside(ab.lin_inicio, ab.lin_fim, rm.lin) ||
      !inside(ab.col_inicio, ab.col_fim, am.col) || !inside(ab.col_inicio, ab.col_fim, bm.lin) ||
      !inside(bb.col_inicio, bb.col_fim, bm.col) || !inside(bb.col_inicio, bb.col_fim, rm.col)) {
    std::puts("ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.");
    return -1;
  }
  for (int32_t i = ab.lin_inicio; i < ab.lin_fim; ++i) {
    const int32_t* ai = am.mat[i];
    int32_t* ri = rm.mat[i];
    for (int32_t j = bb.col_inicio; j < bb.col_fim; ++j) {
      uint32_t sum = w(ri[j]);
      for (int32_t k = ab.col_inicio; k < ab.col_fim; ++k) sum += w(ai[k]) * w(bm.mat[k][j]);
      ri[j] = s(sum);
    }
  }
  return 0;
}

namespace detail {

void release_partition(submatriz** parts, int32_t divisor) {
  if (parts == nullptr) return;
  // All descriptors share one record; the rows it points to stay the caller's.
  if (divisor > 0 && parts[0] != nullptr) std::free(parts[0]->matriz);
  drop_partition(parts, divisor);
}

void release_parts(submatriz** parts, int32_t divisor) {
  if (parts == nullptr) return;
  for (int32_t t = 0; t < divisor; ++t) {
    if (parts[t] == nullptr) continue;
    if (parts[t]->matriz->mat != nullptr) dense_core::mliberar(parts[t]->matriz);
    std::free(parts[t]->matriz);
    std::free(parts[t]->bloco);
    std::free(parts[t]);
  }
  std::free(parts);
}

}  // namespace detail
}  // namespace dense_arith
