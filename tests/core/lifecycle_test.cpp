// Lifecycle of the matrix record: storage, fills, printing, comparison, release.
#include <malloc.h>
#include <sys/resource.h>

#include <cstdlib>
#include <ctime>
#include <dense/dense_core.hpp>
#include <fstream>

#include "support/capture.hpp"
#include "support/matrices.hpp"

using dense_core::matriz;
using test_support::capture_stdout;
using test_support::owned_matrix;

namespace {

const char kMissing[] = "ERRO: Matriz inexistente.\n";

// A record with storage from malocar, released by mliberar when the test ends.
struct lib_matrix {
  matriz m{nullptr, 0, 0};
  lib_matrix(int32_t lin, int32_t col) : m{nullptr, lin, col} {
    EXPECT_EQ(dense_core::malocar(&m), 1);
  }
  ~lib_matrix() {
    if (m.mat) {
      dense_core::mliberar(&m);
    }
  }
};

}  // namespace

TEST(Malocar, RefusesNonPositiveCountsRowsFirstAndKeepsTable) {
  int32_t* sentinel[1] = {nullptr};
  for (auto [lin, col, text] : {std::tuple{0, 0, "ERRO: n\xc3\xbamero de linhas indefinido.\n"},
                                std::tuple{-2, 5, "ERRO: n\xc3\xbamero de linhas indefinido.\n"},
                                std::tuple{3, -1, "ERRO: n\xc3\xbamero de colunas indefinido.\n"},
                                std::tuple{3, 0, "ERRO: n\xc3\xbamero de colunas indefinido.\n"}}) {
    matriz m{sentinel, lin, col};
    int rc = -1;
    EXPECT_EQ(capture_stdout([&] { rc = dense_core::malocar(&m); }), text);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(m.mat, sentinel);
    EXPECT_EQ(m.lin, lin);
    EXPECT_EQ(m.col, col);
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DENSE_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define DENSE_TEST_SANITIZED 1
#endif
#endif

// Caps this process's address space at what it uses now plus 512 MiB, so a
// matrix of 16 Ki rows of 16 MiB can never be allocated. Only for children.
void cap_address_space() {
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const rlim_t cap = static_cast<rlim_t>(pages) * 4096 + (rlim_t{512} << 20);
  const rlimit lim{cap, cap};
  setrlimit(RLIMIT_AS, &lim);
}

// A matrix far beyond the cap must be refused silently, leave `mat` alone,
// and give back the rows it did get (measured as the mmap-backed bytes malloc
// holds before and after). A copying partition keeps such a band without
// storage and says so.
TEST(Malocar, ExhaustedHeapFreesWhatItGotAndLeavesMat) {
#ifdef DENSE_TEST_SANITIZED
  GTEST_SKIP() << "sanitizers reserve address space of their own";
#else
  auto starve = [] {
    cap_address_space();
    int32_t* sentinel[1] = {nullptr};
    matriz m{sentinel, 1 << 14, 1 << 22};
    const size_t before = mallinfo2().hblkhd;
    const int rc = dense_core::malocar(&m);
    const size_t after = mallinfo2().hblkhd;
    std::exit((rc == 0 ? 0 : 1) | (m.mat == sentinel ? 0 : 2) | (before == after ? 0 : 4));
  };
  EXPECT_EXIT_STDOUT(starve(), 0, "");
  auto starve_band = [] {
    cap_address_space();
    dense_core::banda** p = dense_core::csubmatrizv2(1 << 14, 1 << 22, 1);
    std::exit(p != nullptr && p[0]->matriz->mat == nullptr ? 0 : 1);
  };
  EXPECT_EXIT_STDOUT(starve_band(), 0, "ERROR: Out of memory\nERRO: Matriz inexistente.\n");
#endif
}

TEST(LifecycleFill, ConstantZeroAndMissingMatrix) {
  lib_matrix a(3, 4);
  EXPECT_EQ(dense_core::mgerar(&a.m, -7), 1);
  const owned_matrix sevens(3, 4, {-7, -7, -7, -7, -7, -7, -7, -7, -7, -7, -7, -7});
  EXPECT_EQ(test_support::values_of(&a.m), sevens.values());
  EXPECT_EQ(dense_core::mzerar(&a.m), 1);
  EXPECT_EQ(test_support::values_of(&a.m), std::vector<int32_t>(12, 0));

  matriz none{nullptr, 2, 3};
  int rc = 1;
  EXPECT_EQ(capture_stdout([&] { rc = dense_core::mgerar(&none, 1); }), kMissing);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(capture_stdout([&] { rc = dense_core::mzerar(&none); }), kMissing);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(capture_stdout([&] { rc = dense_core::mgerar_aleatorio(&none, 5); }), kMissing);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(capture_stdout([&] { rc = dense_core::mliberar(&none); }), kMissing);
  EXPECT_EQ(rc, 0);
  // A null record pointer is refused the same way, never dereferenced.
  for (auto op :
       {+[] { return dense_core::malocar(nullptr); },
        +[] { return dense_core::mgerar(nullptr, 1); }, +[] { return dense_core::mzerar(nullptr); },
        +[] { return dense_core::mgerar_aleatorio(nullptr, 3); },
        +[] { return dense_core::mimprimir(nullptr); },
        +[] { return dense_core::mliberar(nullptr); }}) {
    EXPECT_EQ(capture_stdout([&] { rc = op(); }), kMissing);
    EXPECT_EQ(rc, 0);
  }
}

TEST(RandomFill, ValuesLieBetweenOneAndTheLimit) {
  lib_matrix a(20, 30);
  EXPECT_EQ(dense_core::mgerar_aleatorio(&a.m, 1), 1);
  EXPECT_EQ(test_support::values_of(&a.m), std::vector<int32_t>(600, 1));
  EXPECT_EQ(dense_core::mgerar_aleatorio(&a.m, 10), 1);
  for (int32_t v : test_support::values_of(&a.m)) {
    EXPECT_GE(v, 1);
    EXPECT_LE(v, 10);
  }
}

TEST(RandomFill, TwoFillsInTheSameSecondAreEqual) {
  lib_matrix a(7, 9), b(7, 9);
  bool same_second = false;
  for (int attempt = 0; attempt < 5 && !same_second; ++attempt) {
    const std::time_t t0 = std::time(nullptr);
    dense_core::mgerar_aleatorio(&a.m, 1000);
    dense_core::mgerar_aleatorio(&b.m, 1000);
    same_second = std::time(nullptr) == t0;
  }
  ASSERT_TRUE(same_second);
  EXPECT_EQ(test_support::values_of(&a.m), test_support::values_of(&b.m));
}

TEST(RandomFill, LimitBelowOneIsRefusedLeavingMatrixAndGenerator) {
  lib_matrix a(2, 2);
  dense_core::mgerar(&a.m, 42);
  for (int32_t limit : {0, -5}) {
    std::srand(1234);
    const int expected_next = std::rand();
    std::srand(1234);
    int rc = 1;
    EXPECT_EQ(capture_stdout([&] { rc = dense_core::mgerar_aleatorio(&a.m, limit); }),
              "ERRO: limite deve ser positivo.\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(std::rand(), expected_next);
    EXPECT_EQ(test_support::values_of(&a.m), std::vector<int32_t>(4, 42));
  }
}

TEST(LifecyclePrint, RowsWithTabsAndMissingMatrixAfterHeader) {
  const owned_matrix a(2, 2, {1, 2, 3, -4});
  int rc = 0;
  EXPECT_EQ(capture_stdout([&] { rc = dense_core::mimprimir(a.get()); }),
            "Imprimindo matriz 2 x 2 ...\n\n1\t2\t\n3\t-4\t\n\nFim impress\xc3\xa3o matriz.\n\n");
  EXPECT_EQ(rc, 1);
  const matriz none{nullptr, 2, 3};
  EXPECT_EQ(capture_stdout([&] { rc = dense_core::mimprimir(&none); }),
            std::string("Imprimindo matriz 2 x 3 ...\n") + kMissing);
  EXPECT_EQ(rc, 0);
}

TEST(LifecycleRelease, ClearsTableSoSecondReleaseAndLaterUseAreRefused) {
  matriz m{nullptr, 3, 2};
  ASSERT_EQ(dense_core::malocar(&m), 1);
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dense_core::mliberar(&m), 1); }), "");
  EXPECT_EQ(m.mat, nullptr);
  EXPECT_EQ(m.lin, 3);
  EXPECT_EQ(m.col, 2);
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dense_core::mliberar(&m), 0); }), kMissing);
  EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(dense_core::mgerar(&m, 1), 0); }), kMissing);
}

