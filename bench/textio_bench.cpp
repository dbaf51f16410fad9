// Writing and reading back a 1000 x 1000 matrix file of full-range values,
// beside whole-file std::to_chars / std::from_chars loops on the same data:
// the kit's writer and reader should run at the standard library's speed.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <dense/dense_core.hpp>
#include <dense/textio.hpp>
#include <random>
#include <vector>

namespace {

constexpr int32_t kSide = 1000;

// One random matrix over the whole int32 range and its file, made once for
// every benchmark.
struct fixture {
  dense_core::matriz m{nullptr, kSide, kSide};
  FILE* file = nullptr;
  long bytes = 0;

  fixture() {
    if (dense_core::malocar(&m) != 1) {
      std::abort();
    }
    std::mt19937 gen(12345);
    std::uniform_int_distribution<int32_t> value(INT32_MIN, INT32_MAX);
    for (int32_t i = 0; i < kSide; ++i) {
      for (int32_t j = 0; j < kSide; ++j) {
        m.mat[i][j] = value(gen);
      }
    }
    file = std::tmpfile();
    textio::fileout_matriz(&m, file);
    std::fflush(file);
    bytes = std::ftell(file);
  }
};

fixture& data() {
  static fixture f;
  return f;
}

void report(benchmark::State& state, long bytes) {
  state.SetBytesProcessed(state.iterations() * bytes);
}

// A scratch file of the same size, rewritten in every iteration.
void BM_FileoutMatriz(benchmark::State& state) {
  fixture& d = data();
  FILE* out = std::tmpfile();
  for (auto _ : state) {
    std::rewind(out);
    textio::fileout_matriz(&d.m, out);
    std::fflush(out);
  }
  std::fclose(out);
  report(state, d.bytes);
}

// The same bytes from std::to_chars into a block handed to fwrite.
void BM_ToCharsLoop(benchmark::State& state) {
  fixture& d = data();
  FILE* out = std::tmpfile();
  std::vector<char> block(size_t{1} << 16);
  char* const end = block.data() + block.size();
  for (auto _ : state) {
    std::rewind(out);
    char* p = block.data();
    auto put = [&](int32_t v, char after) {
      if (end - p < 16) {
        std::fwrite(block.data(), 1, static_cast<size_t>(p - block.data()), out);
        p = block.data();
      }
      p = std::to_chars(p, end, v).ptr;
      *p++ = after;
    };
    std::fputs("#Linha#Coluna#\n", out);
    put(d.m.lin, '#');
    put(d.m.col, '#');
    *p++ = '\n';
    for (int32_t i = 0; i < d.m.lin; ++i) {
      for (int32_t j = 0; j < d.m.col; ++j) {
        put(d.m.mat[i][j], ',');
      }
      *p++ = '\n';
    }
    std::fwrite(block.data(), 1, static_cast<size_t>(p - block.data()), out);
    std::fflush(out);
  }
  std::fclose(out);
  report(state, d.bytes);
}

// Counts and line table, then the rows into a matrix allocated once.
void BM_ExtraiFileinMatriz(benchmark::State& state) {
  fixture& d = data();
  dense_core::matriz back{nullptr, kSide, kSide};
  if (dense_core::malocar(&back) != 1) {
    std::abort();
  }
  for (auto _ : state) {
    int32_t lin = 0;
    int32_t col = 0;
    int32_t nlinhas = 0;
    int32_t* tabela = nullptr;
    textio::extrai_parametros_matriz(d.file, &lin, &col, &tabela, &nlinhas);
    textio::filein_matriz(back.mat, lin, col, d.file, tabela, nlinhas);
    std::free(tabela);
    benchmark::DoNotOptimize(back.mat[kSide - 1][kSide - 1]);
  }
  for (int32_t i = 0; i < kSide; ++i) {
    for (int32_t j = 0; j < kSide; ++j) {
      if (back.mat[i][j] != d.m.mat[i][j]) {
        state.SkipWithError("read back a different matrix");
      }
    }
  }
  dense_core::mliberar(&back);
  report(state, d.bytes);
}

// The whole file in one fread, then std::from_chars number by number into a
// matrix allocated once: the header skipped, sizes and separators checked.
void BM_FromCharsLoop(benchmark::State& state) {
  fixture& d = data();
  dense_core::matriz back{nullptr, kSide, kSide};
  if (dense_core::malocar(&back) != 1) {
    std::abort();
  }
  std::vector<char> text(static_cast<size_t>(d.bytes));
  for (auto _ : state) {
    std::rewind(d.file);
    if (std::fread(text.data(), 1, text.size(), d.file) != text.size()) {
      std::abort();
    }
    const char* p = text.data() + 15;
    const char* const end = text.data() + text.size();
    auto take = [&](int32_t& v, char after) {
      const auto r = std::from_chars(p, end, v);
      if (r.ec != std::errc() || r.ptr == end || *r.ptr != after) {
        std::abort();
      }
      p = r.ptr + 1;
    };
    int32_t lin = 0;
    int32_t col = 0;
    take(lin, '#');
    take(col, '#');
    if (lin != kSide || col != kSide || *p++ != '\n') {
      std::abort();
    }
    for (int32_t i = 0; i < lin; ++i) {
      int32_t* row = back.mat[i];
      for (int32_t j = 0; j < col; ++j) {
        take(row[j], ',');
      }
      if (*p++ != '\n') {
        std::abort();
      }
    }
    benchmark::DoNotOptimize(back.mat[kSide - 1][kSide - 1]);
  }
  dense_core::mliberar(&back);
  report(state, d.bytes);
}

BENCHMARK(BM_FileoutMatriz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ToCharsLoop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExtraiFileinMatriz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FromCharsLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
