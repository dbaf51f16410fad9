// How the threaded products start their threads, observed through a stand-in
// for pthread_create (this program is linked with -Wl,--wrap=pthread_create):
// it can refuse to create threads, and it can run each job on the spot to see
// exactly which rows or bands the job was given.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <dense/workers_cyclic.hpp>
#include <dense/workers_ranges.hpp>
#include <vector>

#include "product_cases.hpp"

// The linker's --wrap names the stand-in __wrap_pthread_create and the real one __real_...
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __real_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

namespace {

enum class policy { pass, fail_all, fail_odd, observe };

std::atomic<policy> g_policy{policy::pass};
std::atomic<int> g_calls{0};
std::atomic<bool> g_attr_seen{false};

// What one job did when run in observe mode.
struct observed {
  int32_t id = -1;
  std::vector<int32_t> rows;              // result rows that the job changed
  dense_arith::bloco a_band{}, b_band{};  // block jobs: the bands handed over
};
std::vector<observed> g_seen;  // touched only on the calling thread

void* idle(void*) { return nullptr; }

// Rows of `c` that differ from `before`.
std::vector<int32_t> changed_rows(int32_t** c, int32_t rows, int32_t cols,
                                  const std::vector<std::vector<int32_t>>& before) {
  std::vector<int32_t> out;
  for (int32_t i = 0; i < rows; ++i) {
    if (std::vector<int32_t>(c[i], c[i] + cols) != before[static_cast<size_t>(i)]) {
      out.push_back(i);
    }
  }
  return out;
}

std::vector<std::vector<int32_t>> snapshot(int32_t** c, int32_t rows, int32_t cols) {
  std::vector<std::vector<int32_t>> out;
  out.reserve(static_cast<size_t>(rows));
  for (int32_t i = 0; i < rows; ++i) {
    out.emplace_back(c[i], c[i] + cols);
  }
  return out;
}

// Runs the job here and now and records what it was given and what it wrote.
void observe(void* (*fn)(void*), void* arg) {
  observed seen;
  if (fn == workers_cyclic::mult_normal_job) {
    const auto* job = static_cast<workers_cyclic::normal_job_arg*>(arg);
    const auto before = snapshot(job->c_mat, job->a_lin, job->b_col);
    fn(arg);
    seen.id = job->id;
    seen.rows = changed_rows(job->c_mat, job->a_lin, job->b_col, before);
  } else if (fn == workers_ranges::exec_thread) {
    const auto* job = static_cast<workers_ranges::thread_arg*>(arg);
    const auto before = snapshot(job->c->mat, job->c->lin, job->c->col);
    fn(arg);
    seen.id = job->id;
    seen.rows = changed_rows(job->c->mat, job->c->lin, job->c->col, before);
  } else if (fn == workers_cyclic::mult_block_thread_job) {
    const auto* job = static_cast<workers_cyclic::block_job_arg*>(arg);
    seen.a_band = *job->a_part->bloco;
    seen.b_band = *job->b_part->bloco;
    fn(arg);
  } else if (fn == workers_ranges::exec_thread_blocos) {
    const auto* job = static_cast<workers_ranges::thread_arg_blocos*>(arg);
    seen.id = job->id;
    seen.a_band = *job->a_parts[job->id]->bloco;
    seen.b_band = *job->b_parts[job->id]->bloco;
    fn(arg);
  } else {
    fn(arg);
  }
  g_seen.push_back(seen);
}

}  // namespace

// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                                     void* (*fn)(void*), void* arg) {
  if (attr != nullptr) {
    g_attr_seen = true;
  }
  const int call = g_calls++;
  switch (g_policy.load()) {
    case policy::fail_all:
      return EAGAIN;
    case policy::fail_odd:
      if (call % 2 == 1) {
        return EAGAIN;
      }
      break;
    case policy::observe:
      observe(fn, arg);
      return __real_pthread_create(thread, attr, idle, nullptr);
    case policy::pass:
      break;
  }
  return __real_pthread_create(thread, attr, fn, arg);
}