TEST(LifecycleCompare, EveryVerdictByteForByte) {
  const owned_matrix a(2, 2, {1, 2, 3, 4}), b(2, 2, {1, 2, -9, 4}), c(2, 3), d(3, 2), e(2, 3);
  const matriz none{nullptr, 2, 2};
  const std::string rows_differ =
      "ERRO: Matrizes com n\xc3\xbamero de linhas diferentes.\n\t- matriz A 2 linhas.\n"
      "\t- matriz B 3 linhas.\n\n";
  const std::string cols_differ =
      "ERRO: Matrizes com n\xc3\xbamero de colunas diferentes.\n\t- matriz A 2 colunas.\n"
      "\t- matriz B 3 colunas.\n\n";
  const struct {
    const matriz* x;
    const matriz* y;
    int rc;
    std::string text;
  } cases[] = {
      {a.get(), a.get(), 1, "RESULTADO: matrizes id\xc3\xaanticas.\n\n"},
      {a.get(), b.get(), 0,
       "ERRO: Matriz diferente.\n\t- elemento: linha 2, coluna 1\n\t- valor na matriz A 3\n"
       "\t- valor na matriz B -9\n\n"},
      {c.get(), d.get(), 0, rows_differ},
      {a.get(), c.get(), 0, cols_differ},
      {c.get(), e.get(), 1, "RESULTADO: matrizes id\xc3\xaanticas.\n\n"},
      {a.get(), nullptr, 0, "ERRO: Matriz B inexistente\n\n"},
      {a.get(), &none, 0, "ERRO: Matriz B inexistente\n\n"},
      {nullptr, nullptr, 0, "ERRO: Matriz A inexistente\n\n"},
      {&none, a.get(), 0, "ERRO: Matriz A inexistente\n\n"},
  };
  for (const auto& k : cases) {
    int rc = -1;
    EXPECT_EQ(capture_stdout([&] { rc = dense_core::mcomparar(k.x, k.y); }), k.text);
    EXPECT_EQ(rc, k.rc) << k.text;
  }
}

TEST(SubmatrixStubs, EverySubmatrixOperationEndsTheProcess) {
  const char text[] = "ERRO: M\xc3\xa9todo n\xc3\xa3o implementado.\n";
  matriz m{nullptr, 1, 1};
  EXPECT_EXIT_STDOUT(dense_core::gerar_submatriz(&m), 1, text);
  EXPECT_EXIT_STDOUT(dense_core::imprimir_submatriz(&m), 1, text);
  EXPECT_EXIT_STDOUT(dense_core::liberar_submatriz(&m), 1, text);
  EXPECT_EXIT_STDOUT(dense_core::constroi_submatriz(&m), 1, text);
  EXPECT_EXIT_STDOUT(dense_core::constroi_submatrizv2(&m), 1, text);
  EXPECT_EXIT_STDOUT(dense_core::imprimir_bloco(&m), 1, text);
}
