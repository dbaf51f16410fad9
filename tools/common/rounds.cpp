// The warm-up, the shuffled rounds and their stop rule, and the ratios taken within a round.
#include "tools/common/rounds.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dense/textio.hpp>
#include <limits>
#include <map>
#include <utility>

#include "common/matrix_records.hpp"
#include "tools/common/statistics.hpp"

namespace tool_common {
namespace {

// gettimeofday's step: two times closer than this cannot be told apart.
constexpr double kClockResolution = 1e-6;

struct row_state {
  bool active = true;
  double spent = 0.0;  // seconds of timed calls so far
};

// Checks a result, offers it to the keeper, and releases it unless kept; how it is wrong.
std::string settle_result(const call_result& got, measured_row& r, round_context& ctx) {
  if (got.product == nullptr) {
    return got.failure;
  }
  std::string wrong;
  if (ctx.check != nullptr) {
    const double check_start = textio::wtime();
    wrong = (*ctx.check)(got.product);
    r.check_seconds.push_back(textio::wtime() - check_start);
  }
  if (!wrong.empty() || !ctx.keep || !ctx.keep(got.product, got.seconds)) {
    dense_detail::release_matrix(got.product);
  }
  return wrong;
}

// One call of `c`: checked, offered to the keeper, and, unless it is the
// warm-up (round -1), timed into the row and --raw.
void call_once(const candidate& c, row_state& state, round_context& ctx, int32_t round,
               int32_t position, std::vector<row_verdict>* differences) {
  measured_row& r = *c.out;
  if (ctx.progress) {
    ctx.progress(round, c.index);
  }
  const call_result got = c.call(ctx.a, ctx.b, r.threads);
  const std::string wrong = settle_result(got, r, ctx);
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

// Whether every active row's time, and its speedup over one thread, is steady.
bool all_steady(const std::vector<candidate>& candidates, const std::vector<row_state>& states,
                double target) {
  for (size_t i = 0; i < candidates.size(); ++i) {
    const candidate& c = candidates[i];
    if (!states[i].active) {
      continue;
    }
    if (!steady(c.out->seconds, target, kClockResolution)) {
      return false;
    }
    if (c.one_thread != nullptr && !steady(paired_ratios(*c.out, *c.one_thread), target, 0.0)) {
      return false;
    }
  }
  return true;
}

// Whether the rounds can stop after `done` of them.
bool finished(const std::vector<candidate>& candidates, const std::vector<row_state>& states,
              const round_rules& rules, int32_t done, double elapsed) {
  if (std::none_of(states.begin(), states.end(), [](const row_state& s) { return s.active; })) {
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
  return all_steady(candidates, states, rules.target);
}

}  // namespace

std::vector<size_t> shuffled_order(size_t count, splitmix64& gen) {
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
  if (values.size() < kFewestForInterval) {
    return values.empty();
  }
  const double mid = median(values);
  const interval range = median_interval(values);
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

std::vector<double> paired_ratios(const measured_row& r, const measured_row& reference) {
  std::map<int32_t, double> theirs;
  for (size_t i = 0; i < reference.seconds.size(); ++i) {
    theirs[reference.rounds[i]] = reference.seconds[i];
  }
  std::vector<double> ratios;
  for (size_t i = 0; i < r.seconds.size(); ++i) {
    const auto at = theirs.find(r.rounds[i]);
    if (at != theirs.end() && at->second > 0.0 && r.seconds[i] > 0.0) {
      ratios.push_back(at->second / r.seconds[i]);
    }
  }
  return ratios;
}

void derive_times(measured_row& r) {
  if (!r.ran()) {
    return;
  }
  const double ops = r.size.operations();
  r.median_s = median(r.seconds);
  r.seconds_range = median_interval(r.seconds);
  r.check_s = median(r.check_seconds);
  // A call faster than the clock's step read 0 s: its rate has no upper bound.
  auto rate = [ops](double s) {
    return s > 0.0 ? ops / s / 1e9 : std::numeric_limits<double>::infinity();
  };
  r.gops = r.median_s > 0.0 ? rate(r.median_s) : 0.0;
  r.gops_range = {rate(r.seconds_range.high), rate(r.seconds_range.low)};
}

std::string sweep_skip_reason(const std::vector<const measured_row*>& earlier, const shape& next,
                              double limit_seconds) {
  const measured_row* before = nullptr;
  for (const measured_row* r : earlier) {
    if (r->size.rows >= next.rows) {
      continue;
    }
    if (r->stopped == kTimedOut) {
      return "timed out at n = " + std::to_string(r->size.rows) +
             "; measure it alone with --size " + std::to_string(next.rows);
    }
    if (r->ran() && (before == nullptr || r->size.rows > before->size.rows)) {
      before = r;
    }
  }
  if (before == nullptr) {
    return {};
  }
  const double seconds = median(before->seconds);
  const double predicted = seconds * next.operations() / before->size.operations();
  if (predicted <= limit_seconds) {
    return {};
  }
  char why[200];
  std::snprintf(why, sizeof why,
                "one repetition would take about %.0f s (%.2f s at n = %d); measure it alone with "
                "--size %d",
                predicted, seconds, before->size.rows, next.rows);
  return why;
}

}  // namespace tool_common
