// Fuzz target: every product of the library on shapes, thread counts, loop
// orders and values from the input, each checked against a plain product;
// refusals must be the documented ones (null, -1, or exit status 1).
//
// Input: bytes 0..2 the rows of a, the inner dimension and the columns of b
// (each 1..9), byte 3 the loop order (signed), byte 4 the thread count
// (-2..8), byte 5 bit 0 set makes b one row taller than a is wide (a
// mismatch), then the elements of a and b, 4 bytes each (missing bytes 0).
#include <cstdint>
#include <cstdlib>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include <dense/team_rows.hpp>
#include <dense/workers_cyclic.hpp>
#include <dense/workers_ranges.hpp>
#include <vector>

#include "common/matrix_records.hpp"
#include "fuzz_support.hpp"

namespace {

using dense_core::matriz;
using namespace fuzz_support;

// A matrix laid out like the library's (one heap block per row).
struct owned {
  matriz m{nullptr, 0, 0};
  owned(int32_t lin, int32_t col) : m{nullptr, lin, col} {
    m.mat = static_cast<int32_t**>(std::calloc(static_cast<size_t>(lin), sizeof(int32_t*)));
    for (int32_t i = 0; i < lin; ++i) {
      m.mat[i] = static_cast<int32_t*>(std::calloc(static_cast<size_t>(col), sizeof(int32_t)));
    }
  }
  owned(const owned&) = delete;
  owned& operator=(const owned&) = delete;
  ~owned() {
    for (int32_t i = 0; i < m.lin; ++i) {
      std::free(m.mat[i]);
    }
    std::free(m.mat);
  }
};

std::vector<int32_t> values(const matriz* m) {
  std::vector<int32_t> out;
  for (int32_t i = 0; i < m->lin; ++i) {
    for (int32_t j = 0; j < m->col; ++j) {
      out.push_back(m->mat[i][j]);
    }
  }
  return out;
}

std::vector<int32_t> reference_product(const matriz& a, const matriz& b) {
  std::vector<int32_t> out;
  for (int32_t i = 0; i < a.lin; ++i) {
    for (int32_t j = 0; j < b.col; ++j) {
      uint32_t sum = 0;
      for (int32_t k = 0; k < a.col; ++k) {
        sum += static_cast<uint32_t>(a.mat[i][k]) * static_cast<uint32_t>(b.mat[k][j]);
      }
      out.push_back(static_cast<int32_t>(sum));
    }
  }
  return out;
}

// Checks a returned product (or its refusal) and releases it.
void expect_product(matriz* got, const std::vector<int32_t>* want, const char* what) {
  if (want == nullptr) {
    check(got == nullptr, what);
    return;
  }
  check(got != nullptr && values(got) == *want, what);
  dense_detail::release_matrix(got);
}

enum class ending { returns, exits, either };

// Runs a product that may end the process; an exit must carry status 1.
template <class F>
matriz* guarded_product(F&& product, ending expected, const char* what) {
  matriz* got = nullptr;
  auto call = [&] { got = product(); };
  const exit_record e = run_guarded(call);
  check(!e.exited || e.status == 1, what);
  if (expected != ending::either) {
    check(e.exited == (expected == ending::exits), what);
  }
  return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) {
    return 0;
  }
  const int32_t lin = 1 + data[0] % 9, inner = 1 + data[1] % 9, col = 1 + data[2] % 9;
  // A signed selector from one byte, on purpose: negative ones must be refused.
  // NOLINTNEXTLINE(bugprone-signed-char-misuse)
  const auto tipo = static_cast<int32_t>(static_cast<int8_t>(data[3]));
  const int32_t n = data[4] % 11 - 2;
  const bool mismatch = (data[5] & 1) != 0;
  owned a(lin, inner), b(inner + (mismatch ? 1 : 0), col);
  size_t at = 6;
  for (matriz* m : {&a.m, &b.m}) {
    for (int32_t i = 0; i < m->lin; ++i) {
      for (int32_t j = 0; j < m->col; ++j) {
        uint32_t v = 0;
        for (int s = 0; s < 4; ++s, ++at) {
          if (at < size) {
            v |= static_cast<uint32_t>(data[at]) << (8 * s);
          }
        }
        m->mat[i][j] = static_cast<int32_t>(v);
      }
    }
  }
  const std::vector<int32_t> a_before = values(&a.m), b_before = values(&b.m);
  const std::vector<int32_t> product =
      mismatch ? std::vector<int32_t>{} : reference_product(a.m, b.m);
  const std::vector<int32_t>* want = mismatch ? nullptr : &product;
  const std::vector<int32_t> zeros(static_cast<size_t>(lin * col), 0);

  expect_product(dense_arith::mmultiplicar(&a.m, &b.m, tipo), want, "mmultiplicar");

  std::vector<int32_t> twice;
  twice.reserve(a_before.size());
  for (int32_t v : a_before) {
    twice.push_back(static_cast<int32_t>(2u * static_cast<uint32_t>(v)));
  }
  expect_product(dense_arith::msomar(&a.m, &a.m, tipo), &twice, "msomar");

  expect_product(workers_cyclic::multiplicarTh(&a.m, &b.m, n),
                 mismatch ? nullptr : (n <= 0 ? &zeros : want), "workers_cyclic::multiplicarTh");
  const bool cyclic_bands_ok = !mismatch && n >= 1 && n <= inner;
  expect_product(workers_cyclic::multiplicarThblocos(&a.m, &b.m, n),
                 cyclic_bands_ok ? want : nullptr, "workers_cyclic::multiplicarThblocos");

  const ending on_mismatch = mismatch ? ending::exits : ending::returns;
  expect_product(guarded_product([&] { return workers_ranges::multiplicarTh(&a.m, &b.m, n); },
                                 on_mismatch, "workers_ranges::multiplicarTh exit"),
                 want, "workers_ranges::multiplicarTh");
  // A mismatch with a single column of a may be refused either way first.
  expect_product(guarded_product([&] { return workers_ranges::multiplicarThblocos(&a.m, &b.m, n); },
                                 mismatch && inner < 2 ? ending::either : on_mismatch,
                                 "workers_ranges::multiplicarThblocos exit"),
                 inner >= 2 ? want : nullptr, "workers_ranges::multiplicarThblocos");

  owned c(lin, col);
  const int32_t omp = team_rows::multiplicarOMP(&a.m, &b.m, &c.m, n);
  check(omp == (mismatch ? -1 : 0), "multiplicarOMP result");
  check(values(&c.m) == (mismatch ? zeros : product), "multiplicarOMP product");

  check(values(&a.m) == a_before && values(&b.m) == b_before, "a product changed its factors");
  return 0;
}
