// Every text the library prints, each defined once.
//
// The library speaks Portuguese and English as it always has, and programs
// and tests compare its output byte for byte, so these texts are a contract:
// change one only together with the documentation. Texts printed with puts()
// get their newline from puts(); texts ending in "Fmt" are printf() formats
// and carry their own. Some texts hold the bytes EF BF BD (U+FFFD) where an
// accented letter once stood: that is what the library has always printed.
#pragma once

namespace dense_msg {

// ---- shared by several modules ----
inline constexpr char kMissingMatrix[] = "ERRO: Matriz inexistente.";
inline constexpr char kOutOfMemory[] = "ERROR: Out of memory";
inline constexpr char kNoMemory[] = "** Erro: Memoria Insuficiente **";
inline constexpr char kInvalidForProduct[] =
    "ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.";

// ---- core: storage, fills, printing, comparison ----
inline constexpr char kRowsUndefined[] = "ERRO: n\xc3\xbamero de linhas indefinido.";
inline constexpr char kColsUndefined[] = "ERRO: n\xc3\xbamero de colunas indefinido.";
inline constexpr char kLimitNotPositive[] = "ERRO: limite deve ser positivo.";
inline constexpr char kNotImplemented[] = "ERRO: M\xc3\xa9todo n\xc3\xa3o implementado.";
inline constexpr char kPrintHeaderFmt[] = "Imprimindo matriz %i x %i ...\n";
inline constexpr char kPrintEnd[] = "\n\nFim impress\xc3\xa3o matriz.\n";
inline constexpr char kMissingA[] = "ERRO: Matriz A inexistente\n";
inline constexpr char kMissingB[] = "ERRO: Matriz B inexistente\n";
inline constexpr char kRowCountsDiffer[] = "ERRO: Matrizes com n\xc3\xbamero de linhas diferentes.";
inline constexpr char kRowsOfAFmt[] = "\t- matriz A %i linhas.\n";
inline constexpr char kRowsOfBFmt[] = "\t- matriz B %i linhas.\n\n";
inline constexpr char kColCountsDiffer[] =
    "ERRO: Matrizes com n\xc3\xbamero de colunas diferentes.";
inline constexpr char kColsOfAFmt[] = "\t- matriz A %i colunas.\n";
inline constexpr char kColsOfBFmt[] = "\t- matriz B %i colunas.\n\n";
inline constexpr char kMatricesDiffer[] = "ERRO: Matriz diferente.";
inline constexpr char kDifferAtFmt[] = "\t- elemento: linha %i, coluna %i\n";
inline constexpr char kValueOfAFmt[] = "\t- valor na matriz A %i\n";
inline constexpr char kValueOfBFmt[] = "\t- valor na matriz B %i\n\n";
inline constexpr char kIdentical[] = "RESULTADO: matrizes id\xc3\xaanticas.\n";

// ---- arith: sums, products, band descriptors ----
inline constexpr char kSumShapes[] =
    "** Erro: Matrizes devem ter mesma configura\xc3\xa7\xc3\xa3o para que se possa somar. **";
inline constexpr char kProductShapes[] =
    "** Erro: Matrizes devem ter mesma configura\xc3\xa7\xc3\xa3o para que se possa "
    "multiplicar. **";
inline constexpr char kDivisorOverRowsFmt[] =
    "** Erro: Divisor (%d) maior que o n\xc3\xbamero de linhas (%d) **\n";
inline constexpr char kDivisorOverColsFmt[] =
    "** Erro: Divisor (%d) maior que o n\xc3\xbamero de colunas (%d) **\n";

// ---- textio: matrix files and the number splitter ----
inline constexpr char kSizeOverflow[] = "ERRO: Estouro de precis\xEF\xBF\xBDo!";
inline constexpr char kLineCountDiffers[] =
    "ERRO: Numero de linha da MatrizA esta diferete da MatrizB!";
inline constexpr char kTooManyWordsFmt[] =
    "Error: Ultrapassou o n\xEF\xBF\xBDmero m\xEF\xBF\xBDximo de palavras (%d)\n";
inline constexpr char kNumberTooLong[] = "ERROR: N\xEF\xBF\xBDmero mto grande.";

}  // namespace dense_msg
