// Traced calls as lanes of phases, and the two ways of showing them.
#include "tools/common/timeline.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "mpi/phases.hpp"  // the names alone: no MPI needed
#include "tools/common/gnuplot.hpp"
#include "tools/common/statistics.hpp"
#include "tools/common/text.hpp"

namespace tool_common {
namespace {

using tool_common::format_number;

// JSON string contents: quotes, backslashes and control characters escaped.
std::string json_text(const std::string& s) {
  std::string out;
  for (const char ch : s) {
    const auto u = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out;
}

// A JSON string: the text escaped, between double quotes (appended piece by
// piece: g++ 12 warns, wrongly, about "\"" + text + "\"" in Release builds).
std::string json_string(const std::string& s) {
  std::string quoted = "\"";
  quoted += json_text(s);
  quoted += '"';
  return quoted;
}

// Each phase the kit's products mark has its own colour in every picture:
// work in colours, waiting in greys.
namespace trace = dense_detail::trace;
struct phase_colour {
  const char* phase;
  const char* colour;
};
constexpr phase_colour kKnownPhases[] = {
    {trace::kPartition, "#1f77b4"},     {trace::kStartThreads, "#ff7f0e"},
    {trace::kRows, "#8c564b"},          {trace::kBandProduct, "#9467bd"},
    {trace::kWaitForThread, "#b0b0b0"}, {trace::kAddPart, "#d62728"},
    {trace::kScanValues, "#e377c2"},    {trace::kPackB, "#2ca02c"},
    {trace::kPackA, "#bcbd22"},         {trace::kMultiply, "#17becf"},
    {trace::kWait, "#606060"}};
// The MPI products' (mpi_compare): computing in green, rank 0 dealing in blues,
// receiving in oranges, making buffers in reds, panels in gold, the result
// travelling back in purples, collectives and waits in greys. Drawn in this
// order, so a phase inside another (a wait for a dealt block inside a panel's
// broadcast) shows above it.
namespace mpi_phases = mpi_detail::phases;
constexpr phase_colour kMpiPhases[] = {
    {mpi_phases::kCompute, "#1b7837"},    {mpi_phases::kAgree, "#dcdcdc"},
    {mpi_phases::kMakeGrid, "#c0c0c0"},   {mpi_phases::kMakeBuffers, "#f4a582"},
    {mpi_phases::kMakeResult, "#b2182b"}, {mpi_phases::kDealA, "#08306b"},
    {mpi_phases::kDealB, "#4292c6"},      {mpi_phases::kBroadcastPanel, "#ffd700"},
    {mpi_phases::kReceiveAB, "#d94801"},  {mpi_phases::kReceiveA, "#7f2704"},
    {mpi_phases::kReceiveB, "#fd8d3c"},   {mpi_phases::kWaitPanel, "#404040"},
    {mpi_phases::kWaitSends, "#8a8a8a"},  {mpi_phases::kCollectC, "#762a83"},
    {mpi_phases::kSendC, "#c51b7d"}};
// Phases of no known name, in the order met.
constexpr const char* kOtherColours[] = {"#000080", "#808000", "#800080", "#008080",
                                         "#ff00ff", "#00c000", "#c00000", "#ffd700",
                                         "#4b0082", "#a0522d", "#00bfff", "#ff1493"};

}  // namespace

traced_product make_lanes(const std::string& name, double start, double end, int64_t caller,
                          const std::vector<dense_detail::trace::span_record>& spans) {
  traced_product p{name, (end - start) * 1e6, {}};
  // Key of each thread: the calling thread first, then numbered threads by
  // their number, then the others by their first span.
  struct thread_key {
    int rank;       // 0 calling, 1 numbered, 2 unnumbered
    int64_t order;  // the number, or the first span's index
    int64_t thread;
  };
  std::vector<thread_key> keys;
  for (size_t i = 0; i < spans.size(); ++i) {
    const auto& s = spans[i];
    const bool known = std::any_of(keys.begin(), keys.end(),
                                   [&](const thread_key& k) { return k.thread == s.thread; });
    if (!known) {
      const int rank = s.thread == caller ? 0 : (s.worker >= 0 ? 1 : 2);
      keys.push_back({rank, rank == 1 ? s.worker : static_cast<int64_t>(i), s.thread});
    }
  }
  std::stable_sort(keys.begin(), keys.end(), [](const thread_key& x, const thread_key& y) {
    return x.rank != y.rank ? x.rank < y.rank : x.order < y.order;
  });
  int32_t unnumbered = 0;
  for (const auto& k : keys) {
    lane l;
    if (k.rank == 0) {
      l.name = "calling thread";
    } else if (k.rank == 1) {
      l.name = "thread " + std::to_string(k.order);
    } else {
      l.name = "thread " + std::to_string(unnumbered++);
    }
    for (const auto& s : spans) {
      if (s.thread == k.thread) {
        l.spans.push_back({s.phase, (s.start - start) * 1e6, (s.end - start) * 1e6});
      }
    }
    p.lanes.push_back(std::move(l));
  }
  return p;
}

size_t nearest_to(const std::vector<double>& seconds, double median) {
  size_t best = 0;
  for (size_t i = 1; i < seconds.size(); ++i) {
    if (std::fabs(seconds[i] - median) < std::fabs(seconds[best] - median)) {
      best = i;
    }
  }
  return best;
}

traced_product trace_nearest_median(const std::string& name, double median_s, int32_t most,
                                    double budget, const std::function<void()>& call,
                                    const std::function<void()>& after) {
  namespace trace = dense_detail::trace;
  std::vector<traced_product> calls;
  std::vector<double> seconds;
  double spent = 0.0;
  while (static_cast<int32_t>(calls.size()) < std::max(most, 1) &&
         (calls.empty() || spent < budget)) {
    trace::start();
    const double start = trace::now();
    call();
    const double end = trace::now();
    const auto spans = trace::stop();
    after();
    calls.push_back(make_lanes(name, start, end, trace::this_thread(), spans));
    seconds.push_back(end - start);
    spent += end - start;
  }
  traced_product chosen = std::move(calls[nearest_to(seconds, median_s)]);
  chosen.traced = static_cast<int32_t>(calls.size());
  chosen.median_us = median_s * 1e6;
  return chosen;
}

std::string chrome_trace_json(const std::vector<traced_product>& products) {
  std::string out = "{\"displayTimeUnit\":\"ms\",\"traceEvents\":[";
  bool first = true;
  auto event = [&](const std::string& text) {
    out += (first ? "\n" : ",\n") + text;
    first = false;
  };
  auto metadata = [&](const char* what, int pid, int tid, const std::string& key,
                      const std::string& value) {
    event("{\"name\":\"" + std::string(what) + "\",\"ph\":\"M\",\"pid\":" + std::to_string(pid) +
          ",\"tid\":" + std::to_string(tid) + ",\"args\":{\"" + key + "\":" + value + "}}");
  };
  auto complete = [&](const std::string& name, int pid, int tid, double start, double end) {
    event("{\"name\":\"" + json_text(name) + "\",\"ph\":\"X\",\"pid\":" + std::to_string(pid) +
          ",\"tid\":" + std::to_string(tid) + ",\"ts\":" + format_number("%.3f", start) +
          ",\"dur\":" + format_number("%.3f", end - start) + "}");
  };
  for (size_t p = 0; p < products.size(); ++p) {
    const traced_product& tp = products[p];
    const int pid = static_cast<int>(p) + 1;
    metadata("process_name", pid, 0, "name", json_string(tp.name));
    metadata("process_sort_index", pid, 0, "sort_index", std::to_string(pid));
    metadata("thread_name", pid, 0, "name", "\"product\"");
    complete("product", pid, 0, 0.0, tp.total_us);
    for (size_t l = 0; l < tp.lanes.size(); ++l) {
      const int tid = static_cast<int>(l) + 1;
      metadata("thread_name", pid, tid, "name", json_string(tp.lanes[l].name));
      metadata("thread_sort_index", pid, tid, "sort_index", std::to_string(tid));
      for (const auto& s : tp.lanes[l].spans) {
        complete(s.phase, pid, tid, s.start_us, s.end_us);
      }
    }
  }
  return out + "\n]}\n";
}

namespace {

// The phases in the pictures, the kit's own first, and a colour for each.
struct phase_palette {
  std::vector<std::string> phases;
  std::vector<std::string> colours;
};

phase_palette palette_of(const std::vector<traced_product>& products) {
  phase_palette p;
  auto add = [&p](const auto& known) {
    for (const auto& k : known) {
      p.phases.emplace_back(k.phase);
      p.colours.emplace_back(k.colour);
    }
  };
  add(kKnownPhases);
  add(kMpiPhases);
  for (const auto& tp : products) {
    for (const auto& l : tp.lanes) {
      for (const auto& s : l.spans) {
        if (std::find(p.phases.begin(), p.phases.end(), s.phase) == p.phases.end()) {
          p.phases.push_back(s.phase);
          p.colours.emplace_back(kOtherColours[p.colours.size() % std::size(kOtherColours)]);
        }
      }
    }
  }
  return p;
}

// How a panel's call was chosen, for its title.
std::string chosen_text(const traced_product& tp) {
  if (tp.median_us <= 0.0) {
    return "";
  }
  if (tp.traced <= 1) {
    return format_number(" (median of the timed calls %.3f ms)", tp.median_us / 1000.0);
  }
  return " (of " + std::to_string(tp.traced) + " traced calls, the one nearest the median " +
         format_number("%.3f ms)", tp.median_us / 1000.0);
}

// One panel's frame: its title, a tic per lane (the calling thread on top),
// the time axis all panels share, the product's end marked, and room above
// the lanes (a share of the panel's height) for the panel's own legend.
std::string panel_frame(const traced_product& tp, double axis_ms) {
  const double total_ms = tp.total_us / 1000.0;
  const int lanes = static_cast<int>(tp.lanes.size());
  std::string tics;
  for (int l = 0; l < lanes; ++l) {
    tics += std::string(l == 0 ? "" : ", ") + gnuplot_quoted(tp.lanes[l].name) + " " +
            std::to_string(lanes - 1 - l);
  }
  const std::string end = format_number("%.6g", total_ms);
  // Inside the panel, above its lanes, in one row: the phases it shows.
  return "set key inside top left horizontal maxrows 1 reverse Left width -1 samplen 2 opaque "
         "box\nset title " +
         gnuplot_quoted(tp.name + format_number(": this call %.3f ms", total_ms) +
                        chosen_text(tp)) +
         "\nset ytics (" + tics +
         ")\nset yrange [-0.6:" + format_number("%.2f", lanes - 0.65 + 0.3 * (lanes + 1)) +
         "]\nset xrange [0:" + format_number("%.6g", axis_ms) + "]\nunset arrow\nset arrow from " +
         end + ", graph 0 to " + end + ", graph 1 nohead lw 2 dt 2 lc rgb \"#000000\"\n";
}

// The boxes of one phase in one panel, "x y xlow xhigh ylow yhigh" per
// span in milliseconds and lanes; empty when the panel has none.
std::string phase_boxes(const traced_product& tp, const std::string& phase) {
  const int lanes = static_cast<int>(tp.lanes.size());
  std::string data;
  for (int l = 0; l < lanes; ++l) {
    for (const auto& s : tp.lanes[l].spans) {
      if (s.phase == phase) {
        const double y = lanes - 1 - l;
        data += format_number("%.6g ", (s.start_us + s.end_us) / 2000.0) + format_number("%g ", y) +
                format_number("%.6g ", s.start_us / 1000.0) +
                format_number("%.6g ", s.end_us / 1000.0) + format_number("%g ", y - 0.35) +
                format_number("%g\n", y + 0.35);
      }
    }
  }
  return data;
}

// Panel `p`: its frame, a data block per phase it shows, and their plot
// (a legend entry only for the phases of this panel).
std::string panel_script(const traced_product& tp, size_t p, const phase_palette& palette,
                         double axis_ms) {
  std::string script = panel_frame(tp, axis_ms);
  std::string plot;
  for (size_t ph = 0; ph < palette.phases.size(); ++ph) {
    const std::string data = phase_boxes(tp, palette.phases[ph]);
    if (data.empty()) {
      continue;
    }
    // Appended piece by piece: g++ 12 warns (-Wrestrict, wrongly) about "p" + ... here.
    std::string block = "p";
    block += std::to_string(p);
    block += "_";
    block += std::to_string(ph);
    script += data_block(block, data);
    plot += std::string(plot.empty() ? "plot " : ", ") + "$" + block +
            " using 1:2:3:4:5:6 with boxxyerror lc rgb \"" + palette.colours[ph] + "\" title " +
            gnuplot_quoted(palette.phases[ph]);
  }
  if (plot.empty()) {
    // A product that recorded no phase (it ran no thread of its own).
    return script +
           "unset ytics\nunset key\nset yrange [-1:1]\nset label 1 \"no phase recorded: the "
           "product "
           "ran no traced phase on this call\" at graph 0.5, graph 0.5 center\nplot NaN notitle\n"
           "unset label 1\n";
  }
  return script + plot + "\n";
}

}  // namespace

double shared_axis_ms(const std::vector<traced_product>& products) {
  double longest = 0.0;
  for (const auto& tp : products) {
    longest = std::max(longest, tp.total_us / 1000.0);
  }
  return longest > 0.0 ? longest * 1.02 : 1e-3;
}

std::string timeline_script(const std::vector<traced_product>& products, const std::string& title) {
  const phase_palette palette = palette_of(products);
  const double axis_ms = shared_axis_ms(products);
  const int panels = static_cast<int>(products.size());
  std::string script = "set terminal pngcairo size 1200," + std::to_string(160 + 230 * panels) +
                       " noenhanced\n"
                       "set multiplot layout " +
                       std::to_string(panels) + ",1 title " + gnuplot_quoted_lines(title) +
                       "\n"
                       "set tmargin 3\n"
                       "set lmargin 18\n"
                       "set rmargin 6\n"
                       "set style fill solid 0.9 noborder\n"
                       "set grid xtics\n";
  for (size_t p = 0; p < products.size(); ++p) {
    // The time axis is named once, under the last panel.
    script += p + 1 < products.size() ? "unset xlabel\n"
                                      : "set xlabel \"milliseconds from the start of the call (one "
                                        "scale for every panel)\"\n";
    script += panel_script(products[p], p, palette, axis_ms);
  }
  return script + "unset multiplot\n";
}

}  // namespace tool_common
