// Threaded products with rows dealt out in turn and one band per thread.
#include <climits>
#include <dense/workers_cyclic.hpp>

#include "product_cases.hpp"

namespace {

using parallel_cases::expect_right_product;
using parallel_cases::kMismatch;
using parallel_cases::shapes;
using parallel_cases::thread_counts;
using test_support::capture_stdout;
using test_support::owned_matrix;
using test_support::result_ptr;

TEST(CyclicMultiplicarTh, MatchesTheReferenceOnEveryShapeAndThreadCount) {
  uint32_t seed = 10;
  for (const auto& s : shapes()) {
    for (int32_t n : thread_counts(s)) {
      expect_right_product(workers_cyclic::multiplicarTh, s, n, seed++);
    }
  }
}

TEST(CyclicMultiplicarTh, WrapsAt32Bits) {
  expect_right_product(workers_cyclic::multiplicarTh, {5, 7, 6}, 3, 99, INT32_MIN, INT32_MAX);
}

TEST(CyclicMultiplicarTh, ZeroOrNegativeThreadsGiveTheZeroedResult) {
  owned_matrix a(3, 2, {1, 2, 3, 4, 5, 6}), b(2, 4);
  test_support::fill_random(b, 5);
  for (int32_t n : {0, -1, INT32_MIN}) {
    result_ptr c(workers_cyclic::multiplicarTh(a.get(), b.get(), n));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->lin, 3);
    EXPECT_EQ(c->col, 4);
    EXPECT_EQ(test_support::values_of(c.get()), std::vector<int32_t>(12, 0)) << "n = " << n;
  }
}

TEST(CyclicMultiplicarTh, RefusesMismatchedOrMissingFactors) {
  owned_matrix a(3, 4), b(3, 2);
  dense_core::matriz* c = reinterpret_cast<dense_core::matriz*>(1);
  EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarTh(a.get(), b.get(), 2); }),
            kMismatch);
  EXPECT_EQ(c, nullptr);

  dense_core::matriz hollow{nullptr, 4, 3};
  EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarTh(a.get(), &hollow, 2); }),
            "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarTh(nullptr, b.get(), 2); }),
            "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(c, nullptr);
}

TEST(CyclicMultiplicarTh, AResultWithoutRowsIsNullNotACrash) {
  // Factors with storage but a row count of 0: malocar refuses the result.
  owned_matrix b(2, 2);
  int32_t* row = b.get()->mat[0];
  dense_core::matriz a{&row, 0, 2};
  dense_core::matriz* c = reinterpret_cast<dense_core::matriz*>(1);
  EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarTh(&a, b.get(), 2); }),
            "ERRO: n\xc3\xbamero de linhas indefinido.\n");
  EXPECT_EQ(c, nullptr);
}

// Thread 1 of 4 on 10 rows owns rows 1, 5 and 9: it adds their products onto
// what they hold and leaves every other row alone.
TEST(CyclicMultNormalJob, WritesExactlyTheRowsDealtToIt) {
  owned_matrix a(10, 3), b(3, 4), c(10, 4);
  test_support::fill_random(a, 21);
  test_support::fill_random(b, 22);
  for (int32_t i = 0; i < 10; ++i) {
    for (int32_t j = 0; j < 4; ++j) {
      c.at(i, j) = 7;
    }
  }
  const auto want = test_support::reference_product(a.get(), b.get());
  workers_cyclic::normal_job_arg job{a.get()->mat, b.get()->mat, c.get()->mat, 1, 10, 4, 4, 3};
  EXPECT_EQ(workers_cyclic::mult_normal_job(&job), nullptr);
  for (int32_t i = 0; i < 10; ++i) {
    const bool mine = i % 4 == 1;
    for (int32_t j = 0; j < 4; ++j) {
      EXPECT_EQ(c.at(i, j), mine ? 7 + want[static_cast<size_t>(i * 4 + j)] : 7)
          << "row " << i << " column " << j;
    }
  }
}

