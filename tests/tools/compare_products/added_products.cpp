// Products for compare_products --add, built as a student builds one (a shared object against the
// kit's headers, no library on its link line): each symbol behaves in one way the tool must
// report, right or wrong.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <dense/dense_core.hpp>
#include <dense/team_kernel.hpp>
#include <utility>

using dense_core::matriz;

namespace {

// a x b by the i-k-j loops into a new matrix, wrapping at 32 bits.
matriz* plain_product(const matriz* a, const matriz* b, int32_t extra_rows) {
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  *c = {nullptr, a->lin + extra_rows, b->col};
  dense_core::malocar(c);
  dense_core::mzerar(c);
  for (int32_t i = 0; i < a->lin; ++i) {
    for (int32_t k = 0; k < a->col; ++k) {
      for (int32_t j = 0; j < b->col; ++j) {
        c->mat[i][j] = static_cast<int32_t>(static_cast<uint32_t>(c->mat[i][j]) +
                                            static_cast<uint32_t>(a->mat[i][k]) *
                                                static_cast<uint32_t>(b->mat[k][j]));
      }
    }
  }
  return c;
}

}  // namespace

// Right: the team kernel, a library function the worker itself never calls,
// so it is found only when the worker exports the whole library.
extern "C" matriz* team_kernel_product(const matriz* a, const matriz* b, int32_t threads) {
  return team_kernel::multiplicarKernelOMP(a, b, threads);
}

// Right but for one element: row 2, column 1 (counted from 0) is one more, where there is one.
extern "C" matriz* one_wrong(const matriz* a, const matriz* b, int32_t) {
  matriz* c = plain_product(a, b, 0);
  if (c->lin > 2 && c->col > 1) {
    c->mat[2][1] = static_cast<int32_t>(static_cast<uint32_t>(c->mat[2][1]) + 1u);
  }
  return c;
}

// The classic faults a check at one shape lets through.

// The inner loop unrolled by four with no remainder loop: the columns past
// the last multiple of four are never computed.
extern "C" matriz* unrolled_by_four(const matriz* a, const matriz* b, int32_t) {
  auto* c = static_cast<matriz*>(std::malloc(sizeof(matriz)));
  *c = {nullptr, a->lin, b->col};
  dense_core::malocar(c);
  dense_core::mzerar(c);
  for (int32_t i = 0; i < a->lin; ++i) {
    for (int32_t k = 0; k < a->col; ++k) {
      const auto aik = static_cast<uint32_t>(a->mat[i][k]);
      for (int32_t j = 0; j + 4 <= b->col; j += 4) {
        for (int32_t u = 0; u < 4; ++u) {
          c->mat[i][j + u] = static_cast<int32_t>(static_cast<uint32_t>(c->mat[i][j + u]) +
                                                  aik * static_cast<uint32_t>(b->mat[k][j + u]));
        }
      }
    }
  }
  return c;
}

// rows / threads rows for each thread, the remainder forgotten: the last
// rows stay zero whenever the threads do not divide the rows.
extern "C" matriz* remainder_forgotten(const matriz* a, const matriz* b, int32_t threads) {
  matriz* whole = plain_product(a, b, 0);
  const int32_t covered = a->lin / threads * threads;
  for (int32_t i = covered; i < whole->lin; ++i) {
    for (int32_t j = 0; j < whole->col; ++j) {
      whole->mat[i][j] = 0;
    }
  }
  return whole;
}

// Right, but leaves a scratch value in its input B through the row table
// (const matriz* does not make the rows const).
extern "C" matriz* scribbles_b(const matriz* a, const matriz* b, int32_t) {
  matriz* c = plain_product(a, b, 0);
  b->mat[b->lin - 1][0] = -7;
  return c;
}

// The same, in its input A.
extern "C" matriz* scribbles_a(const matriz* a, const matriz* b, int32_t) {
  matriz* c = plain_product(a, b, 0);
  a->mat[0][a->col - 1] = -7;
  return c;
}

// Writes through a null pointer.
extern "C" matriz* null_write(const matriz*, const matriz*, int32_t) {
  volatile int32_t* nowhere = nullptr;
  *nowhere = 1;
  return nullptr;
}

// Never returns.
extern "C" matriz* never_returns(const matriz*, const matriz*, int32_t) {
  for (;;) {
    pause();
  }
}

// Returns null after the library said why (a missing factor).
extern "C" matriz* no_result(const matriz*, const matriz* b, int32_t threads) {
  return team_kernel::multiplicarKernelOMP(nullptr, b, threads);
}

// Returns a result with one row too many.
extern "C" matriz* wrong_shape(const matriz* a, const matriz* b, int32_t) {
  return plain_product(a, b, 1);
}

// Ends its process.
extern "C" matriz* calls_exit(const matriz*, const matriz*, int32_t) { std::exit(3); }

// Forks a child that lives on, holding the worker's socket, then aborts.
extern "C" matriz* forks_then_aborts(const matriz*, const matriz*, int32_t) {
  if (fork() == 0) {
    for (;;) {
      pause();
    }
  }
  std::abort();
}

// Right, but leaves a child behind at every call.
extern "C" matriz* forks_and_returns(const matriz* a, const matriz* b, int32_t) {
  if (fork() == 0) {
    for (;;) {
      pause();
    }
  }
  return plain_product(a, b, 0);
}

// Right, after closing every descriptor below 1024 (the worker's socket among them).
extern "C" matriz* closes_descriptors(const matriz* a, const matriz* b, int32_t) {
  for (int fd = 0; fd < 1024; ++fd) {
    close(fd);
  }
  return plain_product(a, b, 0);
}

// Right, then shrinks its factors to 1x1 records, rows swapped: a later call
// given these would multiply the wrong problem.
extern "C" matriz* shrinks_factors(const matriz* a, const matriz* b, int32_t) {
  matriz* c = plain_product(a, b, 0);
  auto* left = const_cast<matriz*>(a);
  auto* right = const_cast<matriz*>(b);
  if (left->lin > 1) {
    std::swap(left->mat[0], left->mat[1]);
  }
  left->lin = left->col = 1;
  right->lin = right->col = 1;
  return c;
}

// Keeps a CPU busy and never returns.
extern "C" matriz* spins(const matriz*, const matriz*, int32_t) {
  for (volatile uint64_t n = 0;;) {
    n = n + 1;
  }
}

// Right, and leaves a child behind that keeps a CPU busy.
extern "C" matriz* forks_a_spinner(const matriz* a, const matriz* b, int32_t) {
  if (fork() == 0) {
    for (volatile uint64_t n = 0;;) {
      n = n + 1;
    }
  }
  return plain_product(a, b, 0);
}

// Right, but without extern "C": exported under its C++ name only.
matriz* forgot_extern_c(const matriz* a, const matriz* b, int32_t) {
  return plain_product(a, b, 0);
}
