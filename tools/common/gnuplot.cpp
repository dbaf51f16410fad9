// gnuplot found, fed and run; the text and the panels of the kit's pictures.
#include "tools/common/gnuplot.hpp"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "tools/common/text.hpp"

extern char** environ;

namespace tool_common {

std::string gnuplot_quoted(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
    }
    // A line break would end the command the string is in.
    out += ch == '\n' || ch == '\r' ? ' ' : ch;
  }
  return out + "\"";
}

std::string gnuplot_quoted_lines(const std::string& text) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    out += gnuplot_quoted(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) {
      return out;
    }
    out += " . \"\\n\" . ";
    start = end + 1;
  }
}

std::string find_on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = dirs.find(':', start);
    const size_t length = (end == std::string::npos ? dirs.size() : end) - start;
    // An empty entry means the current directory.
    std::string candidate = length == 0 ? std::string(".") : dirs.substr(start, length);
    candidate.append("/").append(program);
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (end == std::string::npos) {
      return {};
    }
    start = end + 1;
  }
}

bool run_gnuplot(const std::string& gnuplot, const std::string& script, std::string* png) {
  FILE* in = std::tmpfile();
  FILE* out = std::tmpfile();
  if (in == nullptr || out == nullptr) {
    for (FILE* f : {in, out}) {
      if (f != nullptr) {
        std::fclose(f);
      }
    }
    return false;
  }
  std::fwrite(script.data(), 1, script.size(), in);
  std::fflush(in);
  std::rewind(in);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fileno(in), 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
  char arg0[] = "gnuplot";
  char* argv[] = {arg0, nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, gnuplot.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  std::fclose(in);
  int status = 0;
  bool ran = rc == 0;
  while (ran && waitpid(pid, &status, 0) < 0) {
    ran = errno == EINTR;
  }
  ran = ran && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  png->clear();
  std::rewind(out);
  char buf[65536];
  for (size_t got; ran && (got = std::fread(buf, 1, sizeof buf, out)) > 0;) {
    png->append(buf, got);
  }
  std::fclose(out);
  return ran;
}

std::string data_block(const std::string& name, const std::string& lines) {
  return "$" + name + " << EOD\n" + lines + "EOD\n";
}

std::string distinct_colour(size_t i) {
  // Blue, vermilion, green, purple, orange, black, pink, teal, brown, olive.
  constexpr const char* kColours[] = {"#1f5fb4", "#d62728", "#2a9d2a", "#8e44ad", "#ff8c00",
                                      "#000000", "#e377c2", "#0f8f8f", "#8c564b", "#9a9a00"};
  return kColours[i % std::size(kColours)];
}

std::string bar_chart_script(const bar_chart& chart) {
  std::string data;
  for (size_t g = 0; g < chart.groups.size(); ++g) {
    data += gnuplot_quoted(chart.groups[g]);
    for (size_t c = 0; c < chart.columns.size(); ++c) {
      const double v = chart.values[g][c];
      data += v > 0.0 ? format_number(" %.6g", v) : std::string(" -");
    }
    data += "\n";
  }
  std::string plot = "plot ";
  for (size_t c = 0; c < chart.columns.size(); ++c) {
    plot += (c == 0 ? "$bars using 2:xtic(1)" : ", $bars using " + std::to_string(c + 2)) +
            " lc rgb \"" + distinct_colour(c) + "\" title " + gnuplot_quoted(chart.columns[c]);
  }
  return data_block("bars", data) + "set terminal pngcairo size 1100,650 noenhanced\nset title " +
         gnuplot_quoted_lines(chart.title) + "\nset ylabel " + gnuplot_quoted(chart.ylabel) +
         "\nset yrange [0:*]\nset grid ytics\nset style data histograms\n"
         "set style histogram clustered gap 1\nset style fill solid 0.85 border -1\n"
         "set datafile missing \"-\"\nset xtics rotate by -30\nset key top left\n" +
         (chart.columns.empty() ? std::string("plot NaN notitle") : plot) + "\n";
}

bool machine_was_busy(const machine_load& load) {
  return load.known &&
         (load.others_percent > kBusyOthersPercent || load.steal_percent > kBusyStealPercent);
}

std::string picture_title(const std::string& what, const std::string& machine,
                          const machine_load& load) {
  // Only the title's own line breaks: text from outside stays on its line.
  std::string title = what + "\n" + machine;
  std::replace(title.begin() + static_cast<std::ptrdiff_t>(what.size()) + 1, title.end(), '\n',
               ' ');
  std::replace(title.begin(), title.begin() + static_cast<std::ptrdiff_t>(what.size()), '\n', ' ');
  if (machine_was_busy(load)) {
    title +=
        format_number("\nBUSY MACHINE: other programs used %.0f%% of its CPU time",
                      load.others_percent) +
        format_number(" and the hypervisor %.0f%% while this was measured", load.steal_percent);
  } else if (!load.known) {
    // A busy machine cannot be ruled out: an odd figure may be its doing.
    title += "\nhow busy the machine was is unknown: the rounds were too short to tell";
  }
  return title;
}

std::vector<double> spread_labels(const std::vector<double>& ys, double gap) {
  std::vector<size_t> order(ys.size());
  for (size_t i = 0; i < order.size(); ++i) {
    order[i] = i;
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return ys[a] < ys[b]; });
  // Clusters of labels that would touch, each centred on its labels' own
  // heights; a cluster that then touches the one below merges with it.
  struct cluster {
    size_t first;  // into order
    double count;
    double sum;  // of the labels' own heights
  };
  auto bottom = [gap](const cluster& c) { return c.sum / c.count - (c.count - 1) * gap / 2; };
  std::vector<cluster> clusters;
  for (size_t k = 0; k < order.size(); ++k) {
    clusters.push_back({k, 1, ys[order[k]]});
    while (clusters.size() > 1) {
      cluster& below = clusters[clusters.size() - 2];
      const cluster& top = clusters.back();
      if (bottom(below) + below.count * gap <= bottom(top)) {
        break;
      }
      below.count += top.count;
      below.sum += top.sum;
      clusters.pop_back();
    }
  }
  std::vector<double> placed(ys.size());
  for (const auto& c : clusters) {
    for (size_t k = 0; k < static_cast<size_t>(c.count); ++k) {
      placed[order[c.first + k]] = bottom(c) + static_cast<double>(k) * gap;
    }
  }
  return placed;
}

