// One more call of each method on every rank, recorded, aligned and gathered.
#include "traced.hpp"

#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/common/text.hpp"

namespace mpi_compare {
namespace {

namespace trace = dense_detail::trace;
using tool_common::format_number;

constexpr int kTagPing = 91;
// The trace clock (gettimeofday) counts whole microseconds.
constexpr double kClockTick = 1e-6;
// The bounds of a rank's whole call travel as a span of this worker number.
constexpr int32_t kWholeCall = -2;

// One span as it travels to rank 0: plain bytes (every rank runs this one program).
struct wire_span {
  char phase[40];
  double start;  // rank 0's clock
  double end;
  int64_t thread;
  int32_t worker;
  int32_t call;
};

wire_span to_wire(const char* phase, double start, double end, int64_t thread, int32_t worker,
                  int32_t call) {
  wire_span w{};
  std::snprintf(w.phase, sizeof w.phase, "%s", phase);
  w.start = start;
  w.end = end;
  w.thread = thread;
  w.worker = worker;
  w.call = call;
  return w;
}

std::string call_name(const row_setup& r) {
  return std::string(methods()[static_cast<size_t>(r.m)].name) + ", " + std::to_string(r.ranks) +
         (r.ranks == 1 ? " rank, " : " ranks, ") + std::to_string(r.threads) +
         (r.threads == 1 ? " thread each" : " threads each");
}

// JSON string contents: quotes, backslashes and control characters escaped.
std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (const char ch : s) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (static_cast<unsigned char>(ch) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(ch));
      out += escaped;
    } else {
      out += ch;
    }
  }
  out += '"';
  return out;
}

std::string micros(double seconds) { return format_number("%.3f", seconds * 1e6); }

// The spans of one rank as the kit's recorder's records, for make_lanes.
std::vector<trace::span_record> records_of(const std::vector<rank_span>& spans, int32_t call) {
  std::vector<trace::span_record> out;
  for (const rank_span& s : spans) {
    if (call < 0 || s.call == call) {
      out.push_back({s.phase.c_str(), s.start, s.end, s.thread, s.worker});
    }
  }
  return out;
}

}  // namespace

std::vector<clock_offset> align_clocks() {
  const int rank = world_rank();
  const int ranks = world_size();
  std::vector<clock_offset> clocks(static_cast<size_t>(ranks));
  for (int r = 1; r < ranks; ++r) {
    for (int32_t i = 0; i < kPings; ++i) {
      if (rank == 0) {
        char nothing = 0;
        need(MPI_Recv(&nothing, 0, MPI_CHAR, r, kTagPing, MPI_COMM_WORLD, MPI_STATUS_IGNORE));
        const double t0 = trace::now();
        need(MPI_Send(&t0, 1, MPI_DOUBLE, r, kTagPing, MPI_COMM_WORLD));
      } else if (rank == r) {
        char nothing = 0;
        double t0 = 0.0;
        const double t1 = trace::now();
        need(MPI_Send(&nothing, 0, MPI_CHAR, 0, kTagPing, MPI_COMM_WORLD));
        need(MPI_Recv(&t0, 1, MPI_DOUBLE, 0, kTagPing, MPI_COMM_WORLD, MPI_STATUS_IGNORE));
        const double t2 = trace::now();
        clock_offset& mine = clocks[static_cast<size_t>(r)];
        // Each of the three readings is cut to the clock's tick, which adds to the error.
        const double error = (t2 - t1) / 2 + kClockTick;
        if (i == 0 || error < mine.uncertainty) {
          mine = {t0 - (t1 + t2) / 2, error};
        }
      }
    }
  }
  const double mine[2] = {clocks[static_cast<size_t>(rank)].offset,
                          clocks[static_cast<size_t>(rank)].uncertainty};
  std::vector<double> all(static_cast<size_t>(rank == 0 ? 2 * ranks : 0));
  need(MPI_Gather(mine, 2, MPI_DOUBLE, all.data(), 2, MPI_DOUBLE, 0, MPI_COMM_WORLD));
  for (size_t r = 0; rank == 0 && r < clocks.size(); ++r) {
    clocks[r] = {all[2 * r], all[2 * r + 1]};
  }
  return clocks;
}

