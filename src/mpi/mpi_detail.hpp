// What the MPI products share: the refusals, the checked MPI call, contiguous blocks, the agreed
// refusal.
#pragma once

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include <vector>

namespace mpi_detail {

// What every rank agrees on before any data moves. Ordered so that the
// largest verdict of all ranks (MPI_MAX) is the one reported.
enum refusal : int32_t { kAccepted = 0, kMismatch = 1, kMissing = 2, kNotAGrid = 3 };

// Prints the refusal's line (nothing for kAccepted).
void print_refusal(int32_t why);

// Prints "ERRO: MPI: " and MPI's string for `code` in one line.
void print_mpi_error(int code);

// Every MPI call of the products goes through this: on failure it prints the
// error in one line and aborts the job on `comm`, since another rank may be
// waiting in a call this rank will never make.
void check(int code, MPI_Comm comm);

// Prints "ERROR: Out of memory" and aborts the job on `comm`, for the same reason.
[[noreturn]] void out_of_memory(MPI_Comm comm);

// The library's private copy of a caller's communicator, with
// MPI_ERRORS_RETURN: messages of the products never mix with the caller's,
// and errors come back as codes. Freed when it goes out of scope.
class private_comm {
 public:
  // Leaves get() == MPI_COMM_NULL (after printing MPI's reason) when `comm`
  // is null or not a communicator.
  explicit private_comm(MPI_Comm comm);
  private_comm(const private_comm&) = delete;
  private_comm& operator=(const private_comm&) = delete;
  ~private_comm();
  MPI_Comm get() const { return comm_; }
  int rank() const { return rank_; }
  int size() const { return size_; }

 private:
  MPI_Comm comm_ = MPI_COMM_NULL;
  int rank_ = 0;
  int size_ = 0;
};

// What a new packed block holds: zeros (a block of c, which the kernel adds
// into), or whatever the heap gave, for a block that a copy or a message
// fills whole before anything reads it (zeroing 24 MB first would cost rank
// 1 of a 2048 product about a millisecond for nothing).
enum class start_as { zeros, unwritten };

// A rows x cols matrix in one heap block, row after row, with a row table
// into it, so it can go into an MPI message as it stands and into the team
// kernel as a matriz. rows or cols of 0 give an empty block with a null
// table. The heap refusing aborts the job on `comm`.
class packed {
 public:
  packed(int32_t rows, int32_t cols, MPI_Comm comm, start_as start = start_as::zeros);
  packed(const packed&) = delete;
  packed& operator=(const packed&) = delete;
  ~packed();
  int32_t* data() { return data_; }
  int32_t* row(int32_t i) { return data_ + static_cast<size_t>(i) * static_cast<size_t>(m_.col); }
  dense_core::matriz* matrix() { return &m_; }
  int32_t rows() const { return m_.lin; }
  int32_t cols() const { return m_.col; }
  bool empty() const { return m_.lin == 0 || m_.col == 0; }
  // Lays the same storage out again as `rows` x `cols`, neither more than
  // it was made with, so one buffer serves the panels of several steps.
  void reshape(int32_t rows, int32_t cols);

 private:
  dense_core::matriz m_{};
  int32_t* data_ = nullptr;
  int32_t capacity_rows_ = 0;
  int32_t capacity_cols_ = 0;
};

// One row of `cols` int32 as an MPI datatype, so that counts are counts of
// rows and never overflow an int however large the matrix. Freed when it goes
// out of scope.
class row_type {
 public:
  row_type(int32_t cols, MPI_Comm comm);
  row_type(const row_type&) = delete;
  row_type& operator=(const row_type&) = delete;
  ~row_type();
  MPI_Datatype get() const { return type_; }

 private:
  MPI_Datatype type_ = MPI_DATATYPE_NULL;
};

// Copies rows [r0, r0 + out.rows()) and columns [c0, c0 + out.cols()) of `m` into `out`.
void copy_block(const dense_core::matriz* m, int32_t r0, int32_t c0, packed& out);

// Copies `in` into `m` at rows from r0 and columns from c0.
void place_block(packed& in, dense_core::matriz* m, int32_t r0, int32_t c0);

// Where a block starts inside a matrix: the kernel reads a rank's own blocks
// where they are, so a panel a rank owns is never copied just to be multiplied.
struct view {
  const dense_core::matriz* m;  // the record only; c's elements are written through it
  int32_t r0;
  int32_t c0;
};

// The first `rows` x `cols` elements of `whole` as a record of that size over
// the same row table (no copy): rank 0's blocks start at element (0, 0), so
// it hands the caller's matrices to the product as its own blocks.
dense_core::matriz window(const dense_core::matriz* whole, int32_t rows, int32_t cols);

// c (rows x cols) += a (rows x inner) x b (inner x cols), each starting where
// its view says, with the team kernel on `threads` threads. Empty ranges do
// nothing.
void add_product(view a, view b, view c, int32_t rows, int32_t inner, int32_t cols,
                 int32_t threads);

// A contiguous block in flight as messages of at most about 1 MiB each (whole
// rows, one row datatype). Open MPI moves a large contiguous message between
// two ranks of one host by letting the receiver copy it straight out of the
// sender's memory (single copy, CMA), so a sender can post its sends and go
// on computing: the receiver does the work. Cutting a block into pieces lets
// the receiver start copying the first piece while the sender still packs the
// next one. Both sides cut the block the same way, and messages between two
// ranks with one tag arrive in the order they were sent.
class in_flight {
 public:
  explicit in_flight(MPI_Comm comm) : comm_(comm) {}
  in_flight(const in_flight&) = delete;
  in_flight& operator=(const in_flight&) = delete;
  ~in_flight();  // waits for whatever is still in flight
  // Rows [r0, r1) of `block` to (or from) rank `peer`, as pieces.
  void send(packed& block, int32_t r0, int32_t r1, int peer, int tag);
  void receive(packed& block, int32_t r0, int32_t r1, int peer, int tag);
  // Rows [r0, r0 + rows) and columns [c0, c0 + cols) of `whole` from rank
  // `peer`, which sends them as a contiguous block (send above): each piece is
  // received straight into the matrix's rows (one datatype over their
  // addresses), with no copy to place afterwards.
  void receive_into(const dense_core::matriz* whole, int32_t r0, int32_t c0, int32_t rows,
                    int32_t cols, int peer, int tag);
  // Waits for every message posted so far.
  void wait_all();

 private:
  void post(packed& block, int32_t r0, int32_t r1, int peer, int tag, bool sending);
  MPI_Comm comm_;
  std::vector<MPI_Request> requests_;
  std::vector<MPI_Datatype> types_;
};

// Rows of a piece of a block `cols` wide: about 1 MiB, at least one row.
int32_t piece_rows(int32_t cols);

// The product's shape, as every rank of a whole-matrix product learns it.
struct product_shape {
  int32_t m;  // a's rows
  int32_t k;  // a's columns, b's rows
  int32_t n;  // b's columns
};

// Collective over pc: rank 0 judges the factors it holds (missing, or shapes
// that do not multiply) and broadcasts its verdict with the shape before any
// rank waits on data, so every rank returns together. A refusal is printed
// once, by rank 0, and gives false on every rank.
bool agree_on_factors(const dense_core::matriz* a, const dense_core::matriz* b,
                      const private_comm& pc, product_shape* shape);

// A new zeroed lin x col matrix from malocar for rank 0's result; aborts the
// job on `comm` when the heap refuses.
dense_core::matriz* new_result(int32_t lin, int32_t col, MPI_Comm comm);

}  // namespace mpi_detail
