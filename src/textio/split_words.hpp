// The word splitter behind splitv2, shared with the matrix file readers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace textio::detail {

// The low 32 bits of what strtol (base 10) gives for a NUL-terminated copy of
// the `len` characters at `word`, for any length, reading nothing outside them.
int32_t convert_word(const char* word, size_t len);

// Whether the number strtol reads in the `len` characters at `word` has
// more than 10 digits (leading zeros included; white space and the sign do
// not count): such a word gets the warning "ERROR: N\xEF\xBF\xBDmero mto
// grande." before it is converted whole. Every int32 value's text has at
// most 10, so a file the writer made reads back without a warning.
bool too_many_digits(const char* word, size_t len);

// Prints the long-number warning line.
void warn_too_many_digits();

// splitv2 without the exit: converts every word of `texto` that `delim`
// closes, stores the first `capacidade` values in `saida` (the rest are
// converted, and warned about, but dropped) and returns the word count.
// Meeting more than `maximo` words prints the over-limit message and returns
// -1, leaving the caller to release what it holds before it ends the process.
int32_t split_words(const char* texto, char delim, int32_t maximo, int32_t* saida,
                    int32_t capacidade);

}  // namespace textio::detail