traced_run trace_methods(const options& o, std::vector<row_setup>& setups, const whole_factors& w,
                         const std::vector<double>& median_s) {
  traced_run run;
  const int rank = world_rank();
  run.ranks = world_size();
  run.clocks = align_clocks();
  const double offset = run.clocks[static_cast<size_t>(rank)].offset;

  // Each method's row on every rank with the most threads: the last of its
  // method in the table's order (rank counts, then methods, then threads).
  std::vector<size_t> chosen;
  for (method m : o.methods) {
    size_t last = setups.size();
    for (size_t i = 0; i < setups.size(); ++i) {
      if (setups[i].m == m && setups[i].ranks == run.ranks) {
        last = i;
      }
    }
    if (last < setups.size()) {
      chosen.push_back(last);
    }
  }

  std::vector<wire_span> mine;
  std::vector<int32_t> traced_count;  // per method: how many calls were traced
  for (size_t c = 0; c < chosen.size(); ++c) {
    // Every traced call on every rank, each one's time the slowest rank's (as the table's).
    std::vector<std::vector<trace::span_record>> spans;
    std::vector<double> starts;
    std::vector<double> ends;
    std::vector<double> slowest;
    double spent = 0.0;  // the same on every rank: a sum of the agreed times
    for (int32_t t = 0; t < kTracedCalls && (t == 0 || spent < kTraceBudget); ++t) {
      double start = 0.0;
      double end = 0.0;
      trace::start();
      traced_call(o, setups[chosen[c]], w, &start, &end);
      spans.push_back(trace::stop());
      starts.push_back(start);
      ends.push_back(end);
      const double took = end - start;
      double agreed = 0.0;
      need(MPI_Allreduce(&took, &agreed, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD));
      slowest.push_back(agreed);
      spent += agreed;
    }
    // Rank 0 alone knows the medians: it chooses, and every rank keeps the same call.
    int keep = 0;
    if (rank == 0 && chosen[c] < median_s.size()) {
      keep = static_cast<int>(tool_common::nearest_to(slowest, median_s[chosen[c]]));
    }
    need(MPI_Bcast(&keep, 1, MPI_INT, 0, MPI_COMM_WORLD));
    const auto k = static_cast<size_t>(keep);
    const auto call = static_cast<int32_t>(c);
    traced_count.push_back(static_cast<int32_t>(slowest.size()));
    mine.push_back(to_wire("call", starts[k] + offset, ends[k] + offset, trace::this_thread(),
                           kWholeCall, call));
    for (const auto& s : spans[k]) {
      mine.push_back(to_wire(s.phase, s.start + offset, s.end + offset, s.thread, s.worker, call));
    }
  }

  // Every rank's spans to rank 0, as bytes.
  const int my_bytes = static_cast<int>(mine.size() * sizeof(wire_span));
  std::vector<int> bytes(static_cast<size_t>(rank == 0 ? run.ranks : 0));
  need(MPI_Gather(&my_bytes, 1, MPI_INT, bytes.data(), 1, MPI_INT, 0, MPI_COMM_WORLD));
  std::vector<int> at(bytes.size(), 0);
  for (size_t r = 1; r < bytes.size(); ++r) {
    at[r] = at[r - 1] + bytes[r - 1];
  }
  std::vector<wire_span> all(
      rank == 0 ? static_cast<size_t>(at.back() + bytes.back()) / sizeof(wire_span) : 0);
  need(MPI_Gatherv(mine.data(), my_bytes, MPI_BYTE, all.data(), bytes.data(), at.data(), MPI_BYTE,
                   0, MPI_COMM_WORLD));
  if (rank != 0) {
    return {};
  }

  for (size_t c = 0; c < chosen.size(); ++c) {
    rank_call call;
    call.name = call_name(setups[chosen[c]]);
    call.setup = chosen[c];
    call.traced = traced_count[c];
    call.start.assign(static_cast<size_t>(run.ranks), 0.0);
    call.end.assign(static_cast<size_t>(run.ranks), 0.0);
    run.calls.push_back(call);
  }
  run.spans.resize(static_cast<size_t>(run.ranks));
  run.caller.assign(static_cast<size_t>(run.ranks), 0);
  for (size_t r = 0; r < bytes.size(); ++r) {
    const size_t first = static_cast<size_t>(at[r]) / sizeof(wire_span);
    const size_t count = static_cast<size_t>(bytes[r]) / sizeof(wire_span);
    for (size_t i = first; i < first + count; ++i) {
      const wire_span& s = all[i];
      if (s.worker == kWholeCall) {
        run.calls[static_cast<size_t>(s.call)].start[r] = s.start;
        run.calls[static_cast<size_t>(s.call)].end[r] = s.end;
        run.caller[r] = s.thread;
      } else {
        run.spans[r].push_back({s.phase, s.start, s.end, s.thread, s.worker, s.call});
      }
    }
  }
  return run;
}