namespace {

// "x y low high noisy" per point.
std::string points_text(const plot_line& line) {
  std::string text;
  for (const auto& p : line.points) {
    text += format_number("%.9g", p.x) + format_number(" %.6g", p.y) +
            format_number(" %.6g", p.low) + format_number(" %.6g", p.high) +
            (p.noisy ? " 1\n" : " 0\n");
  }
  return text;
}

// The panel's y axis on its own scale (log2 or linear): around every
// interval, to whole powers of 2 on a log axis, with room at the top for
// the key's row.
std::pair<double, double> axis_of(const line_panel& panel) {
  if (!panel.log_y) {
    return {0.0, panel.y_top};
  }
  double low = INFINITY;
  double high = -INFINITY;
  for (const auto& l : panel.lines) {
    for (const auto& p : l.points) {
      low = std::min(low, std::log2(std::max(p.low, 1e-300)));
      high = std::max(high, std::log2(std::max(p.high, 1e-300)));
    }
  }
  return {std::floor(low), std::ceil(high) + 1.0};
}

// Each line's label at its last point, the labels pushed apart by a 16th of
// the axis, so that lines ending close together keep readable labels.
std::string labels_of(const line_panel& panel, std::pair<double, double> axis) {
  std::vector<const plot_line*> labelled;  // the lines with a last point
  std::vector<double> ys;
  for (const auto& l : panel.lines) {
    if (!l.points.empty()) {
      labelled.push_back(&l);
      const double y = l.points.back().y;
      ys.push_back(panel.log_y ? std::log2(std::max(y, 1e-300)) : y);
    }
  }
  const std::vector<double> placed =
      spread_labels(ys, std::max(axis.second - axis.first, 1e-9) / 16.0);
  std::string text;
  for (size_t i = 0; i < labelled.size(); ++i) {
    const plot_line& l = *labelled[i];
    const double y = panel.log_y ? std::exp2(placed[i]) : placed[i];
    text += "set label " + gnuplot_quoted(l.label) +
            format_number(" at first %.9g", l.points.back().x) +
            format_number(", first %.6g offset character 1.2,0 left tc rgb ", y) + "\"" + l.colour +
            "\"\n";
  }
  return text;
}

// The plot clauses of one line from its data block: the line through its
// points, the results with their intervals in its colour, the noise hollow
// and grey.
std::string line_clauses(const std::string& block, const plot_line& l) {
  const std::string colour = "lc rgb \"" + l.colour + "\"";
  return block + " using 1:2 with lines lw 2 dt " + (l.dashed ? "2 " : "1 ") + colour +
         " notitle, " + block + " using 1:($5 == 0 ? $2 : NaN):3:4 with yerrorbars pt 7 ps 0.8 " +
         colour + " notitle, " + block +
         " using 1:($5 != 0 ? $2 : NaN):3:4 with yerrorbars pt 6 ps 1.4 lw 1.5 lc rgb \"" +
         kNoiseGrey + "\" notitle, ";
}

}  // namespace

