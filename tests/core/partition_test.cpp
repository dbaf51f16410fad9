// The copying partition: band sizes, copied elements, refusals, independence from the source.
#include <cstdlib>
#include <dense/dense_core.hpp>
#include <string>
#include <vector>

#include "support/capture.hpp"
#include "support/matrices.hpp"

using dense_core::banda;
using test_support::capture_stdout;
using test_support::owned_matrix;
using test_support::values_of;

namespace {

// Owns a partition result and frees it the way a caller must.
struct partition {
  banda** bands = nullptr;
  int32_t n = 0;
  ~partition() {
    if (!bands) {
      return;
    }
    for (int32_t k = 0; k < n; ++k) {
      test_support::matrix_deleter{}(bands[k]->matriz);
      std::free(bands[k]);
    }
    std::free(bands);
  }
  const dense_core::matriz& operator[](int32_t k) const { return *bands[k]->matriz; }
};

const char kNoRows[] =
    "ERRO: n\xc3\xbamero de linhas indefinido.\nERROR: Out of memory\nERRO: Matriz inexistente.\n";
const char kNoColumns[] =
    "ERRO: n\xc3\xbamero de colunas indefinido.\nERROR: Out of memory\nERRO: Matriz inexistente.\n";

std::string repeat(const char* text, int times) {
  std::string out;
  for (int k = 0; k < times; ++k) {
    out += text;
  }
  return out;
}

}  // namespace

TEST(CopyingPartition, TwoBandsOfRowsAndOfColumns) {
  owned_matrix a(5, 4), c(3, 5);
  test_support::fill_random(a, 1);
  test_support::fill_random(c, 2);
  partition rows{dense_core::particionar_matriz(a.get()->mat, 5, 4, 0, 2), 2};
  ASSERT_NE(rows.bands, nullptr);
  EXPECT_EQ(rows[0].lin, 2);
  EXPECT_EQ(rows[1].lin, 3);
  for (int32_t i = 0; i < 5; ++i) {
    for (int32_t j = 0; j < 4; ++j) {
      EXPECT_EQ(rows[i < 2 ? 0 : 1].mat[i < 2 ? i : i - 2][j], a.at(i, j));
    }
  }

  partition cols{dense_core::particionar_matriz(c.get()->mat, 3, 5, 1, 2), 2};
  ASSERT_NE(cols.bands, nullptr);
  EXPECT_EQ(cols[0].col, 2);
  EXPECT_EQ(cols[1].col, 3);
  for (int32_t i = 0; i < 3; ++i) {
    for (int32_t j = 0; j < 5; ++j) {
      EXPECT_EQ(cols[j < 2 ? 0 : 1].mat[i][j < 2 ? j : j - 2], c.at(i, j));
    }
  }
}

// Whatever the band count or orientation, gluing the bands back together in
// order gives the source; every non-zero orientation cuts columns.
TEST(CopyingPartition, EveryBandCountReassemblesTheSource) {
  owned_matrix a(7, 10);
  test_support::fill_random(a, 3);
  for (int32_t orient : {0, 1, 2, -1}) {
    const int32_t d = orient == 0 ? 7 : 10;
    for (int32_t n = 1; n <= 12; ++n) {
      partition p{nullptr, n};
      capture_stdout(
          [&] { p.bands = dense_core::particionar_matriz(a.get()->mat, 7, 10, orient, n); });
      ASSERT_NE(p.bands, nullptr);
      int32_t offset = 0;
      for (int32_t k = 0; k < n; ++k) {
        const auto& b = p[k];
        const int32_t size = orient == 0 ? b.lin : b.col;
        EXPECT_EQ(size, k < n - 1 ? d / n : d / n + d % n) << "orient " << orient << " n " << n;
        EXPECT_EQ(orient == 0 ? b.col : b.lin, orient == 0 ? 10 : 7);
        if (size == 0) {
          EXPECT_EQ(b.mat, nullptr);
          continue;
        }
        for (int32_t x = 0; x < size; ++x) {
          for (int32_t y = 0; y < (orient == 0 ? 10 : 7); ++y) {
            ASSERT_EQ(orient == 0 ? b.mat[x][y] : b.mat[y][x],
                      orient == 0 ? a.at(offset + x, y) : a.at(y, offset + x))
                << "orient " << orient << " n " << n << " band " << k;
          }
        }
        offset += size;
      }
      EXPECT_EQ(offset, d);
    }
  }
}