namespace {

using parallel_cases::expect_right_product;
using parallel_cases::product_fn;
using test_support::owned_matrix;
using test_support::result_ptr;

class ThreadStart : public testing::Test {
 protected:
  void SetUp() override {
    g_calls = 0;
    g_attr_seen = false;
    g_seen.clear();
  }
  void TearDown() override {
    g_policy = policy::pass;
    EXPECT_FALSE(g_attr_seen) << "threads must start with default attributes";
  }
};

struct named_product {
  const char* name;
  product_fn fn;
};

const std::vector<named_product>& products() {
  static const std::vector<named_product> all = {
      {"cyclic rows", workers_cyclic::multiplicarTh},
      {"cyclic bands", workers_cyclic::multiplicarThblocos},
      {"ranges rows", workers_ranges::multiplicarTh},
      {"ranges bands", workers_ranges::multiplicarThblocos},
  };
  return all;
}

TEST_F(ThreadStart, EveryProductIsRightWhenNoThreadCanBeCreated) {
  g_policy = policy::fail_all;
  uint32_t seed = 1;
  for (const auto& p : products()) {
    SCOPED_TRACE(p.name);
    for (int32_t n : {1, 2, 3, 4}) {
      expect_right_product(p.fn, {10, 6, 7}, n, seed++);
    }
  }
  EXPECT_GT(g_calls.load(), 0);
}

TEST_F(ThreadStart, EveryProductIsRightWhenEveryOtherThreadFails) {
  g_policy = policy::fail_odd;
  uint32_t seed = 100;
  for (const auto& p : products()) {
    SCOPED_TRACE(p.name);
    for (int32_t n : {2, 3, 5}) {
      expect_right_product(p.fn, {11, 5, 9}, n, seed++);
    }
  }
}

// Positive factors, so every product row differs from the zero it starts at.
void positive_factors(owned_matrix& a, owned_matrix& b) {
  test_support::fill_random(a, 7, 1, 9);
  test_support::fill_random(b, 8, 1, 9);
}

TEST_F(ThreadStart, CyclicRowsGoToThreadIdModN) {
  owned_matrix a(10, 3), b(3, 4);
  positive_factors(a, b);
  g_policy = policy::observe;
  result_ptr c(workers_cyclic::multiplicarTh(a.get(), b.get(), 4));
  g_policy = policy::pass;
  ASSERT_EQ(g_seen.size(), 4u);
  const std::vector<std::vector<int32_t>> want = {{0, 4, 8}, {1, 5, 9}, {2, 6}, {3, 7}};
  for (int32_t t = 0; t < 4; ++t) {
    EXPECT_EQ(g_seen[t].id, t);
    EXPECT_EQ(g_seen[t].rows, want[t]) << "thread " << t;
  }
  EXPECT_EQ(test_support::values_of(c.get()), test_support::reference_product(a.get(), b.get()));
}

TEST_F(ThreadStart, RangeRowsGiveTheRemainderToTheLastThread) {
  owned_matrix a(10, 3), b(3, 4);
  positive_factors(a, b);
  g_policy = policy::observe;
  result_ptr c(workers_ranges::multiplicarTh(a.get(), b.get(), 4));
  g_policy = policy::pass;
  ASSERT_EQ(g_seen.size(), 4u);
  const std::vector<std::vector<int32_t>> want = {{0, 1}, {2, 3}, {4, 5}, {6, 7, 8, 9}};
  for (int32_t t = 0; t < 4; ++t) {
    EXPECT_EQ(g_seen[t].rows, want[t]) << "thread " << t;
  }

  // More threads than rows: only the last thread has rows.
  g_seen.clear();
  g_policy = policy::observe;
  result_ptr d(workers_ranges::multiplicarTh(a.get(), b.get(), 12));
  g_policy = policy::pass;
  ASSERT_EQ(g_seen.size(), 12u);
  for (int32_t t = 0; t < 11; ++t) {
    EXPECT_TRUE(g_seen[t].rows.empty()) << "thread " << t;
  }
  EXPECT_EQ(g_seen[11].rows, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(test_support::values_of(d.get()), test_support::reference_product(a.get(), b.get()));
}

bool same(const dense_arith::bloco& x, const dense_arith::bloco& y) {
  return x.lin_inicio == y.lin_inicio && x.lin_fim == y.lin_fim && x.col_inicio == y.col_inicio &&
         x.col_fim == y.col_fim;
}

TEST_F(ThreadStart, CyclicBandsCutTheInnerDimensionOncePerThread) {
  owned_matrix a(3, 7), b(7, 2);
  positive_factors(a, b);
  g_policy = policy::observe;
  result_ptr c(workers_cyclic::multiplicarThblocos(a.get(), b.get(), 3));
  g_policy = policy::pass;
  ASSERT_EQ(g_seen.size(), 3u);
  // 7 columns in 3 bands: 0-1, 2-3, 4-6 (the last takes the remainder).
  const int32_t edges[] = {0, 2, 4, 7};
  for (int32_t t = 0; t < 3; ++t) {
    EXPECT_TRUE(same(g_seen[t].a_band, {0, 3, edges[t], edges[t + 1]})) << "thread " << t;
    EXPECT_TRUE(same(g_seen[t].b_band, {edges[t], edges[t + 1], 0, 2})) << "thread " << t;
  }
  EXPECT_EQ(test_support::values_of(c.get()), test_support::reference_product(a.get(), b.get()));
}

TEST_F(ThreadStart, RangeBandsAreTwoWhateverN) {
  owned_matrix a(3, 5), b(5, 4);
  positive_factors(a, b);
  g_policy = policy::observe;
  result_ptr c(workers_ranges::multiplicarThblocos(a.get(), b.get(), 5));
  g_policy = policy::pass;
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].id, 0);
  EXPECT_EQ(g_seen[1].id, 1);
  EXPECT_TRUE(same(g_seen[0].a_band, {0, 3, 0, 2}));
  EXPECT_TRUE(same(g_seen[1].a_band, {0, 3, 2, 5}));
  EXPECT_TRUE(same(g_seen[0].b_band, {0, 2, 0, 4}));
  EXPECT_TRUE(same(g_seen[1].b_band, {2, 5, 0, 4}));
  EXPECT_EQ(test_support::values_of(c.get()), test_support::reference_product(a.get(), b.get()));
}

TEST_F(ThreadStart, NoThreadStartsForARefusedProduct) {
  owned_matrix a(3, 4), b(3, 2);
  test_support::capture_stdout([&] {
    EXPECT_EQ(workers_cyclic::multiplicarTh(a.get(), b.get(), 2), nullptr);
    EXPECT_EQ(workers_cyclic::multiplicarThblocos(a.get(), b.get(), 2), nullptr);
    owned_matrix square(4, 4);
    EXPECT_EQ(workers_cyclic::multiplicarThblocos(square.get(), square.get(), 9), nullptr);
  });
  EXPECT_EQ(g_calls.load(), 0);
}

}  // namespace
