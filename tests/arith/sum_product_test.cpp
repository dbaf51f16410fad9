// Sequential sum and product: every visiting order gives the same, wrapped, result; refusals.
#include <sys/resource.h>

#include <climits>
#include <cstdint>
#include <dense/dense_arith.hpp>
#include <fstream>
#include <vector>

#include "support/capture.hpp"
#include "support/matrices.hpp"

using dense_core::matriz;
using test_support::capture_stdout;
using test_support::owned_matrix;
using test_support::result_ptr;
using test_support::values_of;

namespace {

const char kNullOperand[] = "** Erro: Memoria Insuficiente **\n";
const char kSumShape[] =
    "** Erro: Matrizes devem ter mesma configura\xc3\xa7\xc3\xa3o para que se possa somar. **\n";
const char kProductShape[] =
    "** Erro: Matrizes devem ter mesma configura\xc3\xa7\xc3\xa3o para que se possa multiplicar. "
    "**\n";
const int32_t kTipos[] = {0, 1, 2, 3, 4, 5, 6, -1, INT32_MIN, INT32_MAX};

}  // namespace

// Every selector against the reference, on awkward shapes and on values that
// overflow 32 bits in both the products and the sums.
TEST(SeqProduct, EverySelectorMatchesTheReference) {
  const int32_t shapes[][3] = {{1, 1, 1},   {2, 3, 4},    {3, 1, 5},
                               {17, 33, 9}, {16, 15, 31}, {1, 64, 1}};
  uint32_t seed = 10;
  for (const auto& s : shapes) {
    for (const auto& [lo, hi] : {std::pair{-1000, 1000}, std::pair{INT32_MIN, INT32_MAX}}) {
      owned_matrix a(s[0], s[1]), b(s[1], s[2]);
      test_support::fill_random(a, seed++, lo, hi);
      test_support::fill_random(b, seed++, lo, hi);
      const auto a_before = a.values(), b_before = b.values();
      const auto expected = test_support::reference_product(a.get(), b.get());
      for (int32_t tipo : kTipos) {
        result_ptr r(dense_arith::mmultiplicar(a.get(), b.get(), tipo));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->lin, s[0]);
        EXPECT_EQ(r->col, s[2]);
        EXPECT_EQ(values_of(r.get()), expected)
            << s[0] << "x" << s[1] << "x" << s[2] << " tipo " << tipo;
      }
      EXPECT_EQ(a.values(), a_before);
      EXPECT_EQ(b.values(), b_before);
    }
  }
}

TEST(SeqProduct, SmallCasesAndSameOperandTwice) {
  owned_matrix x(1, 1, {-6}), y(1, 1, {7});
  result_ptr r(dense_arith::mmultiplicar(x.get(), y.get(), 3));
  EXPECT_EQ(values_of(r.get()), std::vector<int32_t>{-42});
  owned_matrix sq(2, 2, {1, 2, 3, 4});
  result_ptr sq2(dense_arith::mmultiplicar(sq.get(), sq.get(), 5));
  EXPECT_EQ(values_of(sq2.get()), (std::vector<int32_t>{7, 10, 15, 22}));
  // 65536 * 65536 keeps its low 32 bits: 0; plus 1 * INT32_MAX.
  owned_matrix w(1, 2, {65536, 1}), v(2, 1, {65536, INT32_MAX});
  result_ptr wv(dense_arith::mmultiplicar(w.get(), v.get(), 0));
  EXPECT_EQ(values_of(wv.get()), std::vector<int32_t>{INT32_MAX});
}

// A hand-built 2 x 0 times 0 x 3: nothing to add, the result is all zero.
TEST(SeqProduct, EmptyInnerDimensionGivesZeros) {
  int32_t row[1] = {99};
  int32_t* a_rows[2] = {row, row};
  int32_t* b_rows[1] = {row};
  const matriz a{a_rows, 2, 0}, b{b_rows, 0, 3};
  for (int32_t tipo : kTipos) {
    result_ptr r(dense_arith::mmultiplicar(&a, &b, tipo));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(values_of(r.get()), std::vector<int32_t>(6, 0));
  }
}

