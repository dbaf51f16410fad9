// Writing and reading back a 1000 x 1000 matrix file, beside plain fprintf/fscanf loops on the same
// data.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include <dense/dense_core.hpp>
#include <dense/textio.hpp>

namespace {

constexpr int32_t kSide = 1000;

// One random matrix and its file, made once for every benchmark. Values
// keep to ten characters so that reading prints no long-number warnings.
struct fixture {
  dense_core::matriz m{nullptr, kSide, kSide};
  FILE* file = nullptr;
  long bytes = 0;

  fixture() {
    if (dense_core::malocar(&m) != 1) std::abort();
    std::mt19937 gen(12345);
    std::uniform_int_distribution<int32_t> value(-999999999, 999999999);
    for (int32_t i = 0; i < kSide; ++i)
      for (int32_t j = 0; j < kSide; ++j) m.mat[i][j] = value(gen);
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
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
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

void BM_PlainFprintf(benchmark::State& state) {
  fixture& d = data();
  FILE* out = std::tmpfile();
  for (auto _ : state) {
    std::rewind(out);
    std::fputs("#Linha#Coluna#\n", out);
    std::fprintf(out, "%d#%d#\n", d.m.lin, d.m.col);
    for (int32_t i = 0; i < d.m.lin; ++i) {
      for (int32_t j = 0; j < d.m.col; ++j) std::fprintf(out, "%d,", d.m.mat[i][j]);
      std::fputc('\n', out);
    }
    std::fflush(out);
  }
  std::fclose(out);
  report(state, d.bytes);
}

// Counts and line table, then the rows into a matrix allocated once.
void BM_ExtraiFileinMatriz(benchmark::State& state) {
  fixture& d = data();
  dense_core::matriz back{nullptr, kSide, kSide};
  if (dense_core::malocar(&back) != 1) std::abort();
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
  for (int32_t i = 0; i < kSide; ++i)
    for (int32_t j = 0; j < kSide; ++j)
      if (back.mat[i][j] != d.m.mat[i][j]) state.SkipWithError("read back a different matrix");
  dense_core::mliberar(&back);
  report(state, d.bytes);
}

void BM_PlainFscanf(benchmark::State& state) {
  fixture& d = data();
  dense_core::matriz back{nullptr, kSide, kSide};
  if (dense_core::malocar(&back) != 1) std::abort();
  for (auto _ : state) {
    std::rewind(d.file);
    int lin = 0;
    int col = 0;
    if (std::fscanf(d.file, "#Linha#Coluna#\n%d#%d#", &lin, &col) != 2) std::abort();
    for (int32_t i = 0; i < lin; ++i)
      for (int32_t j = 0; j < col; ++j)
        if (std::fscanf(d.file, "%d,", &back.mat[i][j]) != 1) std::abort();
    benchmark::DoNotOptimize(back.mat[kSide - 1][kSide - 1]);
  }
  dense_core::mliberar(&back);
  report(state, d.bytes);
}

BENCHMARK(BM_FileoutMatriz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainFprintf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExtraiFileinMatriz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainFscanf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
