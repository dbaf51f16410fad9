// dense_arith: element-wise sum and sequential product with a selectable loop
// nest; band descriptors of a matrix and the block product over them.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>

namespace dense_arith {

using dense_core::matriz;

// Bounds of a block in whole-matrix indices: rows [lin_inicio, lin_fim),
// columns [col_inicio, col_fim).
struct bloco {
  int32_t lin_inicio;
  int32_t lin_fim;
  int32_t col_inicio;
  int32_t col_fim;
};

// A block of `matriz`: element (i, j) of the block is element (i, j) of the
// matrix, addressed with absolute indices.
struct submatriz {
  ::dense_core::matriz* matriz;
  ::dense_arith::bloco* bloco;
};

// A + B in a new matrix that the caller owns (mliberar, then free the
// record). `tipo` 0 visits row by row; every other value column by column.
// Refusals print one line and return null: a null operand ("** Erro:
// Memoria Insuficiente **"), an operand without storage ("ERRO: Matriz
// inexistente."), different shapes. A result that cannot be allocated prints
// "ERROR: Out of memory" and ends the process with status 1.
// Arithmetic wraps at 32 bits.
matriz* msomar(const matriz* a, const matriz* b, int32_t tipo);

// A x B in a new matrix, computed with exactly the loop nest `tipo` selects:
// 0 i-j-k, 1 i-k-j, 2 and 3 k-i-j, 4 j-i-k, every other value j-k-i. The
// orders differ only in their memory traffic, never in the result. Refusals
// as for msomar, with the multiplication's dimension message when A's
// columns differ from B's rows.
matriz* mmultiplicar(const matriz* a, const matriz* b, int32_t tipo);

// Describes the matrix whose row table is `mat` as `divisor` bands without
// copying: orientation 0 cuts rows, every other value columns; the last band
// takes the remainder. All descriptors of one call share one matriz record
// that wraps the caller's row table: writes through them change the caller's
// matrix, and they are valid only while its rows exist.
// Refusals print and return null: a null `mat` or a `divisor` below 1
// ("** Erro: Memoria Insuficiente **"), a divisor above the rows (orientation
// 0) or the columns (orientation 1).
// The array, each descriptor, each bloco and the shared record (once) belong
// to the caller; the rows stay the caller's.
submatriz** particionar_matriz(int32_t** mat, int32_t lin, int32_t col, int32_t orientacao,
                               int32_t divisor);

// `divisor` new zeroed `lin` x `col` matrices, each with a descriptor covering
// all of it. A `divisor` of 0 gives an empty array. An array that cannot be
// allocated (a negative divisor included) prints "ERROR: Out of memory" and
// ends the process with status 1. A part whose storage malocar refuses keeps
// a null `mat` (malocar's own message for bad counts; "ERROR: Out of memory"
// for an exhausted heap), and every block product refuses it.
// Everything returned belongs to the caller: mliberar each matrix, then free
// its record, its bloco, its descriptor, and finally the array.
submatriz** csubmatrizv2(int32_t lin, int32_t col, int32_t divisor);

// Adds the product of A's block (rows and inner range from A's bloco) and B's
// block (columns from B's bloco) into R's matrix at the same absolute (i, j),
// loop order i, j, k. R is not cleared first. Returns 0 (also when a range is
// empty: nothing is touched then). Refusals return -1 and write nothing:
// "** Erro: Memoria Insuficiente **" for a null descriptor or bloco; "ERRO:
// Matriz inexistente." for a descriptor without a matrix or storage; "ERRO:
// Matrizes inválidas para multiplicação." for bounds that leave A, B or R
// (A's rows and inner range inside A, the inner range inside B's rows, B's
// columns inside B, the block's rows and columns inside R).
int32_t multiplicar_submatriz(const submatriz* a, const submatriz* b, const submatriz* r);

namespace detail {

// Releases what particionar_matriz returned: each bloco and descriptor, the
// shared record once, the array; never the described rows. Null is ignored.
void release_partition(submatriz** parts, int32_t divisor);

// Releases what csubmatrizv2 returned: each part's storage, record, bloco and
// descriptor, then the array. Null is ignored.
void release_parts(submatriz** parts, int32_t divisor);

}  // namespace detail

}  // namespace dense_arith