TEST(CopyingPartition, BandsStayWhenTheSourceChanges) {
  owned_matrix a(4, 4);
  test_support::fill_random(a, 4);
  const auto before = a.values();
  partition whole{dense_core::particionar_matriz(a.get()->mat, 4, 4, 0, 1), 1};
  partition halves{dense_core::particionar_matriz(a.get()->mat, 4, 4, 1, 2), 2};
  for (int32_t i = 0; i < 4; ++i) {
    for (int32_t j = 0; j < 4; ++j) {
      a.at(i, j) = -1;
    }
  }
  EXPECT_EQ(values_of(&whole[0]), before);
  EXPECT_EQ(halves[1].mat[3][1], before[15]);
  EXPECT_EQ(halves[0].mat[0][0], before[0]);
}

TEST(CopyingPartition, EmptyBandIsReportedAndTheRestIsFilled) {
  owned_matrix a(1, 3, {5, 6, 7});
  partition p{nullptr, 2};
  EXPECT_EQ(
      capture_stdout([&] { p.bands = dense_core::particionar_matriz(a.get()->mat, 1, 3, 0, 2); }),
      kNoRows);
  ASSERT_NE(p.bands, nullptr);
  EXPECT_EQ(p[0].mat, nullptr);
  EXPECT_EQ(p[0].lin, 0);
  EXPECT_EQ(values_of(&p[1]), (std::vector<int32_t>{5, 6, 7}));
}

TEST(CopyingPartition, BadBandCountOrMissingSourceCreatesNothing) {
  owned_matrix a(2, 2);
  for (int32_t n : {0, -3}) {
    EXPECT_EQ(capture_stdout([&] {
                EXPECT_EQ(dense_core::particionar_matriz(a.get()->mat, 2, 2, 0, n), nullptr);
              }),
              "");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dense_core::csubmatrizv2(2, 2, n), nullptr); }), "");
  }
  EXPECT_EQ(capture_stdout(
                [&] { EXPECT_EQ(dense_core::particionar_matriz(nullptr, 2, 2, 1, 2), nullptr); }),
            "ERRO: Matriz inexistente.\n");
}

TEST(ZeroedParts, ShapesAndRefusedSize) {
  partition p{nullptr, 4};
  EXPECT_EQ(capture_stdout([&] { p.bands = dense_core::csubmatrizv2(2, 3, 4); }), "");
  ASSERT_NE(p.bands, nullptr);
  for (int32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(p[k].lin, 2);
    EXPECT_EQ(p[k].col, 3);
    EXPECT_EQ(values_of(&p[k]), std::vector<int32_t>(6, 0));
  }
  partition q{nullptr, 1};
  EXPECT_EQ(capture_stdout([&] { q.bands = dense_core::csubmatrizv2(0, 3, 1); }), kNoRows);
  ASSERT_NE(q.bands, nullptr);
  EXPECT_EQ(q[0].mat, nullptr);
}

// More column bands than columns: every band without columns is reported
// with its three lines, in band order, and stays in the array without
// storage; the last band still receives every element.
TEST(CopyingPartition, EachBandWithoutColumnsIsReportedAndKeptWithoutStorage) {
  const owned_matrix a(2, 3, {1, 2, 3, 4, 5, 6});
  partition cut{nullptr, 4};
  EXPECT_EQ(
      capture_stdout([&] { cut.bands = dense_core::particionar_matriz(a.get()->mat, 2, 3, 1, 4); }),
      repeat(kNoColumns, 3));
  ASSERT_NE(cut.bands, nullptr);
  for (int32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(cut[k].mat, nullptr) << "band " << k;
    EXPECT_EQ(cut[k].lin, 2);
    EXPECT_EQ(cut[k].col, 0);
  }
  EXPECT_EQ(cut[3].col, 3);
  EXPECT_EQ(values_of(&cut[3]), a.values());
}

// The same report for row bands, once per empty band.
TEST(CopyingPartition, EachBandWithoutRowsIsReportedInOrder) {
  const owned_matrix a(2, 2, {7, 8, 9, 10});
  partition cut{nullptr, 3};
  EXPECT_EQ(
      capture_stdout([&] { cut.bands = dense_core::particionar_matriz(a.get()->mat, 2, 2, 0, 3); }),
      repeat(kNoRows, 2));
  ASSERT_NE(cut.bands, nullptr);
  EXPECT_EQ(cut[0].mat, nullptr);
  EXPECT_EQ(cut[1].mat, nullptr);
  EXPECT_EQ(values_of(&cut[2]), a.values());
}

// Zeroed parts of no columns: one report per part, every part without storage.
TEST(ZeroedParts, PartsWithoutColumnsAreEachReported) {
  partition parts{nullptr, 2};
  EXPECT_EQ(capture_stdout([&] { parts.bands = dense_core::csubmatrizv2(2, 0, 2); }),
            repeat(kNoColumns, 2));
  ASSERT_NE(parts.bands, nullptr);
  EXPECT_EQ(parts[0].mat, nullptr);
  EXPECT_EQ(parts[1].mat, nullptr);
  EXPECT_EQ(parts[1].col, 0);
}
