// multiplicarMPI: rank 0 deals out a's rows, everyone gets all of b, rank 0 gathers c's rows.
//
// Rank r owns rows faixa_de(m, P, r) of a and of c. Nothing is shared: each
// rank multiplies its own copy of its rows by its own copy of b, so the only
// coordination is in the three collectives (scatter, broadcast, gather).
// Counts in those calls are counts of rows (a row is one MPI datatype), so
// they stay far below INT_MAX whatever the size of the matrices.
#include <dense/mpi_products.hpp>
#include <vector>

#include "mpi/mpi_detail.hpp"

namespace mpi_products {

using dense_core::matriz;
using mpi_detail::check;
using mpi_detail::packed;
using mpi_detail::row_type;

matriz* multiplicarMPI(const matriz* a, const matriz* b, int32_t n, MPI_Comm comm) {
  const mpi_detail::private_comm pc(comm);
  if (pc.get() == MPI_COMM_NULL) {
    return nullptr;
  }
  const MPI_Comm world = pc.get();
  const bool root = pc.rank() == 0;

  mpi_detail::product_shape shape{};
  if (!mpi_detail::agree_on_factors(a, b, pc, &shape)) {
    return nullptr;
  }
  const int32_t m = shape.m;
  const int32_t k = shape.k;
  const int32_t cols = shape.n;
  const int ranks = pc.size();

  std::vector<int> counts(static_cast<size_t>(ranks));
  std::vector<int> starts(static_cast<size_t>(ranks));
  for (int r = 0; r < ranks; ++r) {
    const faixa f = faixa_de(m, ranks, r);
    counts[static_cast<size_t>(r)] = f.fim - f.inicio;
    starts[static_cast<size_t>(r)] = f.inicio;
  }
  const int32_t mine = counts[static_cast<size_t>(pc.rank())];

  const row_type row_k(k, world);
  const row_type row_n(cols, world);

  // a's rows: rank 0 packs all of a once and scatters the row blocks.
  packed my_a(mine, k, world);
  {
    packed all_a(root ? m : 0, k, world);
    if (root) {
      mpi_detail::copy_block(a, 0, 0, all_a);
    }
    check(MPI_Scatterv(all_a.data(), counts.data(), starts.data(), row_k.get(), my_a.data(), mine,
                       row_k.get(), 0, world),
          world);
  }

  // All of b, to everyone.
  packed my_b(k, cols, world);
  if (root) {
    mpi_detail::copy_block(b, 0, 0, my_b);
  }
  check(MPI_Bcast(my_b.data(), k, row_n.get(), 0, world), world);

  packed my_c(mine, cols, world);
  mpi_detail::add_product(my_a.matrix(), my_b.matrix(), my_c.matrix(), mine, k, cols, n);

  packed all_c(root ? m : 0, cols, world);
  check(MPI_Gatherv(my_c.data(), mine, row_n.get(), all_c.data(), counts.data(), starts.data(),
                    row_n.get(), 0, world),
        world);
  if (!root) {
    return nullptr;
  }
  matriz* c = mpi_detail::new_result(m, cols, world);
  mpi_detail::place_block(all_c, c, 0, 0);
  return c;
}

}  // namespace mpi_products