TEST(CyclicMultNormalJob, AThreadPastTheRowsOrWithABadStepDoesNothing) {
  owned_matrix a(2, 2, {1, 2, 3, 4}), b(2, 2, {1, 0, 0, 1}), c(2, 2);
  workers_cyclic::normal_job_arg past{a.get()->mat, b.get()->mat, c.get()->mat, 2, 2, 3, 2, 2};
  workers_cyclic::normal_job_arg no_step{a.get()->mat, b.get()->mat, c.get()->mat, 0, 2, 0, 2, 2};
  workers_cyclic::normal_job_arg negative{a.get()->mat, b.get()->mat, c.get()->mat, -1, 2, 1, 2, 2};
  workers_cyclic::mult_normal_job(&past);
  workers_cyclic::mult_normal_job(&no_step);
  workers_cyclic::mult_normal_job(&negative);
  EXPECT_EQ(c.values(), (std::vector<int32_t>{0, 0, 0, 0}));
}

TEST(CyclicMultiplicarThblocos, MatchesTheReferenceForEveryValidThreadCount) {
  uint32_t seed = 500;
  for (const auto& s : shapes()) {
    for (int32_t n : {1, 2, 3, 4, 8, s.inner}) {
      if (n > s.inner) {
        continue;
      }
      expect_right_product(workers_cyclic::multiplicarThblocos, s, n, seed++);
    }
  }
}

TEST(CyclicMultiplicarThblocos, WrapsAt32Bits) {
  expect_right_product(workers_cyclic::multiplicarThblocos, {6, 9, 5}, 4, 77, INT32_MIN, INT32_MAX);
}

TEST(CyclicMultiplicarThblocos, ThreadCountsOutsideTheInnerDimensionAreRefused) {
  owned_matrix a(3, 4), b(4, 2);
  dense_core::matriz* c = reinterpret_cast<dense_core::matriz*>(1);
  EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarThblocos(a.get(), b.get(), 5); }),
            "** Erro: Divisor (5) maior que o n\xc3\xbamero de colunas (4) **\n");
  EXPECT_EQ(c, nullptr);
  for (int32_t n : {0, -2, INT32_MIN}) {
    EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarThblocos(a.get(), b.get(), n); }),
              "** Erro: Memoria Insuficiente **\n");
    EXPECT_EQ(c, nullptr);
  }
}

TEST(CyclicMultiplicarThblocos, RefusesMismatchedOrMissingFactorsBeforeAnyThread) {
  owned_matrix a(3, 4), b(3, 2);
  dense_core::matriz* c = reinterpret_cast<dense_core::matriz*>(1);
  EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarThblocos(a.get(), b.get(), 2); }),
            kMismatch);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarThblocos(a.get(), nullptr, 2); }),
            "ERRO: Matriz inexistente.\n");
  EXPECT_EQ(c, nullptr);
}

TEST(CyclicMultiplicarThblocos, AResultWithoutColumnsIsNullNotACrash) {
  owned_matrix a(2, 2);
  int32_t* rows[2] = {a.get()->mat[0], a.get()->mat[1]};
  dense_core::matriz b{rows, 2, 0};
  dense_core::matriz* c = reinterpret_cast<dense_core::matriz*>(1);
  EXPECT_EQ(capture_stdout([&] { c = workers_cyclic::multiplicarThblocos(a.get(), &b, 2); }),
            "ERRO: n\xc3\xbamero de colunas indefinido.\n");
  EXPECT_EQ(c, nullptr);
}

TEST(CyclicMultBlockThreadJob, AddsItsBandProductIntoItsPart) {
  owned_matrix a(3, 4), b(4, 2);
  test_support::fill_random(a, 31);
  test_support::fill_random(b, 32);
  dense_arith::bloco ab{0, 3, 0, 4}, bb{0, 4, 0, 2};
  owned_matrix part(3, 2);
  dense_arith::bloco pb{0, 3, 0, 2};
  dense_arith::submatriz ad{a.get(), &ab}, bd{b.get(), &bb}, pd{part.get(), &pb};
  workers_cyclic::block_job_arg job{&ad, &bd, &pd};
  workers_cyclic::mult_block_thread_job(&job);
  EXPECT_EQ(part.values(), test_support::reference_product(a.get(), b.get()));
}

}  // namespace
