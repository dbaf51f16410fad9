// The team kernel on 1 and 2 threads at the sizes a student runs, in interleaved paired
// rounds: what a second thread gains or costs, quiet or beside busy processes (start them
// with scripts/busy.sh N). A round times `--calls` back-to-back calls on 1 thread and on 2,
// in an order that alternates from round to round, after a pause that lets the runtime's
// idle threads fall asleep; the round's ratio is the 1-thread time over the 2-thread time.
// Prints the median ratio and its quartiles per size and value range. With --trace, it
// also prints the spans of the slowest 2-thread call of each row (the team kernel's pieces
// and waits, per thread, in microseconds from the call's start); with --calls-traced, one
// line per 2-thread call: when the caller finished its last piece and when the other member
// worked (no member times: it took no piece).
//
//   team_kernel_small [--sizes 256,512] [--rounds 31] [--calls 1] [--trace | --calls-traced]
//                     [--small-only | --full-only]
//   scripts/busy.sh 1 build-release/bin/team_kernel_small --sizes 512 --calls-traced
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dense/dense_arith.hpp>
#include <dense/dense_core.hpp>
#include <dense/team_kernel.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/trace.hpp"

namespace {

namespace trace = dense_detail::trace;

struct square {
  dense_core::matriz m{};
  explicit square(int32_t n) {
    m.lin = n;
    m.col = n;
    m.mat = static_cast<int32_t**>(std::calloc(static_cast<size_t>(n), sizeof(int32_t*)));
    for (int32_t i = 0; i < n; ++i) {
      m.mat[i] = static_cast<int32_t*>(std::calloc(static_cast<size_t>(n), sizeof(int32_t)));
    }
  }
  ~square() {
    for (int32_t i = 0; i < m.lin; ++i) {
      std::free(m.mat[i]);
    }
    std::free(m.mat);
  }
  square(const square&) = delete;
  square& operator=(const square&) = delete;
};

void fill(square& s, bool full, uint32_t seed) {
  std::mt19937 gen(seed);
  for (int32_t i = 0; i < s.m.lin; ++i) {
    for (int32_t j = 0; j < s.m.col; ++j) {
      s.m.mat[i][j] = full ? static_cast<int32_t>(gen()) : static_cast<int32_t>(1 + gen() % 100);
    }
  }
}

double seconds_of(int32_t team, int32_t calls, const dense_arith::submatriz* a,
                  const dense_arith::submatriz* b, const dense_arith::submatriz* c) {
  const auto t0 = std::chrono::steady_clock::now();
  for (int32_t i = 0; i < calls; ++i) {
    team_kernel::mmsubmatrizOMP(a, b, c, team);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double at = q * static_cast<double>(v.size() - 1);
  const auto lo = static_cast<size_t>(at);
  const size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

void run_row(int32_t n, bool full, int32_t rounds, int32_t calls, bool traced, bool verbose) {
  square a(n);
  square b(n);
  square c(n);
  fill(a, full, 1);
  fill(b, full, 2);
  dense_arith::bloco ab{0, n, 0, n};
  const dense_arith::submatriz da{&a.m, &ab};
  const dense_arith::submatriz db{&b.m, &ab};
  const dense_arith::submatriz dc{&c.m, &ab};
  seconds_of(1, 2, &da, &db, &dc);  // warm-up: pages, the runtime's pool
  seconds_of(2, 2, &da, &db, &dc);
  std::vector<double> ratios;
  std::vector<double> one;
  std::vector<double> two;
  double slowest = 0.0;
  std::vector<trace::span_record> slowest_spans;
  for (int32_t r = 0; r < rounds; ++r) {
    double t[3] = {0, 0, 0};
    for (int32_t k = 0; k < 2; ++k) {
      const int32_t team = (k == 0) == (r % 2 == 0) ? 1 : 2;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      if (traced && team == 2) {
        trace::start();
      }
      t[team] = seconds_of(team, calls, &da, &db, &dc);
      if (traced && team == 2) {
        std::vector<trace::span_record> spans = trace::stop();
        if (verbose && !spans.empty()) {
          // Per call: the caller's last end, the member's first start and last end.
          const double t0 = spans.front().start;
          double caller_end = 0;
          double member_start = -1;
          double member_end = 0;
          for (const trace::span_record& s : spans) {
            if (s.worker == 0) {
              caller_end = std::max(caller_end, s.end - t0);
            } else {
              member_start = member_start < 0 ? s.start - t0 : std::min(member_start, s.start - t0);
              member_end = std::max(member_end, s.end - t0);
            }
          }
          std::printf("  call %.0f us: caller done %.0f, member %.0f-%.0f us\n", t[2] * 1e6 / calls,
                      caller_end * 1e6, member_start * 1e6, member_end * 1e6);
        }
        if (t[2] > slowest) {
          slowest = t[2];
          slowest_spans = std::move(spans);
        }
      }
    }
    one.push_back(t[1] / calls);
    two.push_back(t[2] / calls);
    ratios.push_back(t[1] / t[2]);
  }
  std::printf(
      "n=%-5d %-5s 1 thread %8.3f ms  2 threads %8.3f ms  ratio median %.2fx (quartiles %.2f-%.2f, "
      "min %.2f)\n",
      n, full ? "full" : "1..100", quantile(one, 0.5) * 1e3, quantile(two, 0.5) * 1e3,
      quantile(ratios, 0.5), quantile(ratios, 0.25), quantile(ratios, 0.75), quantile(ratios, 0.0));
  if (traced && !slowest_spans.empty()) {
    const double t0 = slowest_spans.front().start;
    std::printf("  slowest 2-thread call: %.3f ms; its spans (thread, phase, start-end us):\n",
                slowest * 1e3 / calls);
    for (const trace::span_record& s : slowest_spans) {
      std::printf("    %lld w%d %-12s %8.1f - %8.1f\n", static_cast<long long>(s.thread), s.worker,
                  s.phase, (s.start - t0) * 1e6, (s.end - t0) * 1e6);
    }
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int32_t> sizes{256, 512};
  int32_t rounds = 31;
  int32_t calls = 1;
  bool traced = false;
  bool verbose = false;
  bool ranges[2] = {true, true};  // 1..100, full
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--sizes" && i + 1 < argc) {
      sizes.clear();
      for (char* p = std::strtok(argv[++i], ","); p != nullptr; p = std::strtok(nullptr, ",")) {
        sizes.push_back(std::atoi(p));
      }
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (arg == "--calls" && i + 1 < argc) {
      calls = std::atoi(argv[++i]);
    } else if (arg == "--trace") {
      traced = true;
    } else if (arg == "--calls-traced") {
      traced = true;
      verbose = true;
    } else if (arg == "--small-only") {
      ranges[1] = false;
    } else if (arg == "--full-only") {
      ranges[0] = false;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--sizes LIST] [--rounds R] [--calls C] [--trace | --calls-traced] "
                   "[--small-only | --full-only]\n",
                   argv[0]);
      return 2;
    }
  }
  for (const int32_t n : sizes) {
    for (int range = 0; range < 2; ++range) {
      if (ranges[range]) {
        run_row(n, range == 1, rounds, calls, traced, verbose);
      }
    }
  }
  return 0;
}
