// Matrix records on the heap (see matrix_records.hpp).
#include "common/matrix_records.hpp"

#include <cstdlib>

namespace dense_detail {

using dense_core::matriz;

matriz* new_matrix_record(int32_t lin, int32_t col) {
  auto* m = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  if (m != nullptr) {
    *m = matriz{nullptr, lin, col};
  }
  return m;
}

matriz* new_zeroed_matrix(int32_t lin, int32_t col) {
  matriz storage{nullptr, lin, col};
  if (dense_core::malocar(&storage) == 0) {
    return nullptr;
  }
  matriz* m = new_matrix_record(lin, col);
  if (m == nullptr) {
    dense_core::mliberar(&storage);
    return nullptr;
  }
  m->mat = storage.mat;
  dense_core::mzerar(m);
  return m;
}

void release_matrix(matriz* m) {
  if (m == nullptr) {
    return;
  }
  if (m->mat != nullptr) {
    dense_core::mliberar(m);
  }
  std::free(m);
}

}  // namespace dense_detail
