// The factors compare_products multiplies: filled at random, from a seed, or read from files.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>

namespace compare_products {

// Fills `m` with values from 1 to `limit` drawn from a generator started at
// `*state`, and advances `*state`: the same seed gives the same numbers on
// every machine and every run (unlike mgerar_aleatorio, which seeds from the
// clock).
void fill_seeded(dense_core::matriz* m, int32_t limit, uint64_t* state);

// mgerar_aleatorio reseeds from the clock on every call, so two square
// factors filled within one second come out equal, and a method that swapped
// its operands would still match the reference. Taking B's rows in reverse
// order (the row table is just pointers) makes the factors differ.
void reverse_rows(dense_core::matriz* m);

}  // namespace compare_products
