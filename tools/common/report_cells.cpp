// The cells of a table of measured rows, and the notes under it.
#include "tools/common/report_cells.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tools/common/text.hpp"

namespace tool_common {
namespace {

std::string ratio(double x) { return compact(x) + "x"; }

std::string rounds_text(size_t n) {
  // Appended piece by piece: g++ 12 warns (-Wrestrict, wrongly) about a chain of + here.
  std::string text = "(";
  text += std::to_string(n);
  text += n == 1 ? " round)" : " rounds)";
  return text;
}

// How a paired speedup reads in the table.
enum class reading { none, self, too_few, measured, about_one, noise };

reading read_speedup(const summary& s, bool self, double noise_above) {
  if (self) {
    return reading::self;
  }
  if (s.count == 0) {
    return reading::none;
  }
  if (noise_above > 0.0 && s.median > noise_above) {
    return reading::noise;
  }
  if (!s.has_interval()) {
    return reading::too_few;
  }
  return s.range.contains(1.0) ? reading::about_one : reading::measured;
}

size_t display_width(const std::string& s) {
  return static_cast<size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string padded(const std::string& s, size_t width, bool right) {
  const std::string fill(width > display_width(s) ? width - display_width(s) : 0, ' ');
  return right ? fill + s : s + fill;
}

}  // namespace

bool wider_than_noise(double median, const interval& range) {
  return range.low < (1.0 - kNoiseBound) * median || range.high > (1.0 + kNoiseBound) * median;
}

bool noisy(const measured_row& r) {
  return r.ran() && r.median_s > 0.0 && r.seconds.size() >= kFewestForInterval &&
         wider_than_noise(r.median_s, r.seconds_range);
}

std::string compact(double value) {
  // The number of decimals follows the value as rounded, so 0.99999 is "1.00", not "1.000".
  const double x = std::strtod(format_number("%.3g", value).c_str(), nullptr);
  if (x >= 100.0) {
    return format_number("%.0f", x);
  }
  if (x >= 10.0) {
    return format_number("%.1f", x);
  }
  if (x >= 1.0) {
    return format_number("%.2f", x);
  }
  if (x >= 0.01) {
    return format_number("%.3f", x);
  }
  return format_number("%.2g", x);
}

std::string range_text(const interval& r) {
  // Appended piece by piece: g++ 12 warns (-Wrestrict, wrongly) about a chain of + here.
  std::string text = "(";
  text += compact(r.low);
  text += kDash;
  text += compact(r.high);
  text += ")";
  return text;
}

std::string rate_cell(const measured_row& r, marks* used) {
  // A product faster than the clock's microsecond shows 0 seconds and no rate.
  if (r.gops <= 0.0) {
    return "-";
  }
  if (r.seconds.size() < kFewestForInterval) {
    used->too_few = true;
    return compact(r.gops) + " " + rounds_text(r.seconds.size());
  }
  if (!std::isfinite(r.gops_range.high)) {
    return compact(r.gops) + " (a call read 0 s)";
  }
  const bool wide = noisy(r);
  used->noisy = used->noisy || wide;
  return compact(r.gops) + " " + range_text(r.gops_range) + (wide ? kNoisyMark : "");
}

std::string speedup_cell(const summary& s, bool self, double noise_above, marks* used) {
  const bool wide = wider_than_noise(s.median, s.range);
  switch (read_speedup(s, self, noise_above)) {
    case reading::none:
      return "-";
    case reading::self:
      return "1.00x";
    case reading::noise:
      used->noise = true;
      return std::string(kNoiseWord) + " (" + ratio(s.median) + ")";
    case reading::too_few:
      used->too_few = true;
      return ratio(s.median) + " " + rounds_text(s.count);
    case reading::about_one:
      used->about_one = true;
      used->noisy = used->noisy || wide;
      return std::string(kAbout) + "1x " + range_text(s.range) + (wide ? kNoisyMark : "");
    case reading::measured:
      break;
  }
  used->noisy = used->noisy || wide;
  return ratio(s.median) + " " + range_text(s.range) + (wide ? kNoisyMark : "");
}

std::string mark_notes(const marks& used, const char* unit) {
  std::string out;
  if (used.noisy) {
    out += std::string(kNoisyMark) +
           " noisy: the 95% interval of the median (of a row's times, or of a speedup's ratios) "
           "is wider than +-10% of it; the machine's noise moved it (more rounds, --time, or a "
           "quieter machine steady it).\n";
  }
  if (used.about_one) {
    out += std::string(kAbout) +
           "1x: the interval of the ratio holds 1.0, so the difference is not measurable in this "
           "run.\n";
  }
  if (used.noise) {
    out += std::string(kNoiseWord) + ": a speedup over one " + unit + " above the " + unit +
           " count is the machine's noise, not a result.\n";
  }
  if (used.too_few) {
    out += "(N rounds): too few rounds for a 95% interval of the median, which needs " +
           std::to_string(kFewestForInterval) +
           "; the figure is the median of those rounds, with no interval.\n";
  }
  return out;
}

std::string load_line(const machine_load& load) {
  if (load.known) {
    return format_number("machine: other programs used %.0f%%", load.others_percent) +
           " of its CPU time during the timed rounds; the hypervisor took " +
           format_number("%.0f%%", load.steal_percent) + " (steal).\n";
  }
  return "machine: the rounds were too short to tell how busy it was.\n";
}

std::string notes(const marks& used, const machine_load& load, const char* unit) {
  return mark_notes(used, unit) + load_line(load);
}

std::string aligned_table(const std::vector<std::vector<std::string>>& cells,
                          const std::vector<bool>& right, size_t first) {
  std::vector<size_t> widths(right.size(), 0);
  for (const auto& line : cells) {
    for (size_t c = 0; c < line.size(); ++c) {
      widths[c] = std::max(widths[c], display_width(line[c]));
    }
  }
  std::string out;
  for (const auto& line : cells) {
    std::string text;
    for (size_t c = first; c < line.size(); ++c) {
      text += c + 1 == line.size() ? line[c] : padded(line[c], widths[c], right[c]) + "  ";
    }
    out += text + "\n";
  }
  return out;
}

}  // namespace tool_common
