// The matrix record's lifecycle: storage, fills, printing, comparison, release.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <dense/dense_core.hpp>

#include "common/messages.hpp"

namespace dense_core {
namespace {

// True when `m` has a row table; otherwise reports the missing matrix.
// A null record pointer is treated like a record without storage rather
// than dereferenced.
bool exists_or_report(const matriz* m) {
  if (m != nullptr && m->mat != nullptr) {
    return true;
  }
  std::puts(dense_msg::kMissingMatrix);
  return false;
}

void fill(matriz* m, int32_t valor) {
  for (int32_t i = 0; i < m->lin; ++i) {
    int32_t* row = m->mat[i];
    for (int32_t j = 0; j < m->col; ++j) {
      row[j] = valor;
    }
  }
}

}  // namespace

int malocar(matriz* m) {
  if (m == nullptr) {
    std::puts(dense_msg::kMissingMatrix);
    return 0;
  }
  if (m->lin <= 0) {
    std::puts(dense_msg::kRowsUndefined);
    return 0;
  }
  if (m->col <= 0) {
    std::puts(dense_msg::kColsUndefined);
    return 0;
  }
  // Both counts are positive here, so the byte counts fit in size_t without
  // wrapping. The table is only published in `mat` once every row exists:
  // a failure part way leaves the record exactly as the caller gave it.
  const auto rows = static_cast<size_t>(m->lin);
  const size_t row_bytes = static_cast<size_t>(m->col) * sizeof(int32_t);
  auto** table = static_cast<int32_t**>(std::malloc(rows * sizeof(int32_t*)));
  if (table == nullptr) {
    return 0;
  }
  for (size_t i = 0; i < rows; ++i) {
    table[i] = static_cast<int32_t*>(std::malloc(row_bytes));
    if (table[i] == nullptr) {
      for (size_t k = 0; k < i; ++k) {
        std::free(table[k]);
      }
      std::free(table);
      return 0;
    }
  }
  m->mat = table;
  return 1;
}

int mgerar(matriz* m, int32_t valor) {
  if (!exists_or_report(m)) {
    return 0;
  }
  fill(m, valor);
  return 1;
}

int mzerar(matriz* m) {
  if (!exists_or_report(m)) {
    return 0;
  }
  fill(m, 0);
  return 1;
}

int mgerar_aleatorio(matriz* m, int32_t limite) {
  if (!exists_or_report(m)) {
    return 0;
  }
  // rand() % limite would divide by zero for 0 and give values outside any
  // sensible range for a negative limit: refuse before touching anything.
  if (limite < 1) {
    std::puts(dense_msg::kLimitNotPositive);
    return 0;
  }
  // Reseeding on every call is the documented behaviour: two fills within
  // the same second give the same values.
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  for (int32_t i = 0; i < m->lin; ++i) {
    int32_t* row = m->mat[i];
    // rand() lies in [0, RAND_MAX] and limite >= 1, so the sum cannot overflow.
    for (int32_t j = 0; j < m->col; ++j) {
      row[j] = std::rand() % limite + 1;
    }
  }
  return 1;
}

int mimprimir(const matriz* m) {
  if (m == nullptr) {
    std::puts(dense_msg::kMissingMatrix);
    return 0;
  }
  // The header comes first, even for a matrix without storage.
  std::printf(dense_msg::kPrintHeaderFmt, m->lin, m->col);
  if (!exists_or_report(m)) {
    return 0;
  }
  for (int32_t i = 0; i < m->lin; ++i) {
    std::putchar('\n');
    const int32_t* row = m->mat[i];
    for (int32_t j = 0; j < m->col; ++j) {
      std::printf("%i\t", row[j]);
    }
  }
  std::puts(dense_msg::kPrintEnd);
  return 1;
}

int mliberar(matriz* m) {
  if (!exists_or_report(m)) {
    return 0;
  }
  for (int32_t i = 0; i < m->lin; ++i) {
    std::free(m->mat[i]);
  }
  std::free(m->mat);
  // A released record reads as "does not exist": a second release or a
  // later fill is refused instead of touching freed memory.
  m->mat = nullptr;
  return 1;
}

int mcomparar(const matriz* a, const matriz* b) {
  if (a == nullptr || a->mat == nullptr) {
    std::puts(dense_msg::kMissingA);
    return 0;
  }
  if (b == nullptr || b->mat == nullptr) {
    std::puts(dense_msg::kMissingB);
    return 0;
  }
  if (a->lin != b->lin) {
    std::puts(dense_msg::kRowCountsDiffer);
    std::printf(dense_msg::kRowsOfAFmt, a->lin);
    std::printf(dense_msg::kRowsOfBFmt, b->lin);
    return 0;
  }
  if (a->col != b->col) {
    std::puts(dense_msg::kColCountsDiffer);
    std::printf(dense_msg::kColsOfAFmt, a->col);
    std::printf(dense_msg::kColsOfBFmt, b->col);
    return 0;
  }
  for (int32_t i = 0; i < a->lin; ++i) {
    const int32_t* ra = a->mat[i];
    const int32_t* rb = b->mat[i];
    for (int32_t j = 0; j < a->col; ++j) {
      if (ra[j] != rb[j]) {
        std::puts(dense_msg::kMatricesDiffer);
        std::printf(dense_msg::kDifferAtFmt, i + 1, j + 1);
        std::printf(dense_msg::kValueOfAFmt, ra[j]);
        std::printf(dense_msg::kValueOfBFmt, rb[j]);
        return 0;
      }
    }
  }
  std::puts(dense_msg::kIdentical);
  return 1;
}

}  // namespace dense_core
