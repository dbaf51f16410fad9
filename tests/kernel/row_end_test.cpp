// The packing reads nothing past the end of a row or of a row table: every row of a and b
// here ends right before a page that cannot be read (and so does each row table), so a
// read of one element too many ends the test with SIGSEGV instead of passing unseen. The
// blocks take an odd inner range, where the pair packing of the 16-bit-range paths must
// give the last element of each row of a a zero partner instead of reading the next one.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <dense/dense_arith.hpp>
#include <memory>
#include <random>
#include <vector>

#include "kernel/testing.hpp"
#include "support/matrices.hpp"

namespace {

using block_kernel::path;

// `bytes` bytes that end right before an inaccessible page.
class guarded_span {
 public:
  explicit guarded_span(size_t bytes) {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t usable = (bytes + page - 1) / page * page;
    size_ = usable + page;
    void* map = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
      return;
    }
    base_ = static_cast<char*>(map);
    if (mprotect(base_ + usable, page, PROT_NONE) != 0) {
      return;
    }
    start_ = base_ + usable - bytes;
  }
  guarded_span(const guarded_span&) = delete;
  guarded_span& operator=(const guarded_span&) = delete;
  ~guarded_span() {
    if (base_ != nullptr) {
      munmap(base_, size_);
    }
  }
  void* start() const { return start_; }  // null when the mapping failed

 private:
  char* base_ = nullptr;
  char* start_ = nullptr;
  size_t size_ = 0;
};

// A rows x cols matrix with values in [-1000, 1000] (so the 16-bit-range
// paths take it) whose every row, and whose row table, ends at a guard page.
class guarded_matrix {
 public:
  guarded_matrix(int32_t rows, int32_t cols, uint32_t seed)
      : table_(static_cast<size_t>(rows) * sizeof(int32_t*)) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int32_t> value(-1000, 1000);
    auto** table = static_cast<int32_t**>(table_.start());
    for (int32_t i = 0; i < rows; ++i) {
      spans_.push_back(std::make_unique<guarded_span>(static_cast<size_t>(cols) * sizeof(int32_t)));
      auto* row = static_cast<int32_t*>(spans_.back()->start());
      if (table == nullptr || row == nullptr) {
        return;
      }
      for (int32_t j = 0; j < cols; ++j) {
        row[j] = value(gen);
      }
      table[i] = row;
    }
    m_ = {table, rows, cols};
  }
  // Null (after the loop above gave up) when a mapping failed.
  dense_core::matriz* get() { return m_.mat != nullptr ? &m_ : nullptr; }

 private:
  guarded_span table_;
  std::vector<std::unique_ptr<guarded_span>> spans_;
  dense_core::matriz m_{nullptr, 0, 0};
};

struct row_end_case {
  int32_t a_rows, inner, b_cols;  // a is a_rows x inner, b inner x b_cols
  int32_t i0, i1, k0, j0;         // the block: rows [i0, i1), k [k0, inner), columns [j0, b_cols)
};

TEST(RowEnds, NoPathReadsPastTheEndOfARowOrOfARowTable) {
  // Every inner range is odd and ends at the rows' ends of a and at the end of
  // b's row table; every column range ends at the rows' ends of b.
  const std::vector<row_end_case> cases = {
      {13, 7, 37, 0, 13, 0, 0},    // whole matrices, k = 7
      {20, 40, 50, 3, 17, 9, 5},   // k = 31 inside larger matrices
      {5, 2051, 21, 0, 5, 2, 0}};  // k = 2049: the odd tail is a block of its own
  for (const row_end_case& s : cases) {
    guarded_matrix a(s.a_rows, s.inner, 1U);
    guarded_matrix b(s.inner, s.b_cols, 2U);
    ASSERT_NE(a.get(), nullptr) << "mmap or mprotect failed";
    ASSERT_NE(b.get(), nullptr) << "mmap or mprotect failed";
    const test_support::product_block block{s.i0, s.i1, s.k0, s.inner, s.j0, s.b_cols};
    std::vector<int32_t> want(static_cast<size_t>(s.a_rows) * static_cast<size_t>(s.b_cols), 0);
    test_support::add_reference_product(a.get(), b.get(), block, want, s.b_cols);
    dense_arith::bloco a_block{s.i0, s.i1, s.k0, s.inner};
    dense_arith::bloco b_block{s.k0, s.inner, s.j0, s.b_cols};
    dense_arith::bloco c_block{0, s.a_rows, 0, s.b_cols};
    const dense_arith::submatriz da{a.get(), &a_block};
    const dense_arith::submatriz db{b.get(), &b_block};
    for (int32_t p = 0; p < block_kernel::path_count(); ++p) {
      if (!block_kernel::path_available(static_cast<path>(p))) {
        continue;
      }
      for (int32_t team : {0, 3}) {  // 0: the sequential kernel
        SCOPED_TRACE(testing::Message() << block_kernel::path_name(static_cast<path>(p)) << " team "
                                        << team << " k " << s.inner - s.k0);
        test_support::owned_matrix c(s.a_rows, s.b_cols);
        const dense_arith::submatriz dc{c.get(), &c_block};
        const int rc = team == 0 ? block_kernel::mmsubmatriz_on(static_cast<path>(p), &da, &db, &dc)
                                 : team_kernel::detail::mmsubmatrizOMP_on(static_cast<path>(p), &da,
                                                                          &db, &dc, team);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(c.values(), want);
      }
    }
  }
}

}  // namespace
