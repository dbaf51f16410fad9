// dense_core: the matrix record, its lifecycle, and the copying partition into bands.
#pragma once

#include <cstdint>

namespace dense_core {

// A dense matrix of 32-bit signed integers. `mat` is a table of `lin` row
// pointers; every row is a heap block of its own holding `col` elements, so
// rows are not contiguous and code always walks a matrix through the table.
// A null `mat` means the matrix does not exist yet (or any more).
//
// The record belongs to whoever declared it; the operations below only
// allocate and free its row table and rows.
struct matriz {
  int32_t** mat;
  int32_t lin;
  int32_t col;
};

// One band of a copying partition: a separately allocated matrix.
struct banda {
  ::dense_core::matriz* matriz;
};

// All operations print their messages on stdout and return 1 for success,
// 0 for a refusal. None of them frees or changes anything when it refuses.
// A null record pointer is refused like a record without storage ("ERRO:
// Matriz inexistente."), never dereferenced.

// Gives `m` a row table of `m->lin` rows of `m->col` elements (contents not
// initialised). Refuses a non-positive `lin` ("ERRO: número de linhas
// indefinido.") or `col` ("ERRO: número de colunas indefinido."). When the
// heap runs out it frees what it got, leaves `mat` as it was and returns 0
// silently: the caller decides how to report it.
int malocar(matriz* m);

// Writes `valor` into every element. "ERRO: Matriz inexistente." when `mat` is null.
int mgerar(matriz* m, int32_t valor);

// Fills with rand() % limite + 1 after seeding the libc generator with
// time(): two fills in the same second give the same values. A limit below
// 1 is refused ("ERRO: limite deve ser positivo.") without touching the
// matrix or the generator. Not for use beside other users of rand().
int mgerar_aleatorio(matriz* m, int32_t limite);

// Writes 0 into every element. "ERRO: Matriz inexistente." when `mat` is null.
int mzerar(matriz* m);

// Prints the header "Imprimindo matriz L x C ..." (even when `mat` is null,
// before refusing), then each row on a line of its own after an empty line
// (each value followed by a tab), then the closing "Fim impressão matriz.".
int mimprimir(const matriz* m);

// Frees the rows and the row table, then sets `mat` to null so that a second
// release, or any later use, is refused instead of touching freed memory.
// The record itself is not freed.
int mliberar(matriz* m);

// Compares shape and elements; reports the first difference (rows and columns
// counted from 1). Accepts null record pointers. Prints
// "RESULTADO: matrizes idênticas." and returns 1 when equal.
int mcomparar(const matriz* a, const matriz* b);

// Sub-matrix operations of this module that do not exist: each prints
// "ERRO: Método não implementado." and ends the process with status 1.
// `imprimir_bloco` hands its argument to `imprimir_submatriz`.
[[noreturn]] void gerar_submatriz(matriz* m);
[[noreturn]] void imprimir_submatriz(matriz* m);
[[noreturn]] void liberar_submatriz(matriz* m);
[[noreturn]] void constroi_submatriz(matriz* m);
[[noreturn]] void constroi_submatrizv2(matriz* m);
[[noreturn]] void imprimir_bloco(matriz* m);

// Cuts the matrix whose row table is `mat` (`lin` x `col`, only read) into
// `divisor` bands, each a separate zeroed matrix into which the elements it
// covers are copied: orientation 0 cuts rows, any other value cuts columns.
// Every band has lin/divisor rows (or col/divisor columns); the last band also
// takes the remainder. A band with no rows or no columns is reported with
// malocar's message, "ERROR: Out of memory" and "ERRO: Matriz inexistente.",
// and stays in the array with a null `mat`; so does a band whose storage the
// heap cannot give ("ERROR: Out of memory", "ERRO: Matriz inexistente.").
// Returns null, creating nothing, for a `divisor` below 1 (silently) and for
// a null `mat` ("ERRO: Matriz inexistente.").
//
// The array, each banda, each band's record and its storage belong to the
// caller: mliberar each band, then free its record, its banda and the array.
banda** particionar_matriz(int32_t** mat, int32_t lin, int32_t col, int32_t orientacao,
                           int32_t divisor);

// `divisor` zeroed `lin` x `col` matrices, held in bands as above (same
// messages for a bad size). Returns null for a `divisor` below 1.
banda** csubmatrizv2(int32_t lin, int32_t col, int32_t divisor);

}  // namespace dense_core
