// Streams and line tables for the textio tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dense/textio.hpp>
#include <memory>
#include <string>
#include <vector>

namespace textio_test {

// The two lines with which the readers end the process.
inline constexpr char kLineCount[] = "ERRO: Numero de linha da MatrizA esta diferete da MatrizB!\n";
inline constexpr char kSizeLineOverflow[] = "ERRO: Estouro de precis\xEF\xBF\xBDo!\n";

struct file_closer {
  void operator()(FILE* f) const {
    if (f != nullptr) {
      std::fclose(f);
    }
  }
};
using stream_ptr = std::unique_ptr<FILE, file_closer>;

// A seekable file holding exactly `bytes`, positioned at byte 0.
inline stream_ptr stream_of(const std::string& bytes) {
  FILE* f = std::tmpfile();
  if (f == nullptr) {
    std::abort();
  }
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return stream_ptr(f);
}

// Every byte that fileout_matriz writes for `m`.
inline std::string written_by(const dense_core::matriz* m) {
  char* data = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&data, &size);
  textio::fileout_matriz(m, f);
  std::fclose(f);
  std::string bytes(data, size);
  std::free(data);
  return bytes;
}

// What extrai_parametros_matriz hands out; the table is freed with it.
struct file_params {
  int32_t lin = -7;
  int32_t col = -7;
  int32_t nlinhas = -7;
  int32_t* tabela = nullptr;
  file_params() = default;
  file_params(const file_params&) = delete;
  file_params& operator=(const file_params&) = delete;
  ~file_params() { std::free(tabela); }
  std::vector<int32_t> first(int32_t n) const { return {tabela, tabela + n}; }
};

inline void extract(FILE* f, file_params& p) {
  textio::extrai_parametros_matriz(f, &p.lin, &p.col, &p.tabela, &p.nlinhas);
}

// The line table of `bytes`, worked out line by line from the text.
inline std::vector<int32_t> table_of(const std::string& bytes) {
  std::vector<int32_t> table;
  size_t start = 0;
  for (size_t nl; (nl = bytes.find('\n', start)) != std::string::npos; start = nl + 1) {
    table.push_back(static_cast<int32_t>(nl - start) + (table.empty() ? 0 : 1));
  }
  return table;
}

// A line returned by get_line_file, freed here.
inline std::string take_line(char* line) {
  if (line == nullptr) {
    return "<null>";
  }
  std::string s(line);
  std::free(line);
  return s;
}

}  // namespace textio_test
