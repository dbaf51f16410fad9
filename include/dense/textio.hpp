// textio: the number splitter, the wall clock, and the matrix text file.
//
// File format, one line each, every line ending in a newline:
//   #Linha#Coluna#        the 15-byte header
//   L#C#                  the size line
//   v,v,...,v,            one line per row, every value closed by a comma
// Readers reach any line with one absolute seek computed from a table of line
// lengths: entry 0 is the length of line 0, entry k >= 1 the length of line k
// plus 1 (a buffer that holds the line and its terminating zero).
// Streams belong to the caller: nothing here opens or closes one, and input
// streams must be seekable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <dense/dense_core.hpp>

namespace textio {

// Converts every word of `texto` that `delim` closes (an empty word gives 0;
// text after the last delimiter is dropped) with strtol in base 10, storing
// the low 32 bits in saida[0], saida[1], ... A word whose number has more
// than 10 digits (leading zeros included; white space and the sign do not
// count, so no int32 value's text does) is converted whole after the warning
// line "ERROR: N\xEF\xBF\xBDmero mto grande.". More than `maximo` words prints "Error: Ultrapassou
// o n\xEF\xBF\xBDmero m\xEF\xBF\xBDximo de palavras (%d)\n" and ends the process with status 1.
// `saida` must hold `maximo` entries. Returns 0.
int32_t splitv2(const char* texto, char delim, int32_t maximo, int32_t* saida);

// Wall-clock time in seconds (gettimeofday), microseconds in the fraction.
double wtime();

// Writes `m` in the file format at the stream's current position; no seek,
// no flush. A null record, or one with rows but no row table, prints "ERRO:
// Matriz inexistente." and writes nothing. Returns 0.
int32_t fileout_matriz(const dense_core::matriz* m, FILE* f);

// Fills `tabela` (room for every newline-terminated line; may be null to
// count only) with the line lengths of the whole file and returns the number
// of such lines. A last line without its newline is not counted.
int32_t contabiliza_file(FILE* f, int32_t* tabela);

// Reads the size line at byte 15 (a size line without a newline within 20
// characters prints "ERRO: Estouro de precis\xEF\xBF\xBDo!" and ends the process
// with status 1), makes the line table, then reads the size line again
// through the table and hands out its rows and columns (0 for a field the
// line lacks), the table (the caller frees it) and the line count. The table
// has one entry per line of the file and then the terminating entry -1;
// it is never sized by the row count, so a row count the file cannot hold
// is handed out as it stands and refused by filein_matriz. Returns 0.
int32_t extrai_parametros_matriz(FILE* f, int32_t* lin, int32_t* col, int32_t** tabela,
                                 int32_t* nlinhas);

// The row count of the size line read at byte 15 (the same operation under
// two names); ends the process like extrai_parametros_matriz on a bad one.
int32_t conta_line_file(FILE* f);
int32_t nr_line_file(FILE* f);

// Line `nlinha` (counted from 1; line 1 read from byte 0) without its
// newline, in a new heap block that the caller frees. Null when the number
// is below 1 or past the table's lines (the table ends at its first negative
// entry, like the -1 that extrai_parametros_matriz puts after the last
// line), when the table entry gives the line no room, or when the file ends
// or the line runs past its entry before its newline. The third argument is
// ignored.
char* get_line_file(FILE* f, int32_t nlinha, int ignorado, const int32_t* tabela);

// Reads the `lin` row lines into the row table `mat` (`lin` x `col`); columns
// that a line does not hold get 0. A line count other than lin + 2 (nothing
// is read then), a row line that is not where or not exactly as long as the
// table says, or a row line with more than `col` numbers prints "ERRO:
// Numero de linha da MatrizA esta diferete da MatrizB!" and ends the process
// with status 1. Cost: one seek and one buffered pass over the row lines;
// the stream then stands after the last one. Returns 0.
// Here and in extrai_parametros_matriz an exhausted heap prints "ERROR: Out
// of memory" and ends the process with status 1.
int32_t filein_matriz(int32_t** mat, int32_t lin, int32_t col, FILE* f, const int32_t* tabela,
                      int32_t nlinhas);

}  // namespace textio
