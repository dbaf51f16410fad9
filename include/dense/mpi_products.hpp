// mpi_products: the matrix product across processes on MPI, by row blocks and by SUMMA.
//
// Threads share one address space; ranks do not. Every number a rank needs
// from another one travels in an MPI message, and each rank computes its own
// part with the team kernel (team_kernel::mmsubmatrizOMP) on its own threads.
//
// Every operation here is collective over its communicator: every rank calls
// it, with the same thread count, between MPI_Init and MPI_Finalize. The
// library duplicates the communicator it is given and sets MPI_ERRORS_RETURN
// on the copy, so a failing MPI call comes back to us instead of ending the
// job behind our back. Then it prints one line "ERRO: MPI: " followed by
// MPI's own error string and aborts the job with MPI_Abort (status 1):
// another rank may already be waiting on this one, and ending the job is the
// only way to make sure none waits for ever. A rank whose heap runs out
// prints "ERROR: Out of memory" and aborts the same way.
//
// Refusals of bad arguments never abort: they are decided before anyone waits
// on anyone, agreed by every rank, printed once (by rank 0) and make every
// rank return null (or -1).
//
// Who owns what. A process grid has `linhas` x `colunas` ranks, numbered row
// by row (rank = row * colunas + column), which is the order MPI gives the
// ranks of a Cartesian communicator. A lin x col matrix cut over the grid
// gives the rank at (r, c) the rows faixa_de(lin, linhas, r) and the columns
// faixa_de(col, colunas, c): bloco_do_rank below is that rule, and every part
// of this module uses it.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>

namespace mpi_products {

// A half-open range [inicio, fim) of row or column indices.
struct faixa {
  int32_t inicio;
  int32_t fim;
};

// Part `parte` (from 0) of `total` items cut into `partes` consecutive parts
// whose sizes differ by at most one: the first total % partes parts have one
// item more. Parts beyond the items are empty. Pure; `partes` must be >= 1
// and `parte` in [0, partes).
faixa faixa_de(int32_t total, int32_t partes, int32_t parte);

// The block of a lin x col matrix that `rank` owns on a linhas x colunas grid:
// rows faixa_de(lin, linhas, rank / colunas), columns faixa_de(col, colunas,
// rank % colunas). Pure: no MPI call, so it can be used anywhere, also to
// build one's own blocks before any message.
dense_arith::bloco bloco_do_rank(int32_t lin, int32_t col, int32_t linhas, int32_t colunas,
                                 int32_t rank);

// Collective over `comm`: a new 2-D Cartesian communicator over all its
// ranks, the grid's shape chosen by MPI_Dims_create (as square as the rank
// count allows; the first dimension is never the smaller one), ranks not
// reordered, so rank r of `comm` is rank r of the grid. MPI_ERRORS_RETURN is
// set on it. The caller frees it with MPI_Comm_free. Returns MPI_SUCCESS; a
// null `comm` gets "ERRO: MPI: " with MPI's string for MPI_ERR_COMM and that
// code, and leaves *grade MPI_COMM_NULL.
int criar_grade(MPI_Comm comm, MPI_Comm* grade);

// Row blocks. Collective over `comm`. Rank 0 holds a (m x k) and b (k x n);
// the other ranks' factor arguments are ignored and may be null. Rank 0 sends
// rank r the rows faixa_de(m, P, r) of a and all of b (a rank without rows
// gets neither), every rank adds its rows of the product with the team kernel
// on `n` threads (below 1: the runtime's default), and rank 0 gathers the rows
// into a new matrix that it returns (the caller owns it: mliberar, then free
// the record). Other ranks return null. Rank 0 posts every message before it
// computes (non-blocking) and computes its own rows from the caller's a and b
// straight into the result, so the others receive while it works. Refusals, each printed once by
// rank 0 and making every rank return null: a missing factor on rank 0 ("ERRO: Matriz
// inexistente."), a's columns unequal to b's rows ("ERRO: Matrizes inválidas para multiplicação.").
// A null or freed communicator: every rank that passed it prints "ERRO: MPI: " and MPI's string for
// MPI_ERR_COMM, and returns null. Per rank moved: its rows of a and of the result, and all of b.
dense_core::matriz* multiplicarMPI(const dense_core::matriz* a, const dense_core::matriz* b,
                                   int32_t n, MPI_Comm comm);

// SUMMA on the grid of criar_grade(comm): rank 0 sends every rank its blocks
// of a (m x k), b (k x n) and the result by bloco_do_rank, the ranks run
// multiplicarSUMMAblocos's panel loop, and rank 0 gathers the result's blocks
// into a new matrix that it returns. Same arguments, result and refusals as
// multiplicarMPI. Rank 0 starts on its own blocks (the top-left corners of a,
// b and the result, used where they are) while the others receive theirs.
dense_core::matriz* multiplicarSUMMA(const dense_core::matriz* a, const dense_core::matriz* b,
                                     int32_t n, MPI_Comm comm);

// SUMMA on blocks that never meet on one rank: c += a x b for an m x k matrix
// a and a k x n matrix b, each rank passing only its own blocks. `grade` is a
// 2-D Cartesian communicator (criar_grade makes one). The rank at grid row r,
// column c passes as `a` its block bloco_do_rank(m, k, ...), as `b` its block
// bloco_do_rank(k, n, ...) and as `c` its block bloco_do_rank(m, n, ...),
// each a matrix of just that block's size, element (0, 0) being the block's
// first element; a rank whose block is empty passes null (or a record
// without storage). The inner dimension k is walked in panels (of at most
// 1024 on more than one rank): each step the rank that owns the panel's
// columns of a in a grid row broadcasts them along that row, the rank that
// owns the panel's rows of b in a grid column broadcasts them along that
// column, and every rank adds the
// product of the two panels into its block of c with the team kernel on `n`
// threads. The next panel's broadcasts (MPI_Ibcast) are posted before the
// current panel is multiplied, so they travel while the kernel works; of
// the two posted, a rank multiplies its own first when the other has not
// come (sums wrap, so the order changes no bit of c). Per
// rank moved: its grid row's share of a and its grid column's share of b,
// about 2 m k / sqrt(P) elements for square factors on a square grid.
//
// Returns 0, or -1 for a refusal agreed by every rank and printed once by
// grid rank 0: "ERRO: Matriz inexistente." when a non-empty block is missing
// on any rank; "ERRO: Matrizes inválidas para multiplicação." when a block's
// size differs from its rank's share, when a dimension is not positive, or
// when the ranks disagree on m, k or n; and "ERRO: MPI: " with MPI's string
// for MPI_ERR_TOPOLOGY when `grade` is not a 2-D Cartesian communicator.
int multiplicarSUMMAblocos(const dense_core::matriz* a, const dense_core::matriz* b,
                           dense_core::matriz* c, int32_t m, int32_t k, int32_t n, int32_t threads,
                           MPI_Comm grade);

}  // namespace mpi_products
