// The one command-line reader of the kit's programs: numbers, lists, the option runner.
#include "tools/common/cli.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

#include "tools/common/text.hpp"

namespace tool_common {

bool parse_whole(const std::string& text, int64_t lo, int64_t hi, int64_t* out) {
  if (text.empty()) {
    return false;
  }
  // Once the value passes `hi` it can only grow, so it stops there: no
  // number of digits overflows.
  int64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') {
      return false;
    }
    if (value <= hi) {
      value = value * 10 + (ch - '0');
    }
  }
  if (value < lo || value > hi) {
    return false;
  }
  *out = value;
  return true;
}

std::vector<std::string> split(const std::string& text, char delim) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(delim, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) {
      return parts;
    }
    start = at + 1;
  }
}

std::string read_whole(const std::string& option, const std::string& text, int64_t lo, int64_t hi,
                       int64_t* out) {
  if (!parse_whole(text, lo, hi, out)) {
    return option + ": expected a whole number from " + std::to_string(lo) + " to " +
           std::to_string(hi) + ", got '" + text + "'";
  }
  return {};
}

std::string read_count(const std::string& option, const std::string& text, int64_t lo, int64_t hi,
                       int32_t* out) {
  int64_t value = 0;
  std::string why = read_whole(option, text, lo, hi, &value);
  if (why.empty()) {
    *out = static_cast<int32_t>(value);
  }
  return why;
}

std::string read_seconds(const std::string& option, const std::string& text, double lo, double hi,
                         double* out) {
  // Digits and at most one point, nothing else: strtod alone would also take
  // signs, spaces, exponents, "inf" and hexadecimal.
  const bool plain = !text.empty() && text != "." &&
                     text.find_first_not_of("0123456789.") == std::string::npos &&
                     std::count(text.begin(), text.end(), '.') <= 1;
  const double value = plain ? std::strtod(text.c_str(), nullptr) : -1.0;
  if (!plain || value < lo || value > hi) {
    return option + ": expected seconds from " + format_number("%g", lo) + " to " +
           format_number("%g", hi) + ", got '" + text + "'";
  }
  *out = value;
  return {};
}

std::string read_count_list(const std::string& option, const std::string& what,
                            const std::string& text, int64_t hi, std::vector<int32_t>* out) {
  std::vector<int32_t> counts;
  bool ok = true;
  for (const auto& part : split(text, ',')) {
    int64_t n = 0;
    ok = ok && parse_whole(part, 1, hi, &n);
    counts.push_back(static_cast<int32_t>(n));
  }
  if (!ok) {
    return option + ": expected " + what + " from 1 to " + std::to_string(hi) +
           " separated by commas, got '" + text + "'";
  }
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  *out = counts;
  return {};
}

std::string read_shape(const std::string& option, const std::string& text, int32_t dims[3]) {
  const auto parts = split(text, 'x');
  int64_t values[3] = {0, 0, 0};
  bool ok = parts.size() == 3;
  for (size_t d = 0; ok && d < 3; ++d) {
    ok = parse_whole(parts[d], 1, kMaxDimension, &values[d]);
  }
  if (!ok) {
    return option + ": expected MxKxN, three whole numbers from 1 to " +
           std::to_string(kMaxDimension) + ", got '" + text + "'";
  }
  for (size_t d = 0; d < 3; ++d) {
    dims[d] = static_cast<int32_t>(values[d]);
  }
  return {};
}

namespace {

// "--methods: unknown method 'x' (known: a, b, all)".
std::string unknown_name(const std::string& option, const std::string& what,
                         const std::string& name, const std::vector<std::string>& known) {
  std::string list;
  for (const auto& k : known) {
    list += k;
    list += ", ";
  }
  return option + ": unknown " + what + " '" + name + "' (known: " + list + "all)";
}

}  // namespace

std::string read_names(const std::string& option, const std::string& what, const std::string& text,
                       const std::vector<std::string>& known, std::vector<bool>* chosen) {
  std::vector<bool> named(known.size(), false);
  for (const auto& part : split(text, ',')) {
    if (part == "all") {
      named.assign(known.size(), true);
      continue;
    }
    const auto at = std::find(known.begin(), known.end(), part);
    if (at == known.end()) {
      return unknown_name(option, what, part, known);
    }
    named[static_cast<size_t>(at - known.begin())] = true;
  }
  *chosen = named;
  return {};
}

std::string read_path(const std::string& option, const std::string& text, std::string* out) {
  if (text.empty()) {
    return option + ": the file name is empty";
  }
  *out = text;
  return {};
}

std::vector<int32_t> doubling_counts(int32_t top) {
  std::vector<int32_t> counts{1};
  for (int32_t t = 2; t < top; t *= 2) {
    counts.push_back(t);
  }
  if (top > 1) {
    counts.push_back(top);
  }
  return counts;
}

void shape_choice::fixed_by(const std::string& name) {
  if (std::find(shape_given.begin(), shape_given.end(), name) == shape_given.end()) {
    shape_given.push_back(name);
  }
  shape_option = name;
}