TEST(SeqSum, EveryVisitingOrderAgreesAndWraps) {
  owned_matrix a(3, 5), b(3, 5);
  test_support::fill_random(a, 20, INT32_MIN, INT32_MAX);
  test_support::fill_random(b, 21, INT32_MIN, INT32_MAX);
  a.at(2, 4) = INT32_MAX;
  b.at(2, 4) = 1;
  std::vector<int32_t> expected;
  for (int32_t i = 0; i < 3; ++i) {
    for (int32_t j = 0; j < 5; ++j) {
      expected.push_back(static_cast<int32_t>(static_cast<uint32_t>(a.at(i, j)) +
                                              static_cast<uint32_t>(b.at(i, j))));
    }
  }
  EXPECT_EQ(expected.back(), INT32_MIN);
  for (int32_t tipo : kTipos) {
    result_ptr r(dense_arith::msomar(a.get(), b.get(), tipo));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(values_of(r.get()), expected) << "tipo " << tipo;
  }
  const auto before = a.values();
  result_ptr twice(dense_arith::msomar(a.get(), a.get(), 0));
  EXPECT_EQ(a.values(), before);
  for (size_t k = 0; k < before.size(); ++k) {
    EXPECT_EQ(values_of(twice.get())[k],
              static_cast<int32_t>(2u * static_cast<uint32_t>(before[k])));
  }
}

TEST(SumProductRefusals, MessagesAndNullResultsInOrder) {
  owned_matrix m23(2, 3), n23(2, 3), m32(3, 2), m24(2, 4);
  const matriz none{nullptr, 2, 3};
  const matriz none_other_shape{nullptr, 5, 5};
  const struct {
    const matriz* a;
    const matriz* b;
    const char* sum;      // null: the sum succeeds
    const char* product;  // null: the product succeeds
  } cases[] = {
      {nullptr, m23.get(), kNullOperand, kNullOperand},
      {m23.get(), nullptr, kNullOperand, kNullOperand},
      {&none, m32.get(), "ERRO: Matriz inexistente.\n", "ERRO: Matriz inexistente.\n"},
      {m23.get(), &none_other_shape, "ERRO: Matriz inexistente.\n", "ERRO: Matriz inexistente.\n"},
      {m23.get(), m32.get(), kSumShape, nullptr},
      {m23.get(), n23.get(), nullptr, kProductShape},
      {m23.get(), m24.get(), kSumShape, kProductShape},
  };
  for (const auto& c : cases) {
    for (int op = 0; op < 2; ++op) {
      const char* refusal = op == 0 ? c.sum : c.product;
      matriz* r = nullptr;
      const std::string out = capture_stdout([&] {
        r = op == 0 ? dense_arith::msomar(c.a, c.b, 1) : dense_arith::mmultiplicar(c.a, c.b, 1);
      });
      result_ptr owned(r);
      EXPECT_EQ(out, refusal ? refusal : "");
      EXPECT_EQ(r == nullptr, refusal != nullptr) << out;
    }
  }
}

// Operands with a row table but no rows pass the shape test; the result
// cannot be allocated and the process ends.
TEST(SumProductRefusals, UnallocatableResultEndsTheProcess) {
  int32_t* table[1] = {nullptr};
  const matriz a{table, 0, 3}, b{table, 0, 3}, c{table, 3, 0}, d{table, 0, 0};
  const char no_rows[] = "ERRO: n\xc3\xbamero de linhas indefinido.\nERROR: Out of memory\n";
  EXPECT_EXIT_STDOUT(dense_arith::msomar(&a, &b, 0), 1, no_rows);
  EXPECT_EXIT_STDOUT(dense_arith::mmultiplicar(&a, &c, 0), 1, no_rows);
  EXPECT_EXIT_STDOUT(dense_arith::mmultiplicar(&c, &d, 0), 1,
                     "ERRO: n\xc3\xbamero de colunas indefinido.\nERROR: Out of memory\n");
}

// Operands that exist but whose sum would need 256 GiB, in a child whose
// address space is capped: the heap's refusal ends the process.
TEST(SumProductRefusals, ExhaustedHeapEndsTheProcess) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve address space of their own";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
  GTEST_SKIP() << "sanitizers reserve address space of their own";
#endif
#endif
  auto starve = [] {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t cap = static_cast<rlim_t>(pages) * 4096 + (rlim_t{512} << 20);
    const rlimit lim{cap, cap};
    setrlimit(RLIMIT_AS, &lim);
    std::vector<int32_t*> rows(1 << 14, nullptr);  // never read: the result fails first
    const matriz big{rows.data(), 1 << 14, 1 << 22};
    dense_arith::msomar(&big, &big, 0);
  };
  EXPECT_EXIT_STDOUT(starve(), 1, "ERROR: Out of memory\n");
}
