// The bad-input catalogue: refusals whose exact output and result the
// modules' own suites do not pin down. Each case names the input, the bytes
// that must reach stdout, and what the call must give back.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dense/dense_core.hpp>
#include "support/capture.hpp"
#include "support/matrices.hpp"
#include <dense/textio.hpp>

using test_support::capture_stdout;
using test_support::owned_matrix;
using test_support::values_of;

namespace {

const char kNoColumns[] =
    "ERRO: n\xc3\xbamero de colunas indefinido.\nERROR: Out of memory\nERRO: Matriz inexistente.\n";
const char kNoRows[] =
    "ERRO: n\xc3\xbamero de linhas indefinido.\nERROR: Out of memory\nERRO: Matriz inexistente.\n";

std::string repeat(const char* text, int times) {
  std::string out;
  for (int k = 0; k < times; ++k) out += text;
  return out;
}

// A copying partition, released the way its caller must release it.
struct bands {
  dense_core::banda** p = nullptr;
  int32_t n = 0;
  bands(const bands&) = delete;
  bands& operator=(const bands&) = delete;
  explicit bands(int32_t count) : n(count) {}
  ~bands() {
    if (p == nullptr) return;
    for (int32_t k = 0; k < n; ++k) {
      if (p[k]->matriz->mat != nullptr) dense_core::mliberar(p[k]->matriz);
      std::free(p[k]->matriz);
      std::free(p[k]);
    }
    std::free(p);
  }
  const dense_core::matriz& operator[](int32_t k) const { return *p[k]->matriz; }
};

}  // namespace

// More column bands than columns: every band without columns is reported
// with its three lines, in band order, and stays in the array without
// storage; the last band still receives every element.
TEST(CatalogueCopyingPartition, EachBandWithoutColumnsIsReportedAndKeptWithoutStorage) {
  const owned_matrix a(2, 3, {1, 2, 3, 4, 5, 6});
  bands cut(4);
  EXPECT_EQ(capture_stdout([&] { cut.p = dense_core::particionar_matriz(a.get()->mat, 2, 3, 1, 4); }),
            repeat(kNoColumns, 3));
  ASSERT_NE(cut.p, nullptr);
  for (int32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(cut[k].mat, nullptr) << "band " << k;
    EXPECT_EQ(cut[k].lin, 2);
    EXPECT_EQ(cut[k].col, 0);
  }
  EXPECT_EQ(cut[3].col, 3);
  EXPECT_EQ(values_of(&cut[3]), a.values());
}

// The same report for row bands, once per empty band.
TEST(CatalogueCopyingPartition, EachBandWithoutRowsIsReportedInOrder) {
  const owned_matrix a(2, 2, {7, 8, 9, 10});
  bands cut(3);
  EXPECT_EQ(capture_stdout([&] { cut.p = dense_core::particionar_matriz(a.get()->mat, 2, 2, 0, 3); }),
            repeat(kNoRows, 2));
  ASSERT_NE(cut.p, nullptr);
  EXPECT_EQ(cut[0].mat, nullptr);
  EXPECT_EQ(cut[1].mat, nullptr);
  EXPECT_EQ(values_of(&cut[2]), a.values());
}

// Zeroed parts of no columns: one report per part, every part without storage.
TEST(CatalogueCopyingPartition, ZeroedPartsWithoutColumnsAreEachReported) {
  bands parts(2);
  EXPECT_EQ(capture_stdout([&] { parts.p = dense_core::csubmatrizv2(2, 0, 2); }),
            repeat(kNoColumns, 2));
  ASSERT_NE(parts.p, nullptr);
  EXPECT_EQ(parts[0].mat, nullptr);
  EXPECT_EQ(parts[1].mat, nullptr);
  EXPECT_EQ(parts[1].col, 0);
}

// A stream that ends before the newline of the requested line: the line is
// refused with a null result and nothing is printed, whichever line it is.
TEST(CatalogueTextFile, LineCutShortByTheEndOfTheStreamIsNullAndSilent) {
  const std::string whole = "#Linha#Coluna#\n2#2#\n1,2,\n3,4,\n";
  FILE* full = std::tmpfile();
  ASSERT_NE(full, nullptr);
  std::fputs(whole.c_str(), full);
  std::vector<int32_t> table(4, 0);
  ASSERT_EQ(textio::contabiliza_file(full, table.data()), 4);
  std::fclose(full);

  for (size_t cut : {whole.size() - 1, whole.size() - 3, size_t{22}, size_t{17}, size_t{3}}) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(whole.data(), 1, cut, f);
    std::fflush(f);
    for (int32_t line = 1; line <= 4; ++line) {
      // Lines whose newline still lies inside the cut are read as usual.
      size_t end = 0;
      for (int32_t k = 0; k < line; ++k) end = whole.find('\n', end) + 1;
      if (end <= cut) continue;
      char* got = reinterpret_cast<char*>(1);
      EXPECT_EQ(capture_stdout([&] { got = textio::get_line_file(f, line, 0, table.data()); }), "")
          << "cut " << cut << " line " << line;
      EXPECT_EQ(got, nullptr) << "cut " << cut << " line " << line;
      if (got != reinterpret_cast<char*>(1)) std::free(got);
    }
    std::fclose(f);
  }
}
