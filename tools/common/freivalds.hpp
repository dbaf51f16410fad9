// Checking a product without recomputing it: Freivalds' test, and the first
// differing element of a result that fails it.
//
// The exact check multiplies the factors again, which costs as much as the
// slowest method measured, and at large sizes far more than the fast ones.
// Freivalds' test costs O(n^2) per round instead: for a 0/1 vector x it
// compares a*(b*x) with c*x. When c != a*b, some row of d = a*b - c is not
// zero, and a random 0/1 vector gives that row a nonzero product with
// probability at least 1/2 in any ring, 32-bit wrapping arithmetic included
// (pick any column j where the row is nonzero: of the two choices of x[j],
// at most one can make the sum zero). Forty independent vectors therefore
// miss a wrong result with probability below 2^-40.
//
// Every sum here wraps at 32 bits (uint32_t), as the kit's products do, so a
// correct product whose elements overflowed passes like any other.
#pragma once

#include <cstdint>
#include <dense/dense_core.hpp>
#include <string>

namespace tool_common {

// The number of independent random 0/1 vectors each check uses.
inline constexpr int kFreivaldsRounds = 40;

// What a check of c against a x b found.
struct product_verdict {
  bool passed = true;
  // How many of the rounds saw a difference: 0 when passed. Each round
  // catches a wrong element with probability 1/2 or more, so for a wrong
  // result this is about half the rounds, and fixed by the seed.
  int rounds_caught = 0;
  // When c has the right shape but failed: its first differing element in
  // row-major order, counted from 1 as the exact check counts them, with the
  // exact value (a x b) and the value found in c.
  int32_t row = 0;
  int32_t col = 0;
  int32_t expected = 0;
  int32_t found = 0;
  // Empty when passed; otherwise the failure in the words of the exact check
  // (mcomparar's report on one line, the exact product as matrix A and c as
  // matrix B), e.g. "ERRO: Matriz diferente.; elemento: linha 2, coluna 3;
  // valor na matriz A 7; valor na matriz B 9".
  std::string report;
  // True when the check could not run because its scratch space (32 bytes
  // per row of b, one byte per column of c) could not be allocated; then
  // passed is false and report says so, but nothing is known about c.
  bool out_of_memory = false;
};

// Checks c against a x b with kFreivaldsRounds vectors drawn from a
// generator seeded with `seed`: the same seed draws the same vectors, so a
// run can be repeated exactly. a is M x K, b is K x N; c should be M x N.
// Costs kFreivaldsRounds * (M*K + K*N + M*N) multiply-adds, in passes of 8
// rounds that read every matrix once each; when c fails, one row of the exact product is
// recomputed (K * N multiplications) to name the first differing element.
// Neither the factors nor c are changed; nothing is printed.
//
// c null, without storage or of another shape fails with the exact check's
// report for that case. Factors that do not multiply (null, no storage, or
// a's columns differ from b's rows) fail with report "the factors do not
// multiply".
product_verdict freivalds_check(const dense_core::matriz* a, const dense_core::matriz* b,
                                const dense_core::matriz* c, uint64_t seed);

// Freivalds' test prepared once for one pair of factors and one seed: the
// vectors and a*(b*X) are computed when the plan is made (the cost of a whole
// check less c*X), so each result checked afterwards costs only c*X,
// kFreivaldsRounds * M*N multiply-adds. compare_products checks every
// repetition of every method against the same factors, so this makes each
// check about a third of a whole one at square sizes. The plan holds 160
// bytes per row of a and 5 per column of b; the factors must outlive it.
class freivalds_plan {
 public:
  freivalds_plan(const dense_core::matriz* a, const dense_core::matriz* b, uint64_t seed);
  ~freivalds_plan();
  freivalds_plan(const freivalds_plan&) = delete;
  freivalds_plan& operator=(const freivalds_plan&) = delete;

  // The verdict freivalds_check(a, b, c, seed) gives, for any number of results.
  product_verdict check(const dense_core::matriz* c) const;

 private:
  const dense_core::matriz* a_;
  const dense_core::matriz* b_;
  int groups_ = 0;
  uint8_t* masks_ = nullptr;
  void* z_ = nullptr;
  bool ready_ = false;
  bool out_of_memory_ = false;
};

}  // namespace tool_common