std::string line_panel_script(const line_panel& panel, const std::string& prefix) {
  const bool has_points = std::any_of(panel.lines.begin(), panel.lines.end(),
                                      [](const plot_line& l) { return !l.points.empty(); });
  const auto axis = has_points ? axis_of(panel) : std::make_pair(0.0, 1.0);
  std::string range = "set yrange [0:*]\n";
  if (panel.log_y) {
    range = format_number("set yrange [%.9g:", std::exp2(axis.first)) +
            format_number("%.9g]\n", std::exp2(axis.second));
  } else if (panel.y_top > 0.0) {
    range = format_number("set yrange [0:%.9g]\n", panel.y_top);
  }
  std::string script = "unset label\nunset arrow\nset title " + gnuplot_quoted(panel.title) +
                       "\nset ylabel " + gnuplot_quoted(panel.ylabel) + "\n" +
                       (panel.log_y ? "set logscale y 2\n" : "unset logscale y\n") + range;
  std::string plot = "plot ";
  for (const auto& g : panel.guides) {
    plot += format_number("%g with lines lw 2 dt 4 lc rgb \"#404040\" notitle, ", g.y);
    script += "set label " + gnuplot_quoted(g.label) +
              format_number(" at graph 0.01, first %g", g.y) +
              " offset 0,0.7 left tc rgb \"#404040\"\n";
  }
  bool any_noisy = false;
  for (size_t i = 0; i < panel.lines.size(); ++i) {
    const plot_line& l = panel.lines[i];
    const std::string block = prefix + std::to_string(i);
    script += data_block(block, points_text(l));
    plot += line_clauses("$" + block, l);
    any_noisy = any_noisy || std::any_of(l.points.begin(), l.points.end(),
                                         [](const plot_point& p) { return p.noisy; });
  }
  auto key = panel.key;
  if (any_noisy) {
    key.emplace_back(std::string("with points pt 6 ps 1.4 lw 1.5 lc rgb \"") + kNoiseGrey + "\"",
                     "hollow grey: noise, * or (N rounds) in the table");
  }
  for (const auto& [style, title] : key) {
    plot += "NaN " + style + " title " + gnuplot_quoted(title) + ", ";
  }
  if (plot == "plot ") {
    plot += "NaN notitle, ";
  }
  plot.resize(plot.size() - 2);
  return script + labels_of(panel, axis) + plot + "\n";
}

}  // namespace tool_common
