// Band descriptors, result parts and the block product of dense_arith.
#include <cstdlib>
#include <dense/dense_arith.hpp>
#include <vector>

#include "support/capture.hpp"
#include "support/matrices.hpp"

namespace {

using dense_arith::bloco;
using dense_arith::submatriz;
using test_support::capture_stdout;
using test_support::owned_matrix;

constexpr const char* kNoMemory = "** Erro: Memoria Insuficiente **\n";
constexpr const char* kMissing = "ERRO: Matriz inexistente.\n";

struct bounds {
  int32_t lin_inicio, lin_fim, col_inicio, col_fim;
  bool operator==(const bounds&) const = default;
};

std::vector<bounds> bounds_of(submatriz** parts, int32_t n) {
  std::vector<bounds> out;
  for (int32_t t = 0; t < n; ++t) {
    const bloco& b = *parts[t]->bloco;
    out.push_back({b.lin_inicio, b.lin_fim, b.col_inicio, b.col_fim});
  }
  return out;
}

// Partitions and checks the printed text; returns the array (maybe null).
submatriz** partition(owned_matrix& m, int32_t orientacao, int32_t divisor,
                      const std::string& expected_output = "") {
  submatriz** parts = nullptr;
  const std::string out = capture_stdout([&] {
    parts = dense_arith::particionar_matriz(m.get()->mat, m.get()->lin, m.get()->col, orientacao,
                                            divisor);
  });
  EXPECT_EQ(out, expected_output);
  return parts;
}

TEST(ParticionarMatriz, RowBandsPutTheRemainderInTheLastBandAndShareOneRecord) {
  owned_matrix m(10, 4);
  submatriz** parts = partition(m, 0, 3);
  ASSERT_NE(parts, nullptr);
  EXPECT_EQ(bounds_of(parts, 3), (std::vector<bounds>{{0, 3, 0, 4}, {3, 6, 0, 4}, {6, 10, 0, 4}}));
  EXPECT_EQ(parts[0]->matriz, parts[1]->matriz);
  EXPECT_EQ(parts[1]->matriz, parts[2]->matriz);
  EXPECT_EQ(parts[0]->matriz->mat, m.get()->mat);
  EXPECT_EQ(parts[0]->matriz->lin, 10);
  EXPECT_EQ(parts[0]->matriz->col, 4);
  // A write through a descriptor lands in the caller's own matrix.
  parts[2]->matriz->mat[7][1] = 42;
  EXPECT_EQ(m.at(7, 1), 42);
  dense_arith::detail::release_partition(parts, 3);
}

TEST(ParticionarMatriz, ColumnBandsSpanEveryRow) {
  owned_matrix m(10, 4);
  submatriz** parts = partition(m, 1, 3);
  ASSERT_NE(parts, nullptr);
  EXPECT_EQ(bounds_of(parts, 3),
            (std::vector<bounds>{{0, 10, 0, 1}, {0, 10, 1, 2}, {0, 10, 2, 4}}));
  dense_arith::detail::release_partition(parts, 3);
}

TEST(ParticionarMatriz, DivisorOfOneOrOfTheFullCount) {
  owned_matrix m(5, 3);
  submatriz** one = partition(m, 0, 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(bounds_of(one, 1), (std::vector<bounds>{{0, 5, 0, 3}}));
  dense_arith::detail::release_partition(one, 1);

  submatriz** rows = partition(m, 0, 5);
  ASSERT_NE(rows, nullptr);
  for (int32_t t = 0; t < 5; ++t) {
    EXPECT_EQ(bounds_of(rows, 5)[t], (bounds{t, t + 1, 0, 3}));
  }
  dense_arith::detail::release_partition(rows, 5);

  submatriz** cols = partition(m, 1, 3);
  ASSERT_NE(cols, nullptr);
  for (int32_t t = 0; t < 3; ++t) {
    EXPECT_EQ(bounds_of(cols, 3)[t], (bounds{0, 5, t, t + 1}));
  }
  dense_arith::detail::release_partition(cols, 3);
}

TEST(ParticionarMatriz, OtherOrientationsCutColumnsAndMayLeaveEmptyBands) {
  owned_matrix m(3, 4);
  submatriz** parts = partition(m, 2, 6);
  ASSERT_NE(parts, nullptr);
  const auto got = bounds_of(parts, 6);
  for (int32_t t = 0; t < 5; ++t) {
    EXPECT_EQ(got[t], (bounds{0, 3, 0, 0})) << "band " << t;
  }
  EXPECT_EQ(got[5], (bounds{0, 3, 0, 4}));
  dense_arith::detail::release_partition(parts, 6);

  submatriz** neg = partition(m, -1, 2);
  ASSERT_NE(neg, nullptr);
  EXPECT_EQ(bounds_of(neg, 2), (std::vector<bounds>{{0, 3, 0, 2}, {0, 3, 2, 4}}));
  dense_arith::detail::release_partition(neg, 2);
}

TEST(ParticionarMatriz, Refusals) {
  owned_matrix m(10, 4);
  EXPECT_EQ(
      partition(m, 0, 11, "** Erro: Divisor (11) maior que o n\xc3\xbamero de linhas (10) **\n"),
      nullptr);
  EXPECT_EQ(
      partition(m, 1, 11, "** Erro: Divisor (11) maior que o n\xc3\xbamero de colunas (4) **\n"),
      nullptr);
  // A divisor below 1 describes nothing: refused like a failed allocation.
  EXPECT_EQ(partition(m, 0, 0, kNoMemory), nullptr);
  EXPECT_EQ(partition(m, 1, -3, kNoMemory), nullptr);

  submatriz** parts = reinterpret_cast<submatriz**>(1);
  EXPECT_EQ(capture_stdout([&] { parts = dense_arith::particionar_matriz(nullptr, 10, 4, 0, 2); }),
            kNoMemory);
  EXPECT_EQ(parts, nullptr);
  // The null table is checked before the divisor.
  EXPECT_EQ(capture_stdout([&] { parts = dense_arith::particionar_matriz(nullptr, 1, 1, 0, 5); }),
            kNoMemory);
  EXPECT_EQ(parts, nullptr);
}

TEST(Csubmatrizv2, GivesDistinctZeroedPartsCoveringTheirWholeMatrix) {
  submatriz** parts = nullptr;
  EXPECT_EQ(capture_stdout([&] { parts = dense_arith::csubmatrizv2(3, 4, 2); }), "");
  ASSERT_NE(parts, nullptr);
  EXPECT_NE(parts[0]->matriz, parts[1]->matriz);
  EXPECT_NE(parts[0]->matriz->mat, parts[1]->matriz->mat);
  for (int32_t t = 0; t < 2; ++t) {
    EXPECT_EQ(parts[t]->matriz->lin, 3);
    EXPECT_EQ(parts[t]->matriz->col, 4);
    EXPECT_EQ(test_support::values_of(parts[t]->matriz), std::vector<int32_t>(12, 0));
    EXPECT_EQ(bounds_of(parts, 2)[t], (bounds{0, 3, 0, 4}));
  }
  dense_arith::detail::release_parts(parts, 2);
}

TEST(Csubmatrizv2, DivisorZeroGivesAnEmptyArray) {
  submatriz** parts = nullptr;
  EXPECT_EQ(capture_stdout([&] { parts = dense_arith::csubmatrizv2(3, 4, 0); }), "");
  EXPECT_NE(parts, nullptr);
  dense_arith::detail::release_parts(parts, 0);
}

TEST(Csubmatrizv2, PartsWithBadCountsStayWithoutStorage) {
  submatriz** parts = nullptr;
  EXPECT_EQ(capture_stdout([&] { parts = dense_arith::csubmatrizv2(0, 3, 2); }),
            "ERRO: n\xc3\xbamero de linhas indefinido.\n"
            "ERRO: n\xc3\xbamero de linhas indefinido.\n");
  ASSERT_NE(parts, nullptr);
  EXPECT_EQ(parts[0]->matriz->mat, nullptr);
  EXPECT_EQ(parts[1]->matriz->mat, nullptr);
  dense_arith::detail::release_parts(parts, 2);
}

TEST(Csubmatrizv2DeathTest, NegativeDivisorEndsTheProcess) {
  EXPECT_EXIT_STDOUT(dense_arith::csubmatrizv2(3, 4, -1), 1, "ERROR: Out of memory\n");
}

// A descriptor over a whole test matrix.
struct whole {
  explicit whole(owned_matrix& m) : b{0, m.get()->lin, 0, m.get()->col}, d{m.get(), &b} {}
  bloco b;
  submatriz d;
};

TEST(MultiplicarSubmatriz, BandsOfBothFactorsAddUpToTheProduct) {
  owned_matrix a(4, 6), b(6, 5);
  test_support::fill_random(a, 1);
  test_support::fill_random(b, 2);
  submatriz** ap = dense_arith::particionar_matriz(a.get()->mat, 4, 6, 1, 3);
  submatriz** bp = dense_arith::particionar_matriz(b.get()->mat, 6, 5, 0, 3);
  submatriz** cp = dense_arith::csubmatrizv2(4, 5, 3);
  ASSERT_TRUE(ap && bp && cp);
  std::vector<int64_t> total(20, 0);
  for (int32_t t = 0; t < 3; ++t) {
    EXPECT_EQ(dense_arith::multiplicar_submatriz(ap[t], bp[t], cp[t]), 0);
    const auto part = test_support::values_of(cp[t]->matriz);
    for (size_t e = 0; e < part.size(); ++e) {
      total[e] += part[e];
    }
  }
  const auto want = test_support::reference_product(a.get(), b.get());
  for (size_t e = 0; e < want.size(); ++e) {
    EXPECT_EQ(total[e], want[e]) << "element " << e;
  }
  dense_arith::detail::release_parts(cp, 3);
  dense_arith::detail::release_partition(bp, 3);
  dense_arith::detail::release_partition(ap, 3);
}

TEST(MultiplicarSubmatriz, AddsAtAbsoluteIndicesAndAccumulates) {
  owned_matrix a(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  owned_matrix b(3, 3, {1, 0, 2, 0, 1, 0, 3, 0, 1});
  owned_matrix r(3, 3);
  // Rows 1..2 of a, inner range 1..2, columns 2..2 of b.
  bloco ab{1, 3, 1, 3}, bb{0, 0, 2, 3}, rb{0, 0, 0, 0};
  submatriz ad{a.get(), &ab}, bd{b.get(), &bb}, rd{r.get(), &rb};
  ASSERT_EQ(dense_arith::multiplicar_submatriz(&ad, &bd, &rd), 0);
  // r[1][2] = 5*0 + 6*1, r[2][2] = 8*0 + 9*1; nothing else written.
  EXPECT_EQ(r.values(), (std::vector<int32_t>{0, 0, 0, 0, 0, 6, 0, 0, 9}));
  ASSERT_EQ(dense_arith::multiplicar_submatriz(&ad, &bd, &rd), 0);
  EXPECT_EQ(r.values(), (std::vector<int32_t>{0, 0, 0, 0, 0, 12, 0, 0, 18}));
}

TEST(MultiplicarSubmatriz, WrapsAt32Bits) {
  owned_matrix a(1, 2, {INT32_MAX, 2}), b(2, 1, {2, 1});
  owned_matrix r(1, 1, {1});
  whole ad(a), bd(b), rd(r);
  ASSERT_EQ(dense_arith::multiplicar_submatriz(&ad.d, &bd.d, &rd.d), 0);
  // 1 + 2*INT32_MAX + 2 wraps to 1.
  EXPECT_EQ(r.at(0, 0), 1);
}

TEST(MultiplicarSubmatriz, EmptyRangesChangeNothing) {
  owned_matrix a(2, 2, {1, 2, 3, 4}), b(2, 2, {5, 6, 7, 8});
  owned_matrix r(2, 2, {9, 9, 9, 9});
  bloco empty_rows{1, 1, 0, 2}, empty_inner{0, 2, 2, 2}, full{0, 2, 0, 2}, empty_cols{0, 2, 1, 0};
  submatriz rd{r.get(), &full};
  std::string out = capture_stdout([&] {
    submatriz a1{a.get(), &empty_rows}, b1{b.get(), &full};
    EXPECT_EQ(dense_arith::multiplicar_submatriz(&a1, &b1, &rd), 0);
    submatriz a2{a.get(), &empty_inner};
    EXPECT_EQ(dense_arith::multiplicar_submatriz(&a2, &b1, &rd), 0);
    submatriz a3{a.get(), &full}, b3{b.get(), &empty_cols};
    EXPECT_EQ(dense_arith::multiplicar_submatriz(&a3, &b3, &rd), 0);
  });
  EXPECT_EQ(out, "");
  EXPECT_EQ(r.values(), (std::vector<int32_t>{9, 9, 9, 9}));
}

TEST(MultiplicarSubmatriz, RefusesNullAndMissingOperandsWritingNothing) {
  owned_matrix a(2, 2, {1, 2, 3, 4});
  owned_matrix r(2, 2);
  whole ad(a), rd(r);
  int32_t rc = 0;
  for (int which = 0; which < 3; ++which) {
    const submatriz* args[3] = {&ad.d, &ad.d, &rd.d};
    args[which] = nullptr;
    EXPECT_EQ(
        capture_stdout([&] { rc = dense_arith::multiplicar_submatriz(args[0], args[1], args[2]); }),
        kNoMemory);
    EXPECT_EQ(rc, -1);
  }
  submatriz no_bloco{a.get(), nullptr};
  EXPECT_EQ(
      capture_stdout([&] { rc = dense_arith::multiplicar_submatriz(&no_bloco, &ad.d, &rd.d); }),
      kNoMemory);
  EXPECT_EQ(rc, -1);

  // A matrix without storage: the issue's own message, for each position.
  dense_core::matriz hollow{nullptr, 2, 2};
  bloco hb{0, 2, 0, 2};
  submatriz hd{&hollow, &hb};
  submatriz no_matrix{nullptr, &hb};
  for (int which = 0; which < 3; ++which) {
    const submatriz* args[3] = {&ad.d, &ad.d, &rd.d};
    args[which] = which == 1 ? &no_matrix : &hd;
    EXPECT_EQ(
        capture_stdout([&] { rc = dense_arith::multiplicar_submatriz(args[0], args[1], args[2]); }),
        kMissing);
    EXPECT_EQ(rc, -1);
  }
  EXPECT_EQ(r.values(), (std::vector<int32_t>{0, 0, 0, 0}));
}

TEST(MultiplicarSubmatriz, RefusesBoundsOutsideAnyOfTheMatrices) {
  owned_matrix a(2, 3), b(3, 2), r(2, 2, {5, 5, 5, 5});
  test_support::fill_random(a, 3);
  test_support::fill_random(b, 4);
  const bloco ok_a{0, 2, 0, 3}, ok_b{0, 3, 0, 2};
  const std::vector<std::pair<bloco, bloco>> bad = {
      {{0, 3, 0, 3}, ok_b},   // rows past a (and r)
      {{-1, 2, 0, 3}, ok_b},  // negative first row
      {{0, 2, 0, 4}, ok_b},   // inner range past a's columns
      {{0, 2, -1, 3}, ok_b},  // negative inner start
      {ok_a, {0, 3, 0, 3}},   // columns past b
      {ok_a, {0, 3, -2, 1}},  // negative first column
  };
  for (const auto& [ab, bb] : bad) {
    bloco abc = ab, bbc = bb, rb{0, 2, 0, 2};
    submatriz ad{a.get(), &abc}, bd{b.get(), &bbc}, rd{r.get(), &rb};
    int32_t rc = 0;
    EXPECT_EQ(capture_stdout([&] { rc = dense_arith::multiplicar_submatriz(&ad, &bd, &rd); }),
              "ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.\n");
    EXPECT_EQ(rc, -1);
  }
  // A result smaller than the block is refused too.
  owned_matrix small(1, 1);
  bloco abc = ok_a, bbc = ok_b, sb{0, 1, 0, 1};
  submatriz ad{a.get(), &abc}, bd{b.get(), &bbc}, sd{small.get(), &sb};
  int32_t rc = 0;
  capture_stdout([&] { rc = dense_arith::multiplicar_submatriz(&ad, &bd, &sd); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(r.values(), (std::vector<int32_t>{5, 5, 5, 5}));
  EXPECT_EQ(small.values(), (std::vector<int32_t>{0}));
}

}  // namespace
