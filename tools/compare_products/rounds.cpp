// The warm-up and the shuffled rounds of one shape.
#include "rounds.hpp"

#include <algorithm>
#include <cstdio>
#include <dense/textio.hpp>
#include <utility>

#include "common/matrix_records.hpp"
#include "tools/common/statistics.hpp"

namespace compare_products {
namespace {

// gettimeofday's step: two times closer than this cannot be told apart.
constexpr double kClockResolution = 1e-6;

struct row_state {
  bool active = true;
  double spent = 0.0;  // seconds of timed calls so far
};

// One call of `c`: checked, offered to the keeper, and, unless it is the
// warm-up (round -1), timed into the row and --raw.
void call_once(const candidate& c, row_state& state, round_context& ctx, int32_t round,
               int32_t position, std::vector<row_verdict>* differences) {
  row& r = *c.out;
  if (ctx.progress) {
    ctx.progress(round, r);
  }
  call_result got = c.call(ctx.a, ctx.b, r.threads);
  std::string wrong = got.failure;
  if (got.product != nullptr) {
    const double check_start = textio::wtime();
    wrong = (*ctx.check)(got.product);
    r.check_seconds.push_back(textio::wtime() - check_start);
    if (!wrong.empty() || !ctx.keep || !ctx.keep(got.product, got.seconds)) {
      dense_detail::release_matrix(got.product);
    }
  }
  if (!wrong.empty() && r.identical && r.stopped.empty()) {
    r.identical = false;
    differences->push_back({&r, wrong});
  }
  if (got.fatal) {
    r.stopped = got.failure;
    state.active = false;
    return;
  }
  if (round < 0) {
    return;
  }
  r.seconds.push_back(got.seconds);
  r.rounds.push_back(round);
  state.spent += got.seconds;
  if (ctx.raw != nullptr) {
    ctx.raw->push_back({round, position, c.index, got.seconds});
  }
}

// Whether the rounds can stop after `done` of them.
bool finished(const std::vector<candidate>& candidates, const std::vector<row_state>& states,
              const round_rules& rules, int32_t done, double elapsed) {
  const bool any_active =
      std::any_of(states.begin(), states.end(), [](const row_state& s) { return s.active; });
  if (!any_active) {
    return true;
  }
  if (rules.exact_rounds > 0) {
    return done >= rules.exact_rounds;
  }
  if (done >= rules.max_rounds) {
    return true;
  }
  if (done < rules.min_rounds) {
    return false;
  }
  if (rules.time_budget > 0.0 && elapsed >= rules.time_budget) {
    return true;
  }
  for (size_t i = 0; i < candidates.size(); ++i) {
    const candidate& c = candidates[i];
    if (!states[i].active) {
      continue;
    }
    if (!steady(c.out->seconds, rules.target, kClockResolution)) {
      return false;
    }
    if (c.one_thread != nullptr &&
        !steady(paired_ratios(*c.out, *c.one_thread), rules.target, 0.0)) {
      return false;
    }
  }
  return true;
}

}  // namespace

timed_call in_process(product_fn product, stdout_sink* sink) {
  return [product = std::move(product), sink](const dense_core::matriz* a,
                                              const dense_core::matriz* b, int32_t threads) {
    sink->begin();
    const double start = textio::wtime();
    dense_core::matriz* c = product(a, b, threads);
    const double stop = textio::wtime();
    const std::string said = sink->end();
    call_result got;
    got.product = c;
    got.seconds = stop - start;
    if (c == nullptr) {
      got.failure = "gave no result" + (said.empty() ? std::string() : ": " + one_line(said));
    }
    return got;
  };
}

std::vector<size_t> shuffled_order(size_t count, tool_common::splitmix64& gen) {
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) {
    order[i] = i;
  }
  for (size_t i = count; i > 1; --i) {
    std::swap(order[i - 1], order[gen.next() % i]);
  }
  return order;
}

bool steady(const std::vector<double>& values, double target, double floor) {
  if (values.empty()) {
    return true;
  }
  const double mid = tool_common::median(values);
  const tool_common::interval range = tool_common::median_interval(values);
  const double slack = std::max(target * mid, floor);
  return range.low >= mid - slack && range.high <= mid + slack;
}

int32_t run_rounds(const std::vector<candidate>& candidates, const round_rules& rules,
                   round_context& ctx, std::vector<row_verdict>* differences) {
  std::vector<row_state> states(candidates.size());
  for (size_t i = 0; i < candidates.size(); ++i) {
    call_once(candidates[i], states[i], ctx, -1, 0, differences);
  }
  const double start = textio::wtime();
  int32_t done = 0;
  while (!finished(candidates, states, rules, done, textio::wtime() - start)) {
    int32_t position = 0;
    for (size_t i : shuffled_order(candidates.size(), *ctx.order)) {
      if (!states[i].active) {
        continue;
      }
      call_once(candidates[i], states[i], ctx, done, position++, differences);
      if (rules.row_budget > 0.0 && states[i].spent >= rules.row_budget) {
        states[i].active = false;
      }
    }
    ++done;
  }
  return done;
}

std::string sweep_skip_reason(const std::vector<row>& done, const product_method* method,
                              int32_t threads, int32_t rows, int32_t inner, int32_t cols,
                              double limit_seconds) {
  const row* before = nullptr;
  for (const auto& r : done) {
    if (r.method == method && r.threads == threads && r.skipped.empty() && !r.seconds.empty() &&
        r.rows < rows && (before == nullptr || r.rows > before->rows)) {
      before = &r;
    }
  }
  if (before == nullptr) {
    return {};
  }
  const double scale = static_cast<double>(rows) * inner * cols /
                       (static_cast<double>(before->rows) * before->inner * before->cols);
  const double seconds = tool_common::median(before->seconds);
  const double predicted = seconds * scale;
  if (predicted <= limit_seconds) {
    return {};
  }
  char why[200];
  std::snprintf(why, sizeof why,
                "one repetition would take about %.0f s (%.2f s at n = %d); measure it alone with "
                "--size %d",
                predicted, seconds, before->rows, rows);
  return why;
}

}  // namespace compare_products
