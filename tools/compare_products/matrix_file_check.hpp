// A strict check of the matrix text file, run before a file is handed to the textio readers.
//
// The readers trust the format: a short size line, a wrong line count or a
// long number ends the process or is read as zeros. compare_products
// promises to refuse a bad file with a message and status 2 instead, so it
// reads every file once with this check, which allocates nothing whatever
// the file holds, and only then lets the readers at it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace compare_products {

struct matrix_file_shape {
  int32_t rows = 0;
  int32_t cols = 0;
  std::string error;  // empty when the stream holds a well-formed matrix file
};

// Reads `f` from its current position to its end and accepts exactly:
//   "#Linha#Coluna#\n", then "R#C#\n" with R and C from 1 to 2147483647 and
//   the line at most 19 characters, then R lines of C numbers each followed
//   by ',', each line ending in '\n', and nothing after the last one.
// Numbers are an optional '-' and 1 to 10 decimal digits (leading zeros
// count: the readers warn on stdout about a longer one), and lie in the
// int32 range. The first fault is described in `error` with its
// line number, counted from 1.
matrix_file_shape check_matrix_file(FILE* f);

}  // namespace compare_products
