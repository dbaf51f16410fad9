// Multiplies 2x2 matrices across the ranks through the installed dense::mpi; status 0 when right.
#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <dense/dense_core.hpp>
#include <dense/mpi_products.hpp>

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  int32_t ra[2] = {1, 2}, rb[2] = {3, 4}, rc[2] = {5, 6}, rd[2] = {7, 8};
  int32_t* a_rows[2] = {ra, rb};
  int32_t* b_rows[2] = {rc, rd};
  dense_core::matriz a{a_rows, 2, 2};
  dense_core::matriz b{b_rows, 2, 2};
  dense_core::matriz* c = mpi_products::multiplicarSUMMA(&a, &b, 1, MPI_COMM_WORLD);
  int status = 0;
  if (rank == 0) {
    // [1 2; 3 4] x [5 6; 7 8] = [19 22; 43 50]
    status = c != nullptr && c->mat[0][0] == 19 && c->mat[0][1] == 22 && c->mat[1][0] == 43 &&
                     c->mat[1][1] == 50
                 ? 0
                 : 1;
    std::printf("%s\n", status == 0 ? "dense::mpi works" : "dense::mpi gave a wrong product");
    dense_core::mliberar(c);
    std::free(c);
  }
  MPI_Finalize();
  return status;
}
