// Who owns which rows and columns: the one rule every MPI product follows, and the grid it runs on.
#include <dense/mpi_products.hpp>

#include "common/even_split.hpp"
#include "mpi/mpi_detail.hpp"

namespace mpi_products {

faixa faixa_de(int32_t total, int32_t partes, int32_t parte) {
  const dense_detail::item_range r = dense_detail::even_part(total, partes, parte);
  return faixa{r.begin, r.end};
}

dense_arith::bloco bloco_do_rank(int32_t lin, int32_t col, int32_t linhas, int32_t colunas,
                                 int32_t rank) {
  const faixa rows = faixa_de(lin, linhas, rank / colunas);
  const faixa cols = faixa_de(col, colunas, rank % colunas);
  return dense_arith::bloco{rows.inicio, rows.fim, cols.inicio, cols.fim};
}

int criar_grade(MPI_Comm comm, MPI_Comm* grade) {
  *grade = MPI_COMM_NULL;
  if (comm == MPI_COMM_NULL) {
    mpi_detail::print_mpi_error(MPI_ERR_COMM);
    return MPI_ERR_COMM;
  }
  int size = 0;
  mpi_detail::check(MPI_Comm_size(comm, &size), comm);
  int dims[2] = {0, 0};
  const int periods[2] = {0, 0};
  mpi_detail::check(MPI_Dims_create(size, 2, dims), comm);
  // No reordering: rank r of comm stays rank r of the grid, so a caller who
  // built its blocks by its rank in comm built the right ones.
  mpi_detail::check(MPI_Cart_create(comm, 2, dims, periods, 0, grade), comm);
  mpi_detail::check(MPI_Comm_set_errhandler(*grade, MPI_ERRORS_RETURN), *grade);
  return MPI_SUCCESS;
}

}  // namespace mpi_products
