// The cells a table of measured rows is made of, and the notes under it: a rate or a speedup
// with its 95% interval, the marks that say when a figure cannot be trusted, and what the
// machine was doing meanwhile.
//
// Marks, defined once for every program's table and notes:
//   *      noisy: a 95% interval wider than +-10% of its median (a time's, or
//          a speedup's), so the machine's noise moved the figure;
//   ~1x    a speedup whose interval holds 1.0: not measurably different;
//   noise  a speedup over one thread (or rank) above the count: not a result;
//   (N rounds)  too few rounds for a 95% interval, so none is printed.
#pragma once

#include <string>
#include <vector>

#include "tools/common/machine.hpp"
#include "tools/common/measurement.hpp"
#include "tools/common/statistics.hpp"

namespace tool_common {

// U+2013 EN DASH between the ends of an interval, U+2248 ALMOST EQUAL TO
// for a ratio that cannot be told from 1.
inline constexpr char kDash[] = "\xe2\x80\x93";
inline constexpr char kAbout[] = "\xe2\x89\x88";
inline constexpr char kNoisyMark[] = "*";
inline constexpr char kNoiseWord[] = "noise";

// How far from its median an interval may reach before the figure is noisy.
inline constexpr double kNoiseBound = 0.10;

// Whether `range` reaches further than +-kNoiseBound of `median`.
bool wider_than_noise(double median, const interval& range);

// Whether a row's time has a 95% interval wider than the noise rule allows.
bool noisy(const measured_row& r);

// Three significant figures or so, without an exponent for the sizes a table meets.
std::string compact(double value);
// "(low–high)".
std::string range_text(const interval& r);

// Which marks a table used, gathered while its cells are made.
struct marks {
  bool noisy = false;
  bool about_one = false;
  bool noise = false;
  bool too_few = false;
};

// The rate of a row (GOP/s) and its interval: "-" with no rate, "(N rounds)"
// with too few for an interval, "(a call read 0 s)" when a call was faster
// than the clock, a noisy interval marked.
std::string rate_cell(const measured_row& r, marks* used);

// A speedup taken in pairs within rounds: "-" without one, "1.00x" for the
// row it is measured against (`self`), "noise (x)" above `noise_above` (0:
// never), "~1x (interval)" when the interval holds 1.0, else "x (interval)";
// a noisy interval is marked like a noisy rate.
std::string speedup_cell(const summary& s, bool self, double noise_above, marks* used);

// The lines that explain the marks used; the noise line speaks of one
// `unit` ("thread", "rank").
std::string mark_notes(const marks& used, const char* unit);

// "machine: other programs used N% of its CPU time during the timed rounds; ...".
std::string load_line(const machine_load& load);

// mark_notes, then load_line.
std::string notes(const marks& used, const machine_load& load, const char* unit);

// Columns as many terminal cells wide as they have characters (not bytes),
// two spaces apart; each column right-aligned where `right` says; columns
// before `first` left out; the last column not padded.
std::string aligned_table(const std::vector<std::vector<std::string>>& cells,
                          const std::vector<bool>& right, size_t first);

}  // namespace tool_common
