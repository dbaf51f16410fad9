// Contiguous blocks in flight: non-blocking messages of about 1 MiB, waited for together.
#include <algorithm>
#include <vector>

#include "mpi/mpi_detail.hpp"

namespace mpi_detail {

namespace {

// Small enough that the receiver starts copying the first piece while the
// sender packs the next; large enough that the few microseconds each message
// costs stay far below its copy.
constexpr int64_t kPieceBytes = int64_t{1} << 20;

}  // namespace

int32_t piece_rows(int32_t cols) {
  const int64_t row_bytes = static_cast<int64_t>(std::max(cols, 1)) * 4;
  return static_cast<int32_t>(std::max<int64_t>(1, kPieceBytes / row_bytes));
}

in_flight::~in_flight() {
  wait_all();
  for (MPI_Datatype& t : types_) {
    MPI_Type_free(&t);
  }
}

void in_flight::send(packed& block, int32_t r0, int32_t r1, int peer, int tag) {
  post(block, r0, r1, peer, tag, true);
}

void in_flight::receive(packed& block, int32_t r0, int32_t r1, int peer, int tag) {
  post(block, r0, r1, peer, tag, false);
}

void in_flight::post(packed& block, int32_t r0, int32_t r1, int peer, int tag, bool sending) {
  if (r0 >= r1 || block.empty()) {
    return;
  }
  MPI_Datatype row = MPI_DATATYPE_NULL;
  check(MPI_Type_contiguous(block.cols(), MPI_INT32_T, &row), comm_);
  check(MPI_Type_commit(&row), comm_);
  types_.push_back(row);
  const int32_t step = piece_rows(block.cols());
  for (int32_t from = r0; from < r1; from += std::min(step, r1 - from)) {
    const int32_t count = std::min(step, r1 - from);
    MPI_Request q = MPI_REQUEST_NULL;
    if (sending) {
      check(MPI_Isend(block.row(from), count, row, peer, tag, comm_, &q), comm_);
    } else {
      check(MPI_Irecv(block.row(from), count, row, peer, tag, comm_, &q), comm_);
    }
    requests_.push_back(q);
  }
}

void in_flight::wait_all() {
  if (!requests_.empty()) {
    check(MPI_Waitall(static_cast<int>(requests_.size()), requests_.data(), MPI_STATUSES_IGNORE),
          comm_);
  }
  requests_.clear();
}

void in_flight::receive_into(const dense_core::matriz* whole, int32_t r0, int32_t c0, int32_t rows,
                             int32_t cols, int peer, int tag) {
  if (rows <= 0 || cols <= 0) {
    return;
  }
  const int32_t step = piece_rows(cols);
  std::vector<MPI_Aint> where;
  std::vector<int> lengths;
  for (int32_t from = 0; from < rows; from += std::min(step, rows - from)) {
    const int32_t count = std::min(step, rows - from);
    where.resize(static_cast<size_t>(count));
    lengths.assign(static_cast<size_t>(count), cols);
    for (int32_t i = 0; i < count; ++i) {
      check(MPI_Get_address(whole->mat[r0 + from + i] + c0, &where[static_cast<size_t>(i)]), comm_);
    }
    MPI_Datatype piece = MPI_DATATYPE_NULL;
    check(MPI_Type_create_hindexed(count, lengths.data(), where.data(), MPI_INT32_T, &piece),
          comm_);
    check(MPI_Type_commit(&piece), comm_);
    types_.push_back(piece);
    MPI_Request q = MPI_REQUEST_NULL;
    check(MPI_Irecv(MPI_BOTTOM, 1, piece, peer, tag, comm_, &q), comm_);
    requests_.push_back(q);
  }
}

}  // namespace mpi_detail