std::string trace_json(const traced_run& run, const options& o) {
  double origin = 0.0;
  if (!run.calls.empty()) {
    origin = *std::min_element(run.calls[0].start.begin(), run.calls[0].start.end());
  }
  std::string out = "{\"traceEvents\":[\n";
  bool first = true;
  auto event = [&](const std::string& e) {
    out += first ? "" : ",\n";
    out += e;
    first = false;
  };
  for (int32_t r = 0; r < run.ranks; ++r) {
    const auto rank = static_cast<size_t>(r);
    const std::string pid = std::to_string(r);
    std::string name = "{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":";
    name += pid;
    name += ",\"tid\":0,\"args\":{\"name\":\"rank ";
    name += pid;
    name += "\"}}";
    event(name);
    std::string order = "{\"name\":\"process_sort_index\",\"ph\":\"M\",\"pid\":";
    order += pid;
    order += ",\"tid\":0,\"args\":{\"sort_index\":";
    order += pid;
    order += "}}";
    event(order);
    // The rank's threads over all its calls, in lanes as compare_products names them.
    const double end = run.calls.empty() ? origin : run.calls.back().end[rank];
    const tool_common::traced_product lanes = tool_common::make_lanes(
        "rank " + pid, origin, end, run.caller[rank], records_of(run.spans[rank], -1));
    for (size_t t = 0; t < lanes.lanes.size(); ++t) {
      event("{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":" + pid + ",\"tid\":" +
            std::to_string(t) + ",\"args\":{\"name\":" + json_string(lanes.lanes[t].name) + "}}");
    }
    for (const rank_call& c : run.calls) {
      event("{\"name\":" + json_string(c.name) + ",\"cat\":\"call\",\"ph\":\"X\",\"pid\":" + pid +
            ",\"tid\":0,\"ts\":" + micros(c.start[rank] - origin) +
            ",\"dur\":" + micros(c.end[rank] - c.start[rank]) + "}");
    }
    for (size_t t = 0; t < lanes.lanes.size(); ++t) {
      for (const auto& s : lanes.lanes[t].spans) {
        event("{\"name\":" + json_string(s.phase) +
              ",\"cat\":\"phase\",\"ph\":\"X\",\"pid\":" + pid + ",\"tid\":" + std::to_string(t) +
              ",\"ts\":" + format_number("%.3f", s.start_us) +
              ",\"dur\":" + format_number("%.3f", s.end_us - s.start_us) + "}");
      }
    }
  }
  out += "\n],\n\"displayTimeUnit\":\"ms\",\n\"otherData\":{";
  out += "\"program\":\"mpi_compare\",\"shape\":\"" + std::to_string(o.rows) + "x" +
         std::to_string(o.inner) + "x" + std::to_string(o.cols) + "\",";
  out += std::string("\"overlap\":") + (o.no_overlap ? "false" : "true") + ",";
  out += "\"times\":\"microseconds from the first traced call's start, on rank 0's clock\",";
  out += "\"clocks\":" +
         json_string("each rank's offset to rank 0's clock from " + std::to_string(kPings) +
                     " ping-pongs before the traced calls: offset = t0 - (t1 + t2) / 2 of the "
                     "exchange with the shortest round trip, off by at most half of it plus "
                     "the clock's tick of 1 us (uncertainty_us)") +
         ",\"clock_offsets\":[";
  for (size_t r = 0; r < run.clocks.size(); ++r) {
    out += std::string(r == 0 ? "" : ",") + "{\"rank\":" + std::to_string(r) +
           ",\"offset_us\":" + micros(run.clocks[r].offset) +
           ",\"uncertainty_us\":" + micros(run.clocks[r].uncertainty) + "}";
  }
  out += "]}}\n";
  return out;
}

std::vector<tool_common::traced_product> trace_products(const traced_run& run,
                                                        const std::vector<double>& median_s) {
  std::vector<tool_common::traced_product> products;
  for (size_t c = 0; c < run.calls.size(); ++c) {
    const rank_call& call = run.calls[c];
    const double start = *std::min_element(call.start.begin(), call.start.end());
    const double end = *std::max_element(call.end.begin(), call.end.end());
    tool_common::traced_product p{call.name, (end - start) * 1e6, {}};
    for (int32_t r = 0; r < run.ranks; ++r) {
      const auto rank = static_cast<size_t>(r);
      tool_common::traced_product one =
          tool_common::make_lanes(call.name, start, end, run.caller[rank],
                                  records_of(run.spans[rank], static_cast<int32_t>(c)));
      for (auto& l : one.lanes) {
        l.name = "rank " + std::to_string(r) + ", " + l.name;
        p.lanes.push_back(std::move(l));
      }
    }
    p.median_us = call.setup < median_s.size() ? median_s[call.setup] * 1e6 : 0.0;
    p.traced = call.traced;
    products.push_back(std::move(p));
  }
  return products;
}

}  // namespace mpi_compare