std::string shape_choice::shape_conflict() const {
  if (shape_given.size() > 1) {
    return shape_given[0] + " and " + shape_given[1] + " both fix the shape; drop one";
  }
  return {};
}

std::string read_options(int argc, const char* const* argv, const std::vector<option>& table) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] == std::string("-h") ? "--help" : argv[i];
    if (arg.rfind("--", 0) != 0) {
      if (arg.size() > 1 && arg[0] == '-') {
        return "unknown option '" + arg + "' (see --help)";
      }
      return "unexpected argument '" + arg + "' (see --help)";
    }
    const size_t eq = arg.find('=');
    const bool inline_value = eq != std::string::npos;
    const std::string name = arg.substr(0, eq);
    const auto entry =
        std::find_if(table.begin(), table.end(), [&](const option& o) { return name == o.name; });
    if (entry == table.end()) {
      return "unknown option '" + name + "' (see --help)";
    }
    std::string missing = entry->missing.empty() ? name + ": missing value" : entry->missing;
    std::vector<std::string> values;
    if (entry->values == 0) {
      if (inline_value) {
        return name + ": takes no value";
      }
    } else if (entry->values == 1 && inline_value) {
      values.push_back(arg.substr(eq + 1));
    } else {
      if (inline_value || i + entry->values >= argc) {
        return missing;
      }
      for (int v = 0; v < entry->values; ++v) {
        values.emplace_back(argv[++i]);
      }
    }
    std::string why = entry->apply(values);
    if (!why.empty()) {
      return why;
    }
  }
  return {};
}

std::string options_help(const std::vector<option>& table) {
  constexpr size_t kColumn = 22;  // where the help starts, counted from 0
  const std::string indent(kColumn, ' ');
  std::string text;
  for (const option& o : table) {
    std::string line = "  " + std::string(o.name);
    if (!o.value_name.empty()) {
      line += " " + o.value_name;
    }
    line += line.size() < kColumn ? std::string(kColumn - line.size(), ' ') : "\n" + indent;
    for (const auto& part : split(o.help, '\n')) {
      text += line + part + "\n";
      line = indent;
    }
  }
  return text;
}

option flag_entry(const char* name, bool* out, std::string help) {
  return {name,
          0,
          [out](const std::vector<std::string>&) {
            *out = true;
            return std::string();
          },
          {},
          {},
          std::move(help)};
}

std::vector<option> program_flag_entries(program_flags* flags) {
  return {
      flag_entry("--dry-run", &flags->dry_run,
                 "check every option and output path as a run would, then exit 0 without\n"
                 "measuring or writing anything (a refusal is the run's, with status 2)"),
      flag_entry("--version", &flags->version, "print the version and exit"),
      flag_entry("--help", &flags->help, "show this text"),
  };
}

option size_entry(shape_choice* shape) {
  return {"--size", 1, [shape](const std::vector<std::string>& v) {
            int32_t n = 0;
            std::string why = read_count("--size", v[0], 1, kMaxDimension, &n);
            if (why.empty()) {
              shape->rows = shape->inner = shape->cols = n;
              shape->fixed_by("--size");
            }
            return why;
          }};
}

option shape_entry(shape_choice* shape) {
  return {"--shape", 1, [shape](const std::vector<std::string>& v) {
            int32_t dims[3] = {0, 0, 0};
            std::string why = read_shape("--shape", v[0], dims);
            if (why.empty()) {
              shape->rows = dims[0];
              shape->inner = dims[1];
              shape->cols = dims[2];
              shape->fixed_by("--shape");
            }
            return why;
          }};
}

option threads_entry(std::vector<int32_t>* out, int32_t max) {
  return {"--threads", 1, [out, max](const std::vector<std::string>& v) {
            return read_count_list("--threads", "thread counts", v[0], max, out);
          }};
}

option repeat_entry(int32_t* out, int32_t max) {
  return {"--repeat", 1, [out, max](const std::vector<std::string>& v) {
            return read_count("--repeat", v[0], 1, max, out);
          }};
}

option seed_entry(uint32_t* out, bool* given) {
  return {"--seed", 1, [out, given](const std::vector<std::string>& v) {
            int64_t seed = 0;
            std::string why =
                read_whole("--seed", v[0], 0, std::numeric_limits<uint32_t>::max(), &seed);
            if (why.empty()) {
              *out = static_cast<uint32_t>(seed);
              *given = true;
            }
            return why;
          }};
}

option limit_entry(int32_t* out, bool* given) {
  return {"--limit", 1, [out, given](const std::vector<std::string>& v) {
            std::string why = read_count("--limit", v[0], 1, kMaxDimension, out);
            if (why.empty()) {
              *given = true;
            }
            return why;
          }};
}

option path_entry(const char* name, std::string* out) {
  return {name, 1,
          [name, out](const std::vector<std::string>& v) { return read_path(name, v[0], out); }};
}

}  // namespace tool_common
