// compare_products run as a child process: refusals, the table, the CSV, saved and loaded factors,
// the plot.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/child.hpp"

extern char** environ;

namespace {

using test_support::run_program;

const std::string kProgram = COMPARE_PRODUCTS_PATH;

class CompareProducts : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "compare_products_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    const std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }

  std::string dir_;
};

std::string slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& file) {
  struct stat st {};
  return stat(file.c_str(), &st) == 0;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> fields_of(const std::string& line, char delim) {
  std::vector<std::string> fields;
  std::stringstream s(line);
  for (std::string f; std::getline(s, f, delim);) {
    fields.push_back(f);
  }
  if (!line.empty() && line.back() == delim) {
    fields.push_back("");
  }
  return fields;
}

// The table rows (after the header line of the table), keyed by their first
// column, each as its cells: columns are set apart by two spaces or more,
// and no cell holds two spaces in a row.
std::multimap<std::string, std::vector<std::string>> table_rows(const std::string& out) {
  std::multimap<std::string, std::vector<std::string>> rows;
  bool in_table = false;
  for (const auto& line : lines_of(out)) {
    // A sweep's table starts with a size column.
    const std::string trimmed = line.substr(std::min(line.size(), line.find_first_not_of(' ')));
    if (trimmed.rfind("method ", 0) == 0 || trimmed.rfind("size  method ", 0) == 0) {
      in_table = true;
      continue;
    }
    // The lines under the table have no run of two spaces.
    if (!in_table || line.find("  ") == std::string::npos) {
      continue;
    }
    std::vector<std::string> cells;
    size_t at = line.find_first_not_of(' ');
    while (at != std::string::npos) {
      const size_t end = line.find("  ", at);
      cells.push_back(line.substr(at, end == std::string::npos ? end : end - at));
      at = end == std::string::npos ? end : line.find_first_not_of(' ', end);
    }
    rows.emplace(cells.at(0), cells);
  }
  return rows;
}

// stderr without the warning that the machine was busy: a test cannot keep
// the machine quiet, and that warning changes nothing else.
std::string without_busy_warning(const std::string& err) {
  const std::string warning = "compare_products: the machine was busy: ";
  std::string kept = err;
  for (size_t at; (at = kept.find(warning)) != std::string::npos;) {
    const size_t end = kept.find('\n', at);
    kept.erase(at, end == std::string::npos ? end : end + 1 - at);
  }
  return kept;
}

// A matrix text file read by the test itself, and the product it expects.
using dense = std::vector<std::vector<int64_t>>;
dense parse_matrix(const std::string& text) {
  const auto lines = lines_of(text);
  EXPECT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.at(0), "#Linha#Coluna#");
  const auto size = fields_of(lines.at(1), '#');
  const size_t rows = std::stoul(size.at(0)), cols = std::stoul(size.at(1));
  EXPECT_EQ(lines.size(), rows + 2);
  dense m(rows);
  for (size_t i = 0; i < rows; ++i) {
    const auto values = fields_of(lines.at(i + 2), ',');
    EXPECT_EQ(values.size(), cols + 1);  // every value closed by a comma
    for (size_t j = 0; j < cols; ++j) {
      m[i].push_back(std::stoll(values.at(j)));
    }
  }
  return m;
}

TEST_F(CompareProducts, HelpDocumentsEveryOptionWithAnExample) {
  const auto r = run_program(kProgram, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("Usage: compare_products [OPTION]...\n", 0), 0u);
  for (const char* opt : {"--size N", "--shape MxKxN", "--threads LIST", "--methods LIST",
                          "--repeat R", "--limit L", "--csv FILE", "--plot FILE.png",
                          "--load A.txt B.txt", "--save DIR", "--quiet", "Example:"}) {
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
  }
  // Status 2 covers output paths refused before the run; 3 only a write that fails after it.
  EXPECT_NE(r.out.find("\n\nExit status: 0 all results identical, 1 a result failed its check "
                       "(the method is named\non stderr), 2 bad input or an output path that "
                       "cannot be created, refused before any\nwork, 3 an output file could not "
                       "be written after the run.\n"),
            std::string::npos)
      << r.out;

  const auto v = run_program(kProgram, {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, std::string("compare_products ") + DENSE_VERSION + "\n");
}

TEST_F(CompareProducts, RefusesBadOptionsWithOneLineAndStatusTwo) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--frob"}, "unknown option '--frob' (see --help)"},
      {{"--methods", "tipo1,fast"}, ""},  // checked by prefix below
      {{"--size", "0"}, "--size: expected a whole number from 1 to 2147483647, got '0'"},
      {{"--shape", "4x0x2"},
       "--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '4x0x2'"},
      {{"--threads", "0"},
       "--threads: expected thread counts from 1 to 256 separated by commas, got '0'"},
      {{"--repeat", "x"}, "--repeat: expected a whole number from 1 to 1000, got 'x'"},
  };
  for (const auto& [args, why] : cases) {
    const auto r = run_program(kProgram, args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    if (!why.empty()) {
      EXPECT_EQ(r.err, "compare_products: " + why + "\n");
    } else {
      EXPECT_EQ(r.err.rfind("compare_products: --methods: unknown method 'fast' (known: ", 0), 0u)
          << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
  }
}

TEST_F(CompareProducts, RefusesSizesBeyondTheMachinesMemoryBeforeAllocating) {
  // Three 2e9 x 2e9 matrices cannot fit anywhere; the refusal comes at once.
  auto r = run_program(kProgram, {"--size", "2000000000"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("compare_products: --size: A 2000000000x2000000000 times B "
                        "2000000000x2000000000 needs about ",
                        0),
            0u)
      << r.err;
  EXPECT_NE(r.err.find(" GiB of memory; this machine has "), std::string::npos) << r.err;

  r = run_program(kProgram, {"--shape", "3x2000000000x2000000000"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("compare_products: --shape: ", 0), 0u) << r.err;

  // A size that fits by itself, but not with one full-size part per band on 256 threads.
  unsigned long long kib = 0;
  std::ifstream meminfo("/proc/meminfo");
  for (std::string line; std::getline(meminfo, line);) {
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kib) == 1) {
      break;
    }
  }
  if (kib == 0) {
    GTEST_SKIP() << "no MemAvailable in /proc/meminfo";
  }
  const auto side = static_cast<long long>(std::sqrt(static_cast<double>(kib) * 1024.0 / 50 / 4));
  r = run_program(kProgram, {"--size", std::to_string(side), "--threads", "256", "--methods",
                             "cyclic-blocks", "--csv", path("never.csv")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("compare_products: --threads: A ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" with one band per thread needs about "), std::string::npos) << r.err;
  EXPECT_FALSE(exists(path("never.csv")));
}

TEST_F(CompareProducts, RefusesFilesThatAreNotMatricesOrDoNotMultiply) {
  write("a.txt", "#Linha#Coluna#\n2#3#\n1,2,3,\n4,5,6,\n");
  write("b.txt", "#Linha#Coluna#\n3#1#\n1,\n2,\n3,\n");
  write("short.txt", "#Linha#Coluna#\n3#1#\n1,\n2,\n");
  write("words.txt", "hello\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{path("a.txt"), path("a.txt")},
       path("a.txt") + " is 2x3 and " + path("a.txt") +
           " is 2x3; the columns of the first must equal the rows of the second"},
      {{path("a.txt"), path("short.txt")},
       path("short.txt") + ": not a matrix file (line 5: the file ends before row 3 of 3)"},
      {{path("words.txt"), path("b.txt")},
       path("words.txt") + ": not a matrix file (line 1: the header is not #Linha#Coluna#)"},
      {{path("a.txt"), path("missing.txt")}, path("missing.txt") + ": No such file or directory"},
      {{path("a.txt"), dir_}, dir_ + ": not a regular file"},
  };
  for (const auto& [files, why] : cases) {
    // Nothing is written for a refused run: the CSV is not even created.
    const auto r = run_program(kProgram, {"--load", files[0], files[1], "--csv", path("x.csv")});
    EXPECT_EQ(r.status, 2) << why;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "compare_products: --load: " + why + "\n");
    EXPECT_FALSE(exists(path("x.csv")));
  }
}

TEST_F(CompareProducts, RefusesOutputPlacesItCannotWrite) {
  write("plain", "x");
  auto r = run_program(kProgram, {"--size", "3", "--save", path("plain")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "compare_products: --save: cannot write into '" + path("plain") +
                       "': Not a directory\n");
  for (const std::string option : {"--csv", "--raw", "--trace", "--timeline"}) {
    r = run_program(kProgram, {"--size", "3", option, path("no/such/dir.out")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "compare_products: " + option + ": cannot write '" + path("no/such/dir.out") +
                         "': No such file or directory\n");
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(CompareProducts, SmallRunListsEveryMethodAsIdentical) {
  // Odd sizes, more threads than some bands and rows.
  const auto r = run_program(kProgram, {"--shape", "7x5x9", "--threads", "1,3", "--repeat", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(without_busy_warning(r.err), "");  // stderr is no terminal here: no progress line
  EXPECT_EQ(lines_of(r.out).at(0).rfind(
                "compare_products: A 7x5 times B 5x9, random values 1..100, median of 2 rounds "
                "(every row once a round, in an order shuffled from seed ",
                0),
            0u)
      << r.out;
  EXPECT_NE(lines_of(r.out).at(0).find("), checked against mmultiplicar tipo 1 (reference "),
            std::string::npos)
      << r.out;
  // None of the library's own messages reach the table.
  EXPECT_EQ(r.out.find("RESULTADO"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("ERRO"), std::string::npos) << r.out;

  const auto rows = table_rows(r.out);
  std::map<std::string, std::vector<std::string>> threads_of;
  for (const auto& [name, words] : rows) {
    threads_of[name].push_back(words.at(1));
    EXPECT_EQ(words.at(6), "identical") << name;
  }
  for (const char* seq : {"tipo0", "tipo1", "tipo2", "tipo3", "tipo4", "tipo5"}) {
    EXPECT_EQ(threads_of[seq], std::vector<std::string>{"1"}) << seq;
  }
  for (const char* par : {"cyclic", "cyclic-blocks", "ranges", "omp", "kernel"}) {
    EXPECT_EQ(threads_of[par], (std::vector<std::string>{"1", "3"})) << par;
  }
  EXPECT_EQ(threads_of["ranges-blocks"], std::vector<std::string>{"2"});
  EXPECT_EQ(rows.size(), 17u);
}

TEST_F(CompareProducts, CsvHasOneRowPerMethodAndThreadCount) {
  const auto r = run_program(kProgram, {"--shape", "64x3x64", "--threads", "1,4", "--methods",
                                        "tipo0,tipo5,cyclic-blocks,omp", "--repeat", "3", "--csv",
                                        path("run.csv"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");  // --quiet: files only
  const auto lines = lines_of(slurp(path("run.csv")));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0],
            "method,library_call,threads,rows,inner,cols,repetitions,median_seconds,gops,"
            "speedup_vs_tipo0,speedup_vs_one_thread,result,check_seconds,seed,min_seconds,"
            "max_seconds,median_low_seconds,median_high_seconds,rounds,speedup_vs_one_thread_low,"
            "speedup_vs_one_thread_high,others_cpu_percent,steal_percent");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"tipo0", "1"},         {"tipo5", "1"},
      {"cyclic-blocks", "1"}, {"cyclic-blocks", "4"},  // K = 3: no band for the fourth thread
      {"omp", "1"},           {"omp", "4"},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto f = fields_of(lines[i + 1], ',');
    ASSERT_EQ(f.size(), 23u) << lines[i + 1];
    EXPECT_EQ(f[0], expected[i].first);
    EXPECT_EQ(f[2], expected[i].second);
    EXPECT_EQ(f[3] + "x" + f[4] + "x" + f[5], "64x3x64");
    if (f[0] == "cyclic-blocks" && f[2] == "4") {
      EXPECT_EQ(f[6] + f[7] + f[8] + f[9] + f[10], "0");
      EXPECT_EQ(f[11], "skipped");
      continue;
    }
    EXPECT_EQ(f[6], "3");
    EXPECT_GT(std::stod(f[7]), 0.0) << lines[i + 1];
    EXPECT_GT(std::stod(f[8]), 0.0) << lines[i + 1];
    EXPECT_GT(std::stod(f[9]), 0.0) << lines[i + 1];
    // Speedup over one thread only where a method runs at each thread count.
    EXPECT_EQ(f[10].empty(), f[0] == "tipo0" || f[0] == "tipo5") << lines[i + 1];
    EXPECT_EQ(f[11], "identical");
  }
  EXPECT_EQ(fields_of(lines[1], ',')[9], "1.0000");  // tipo0 against itself
}

TEST_F(CompareProducts, SavedFactorsLoadBackToTheSameProduct) {
  auto r = run_program(kProgram, {"--shape", "4x6x3", "--limit", "1000", "--threads", "2",
                                  "--repeat", "1", "--save", path("first/run"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  const dense a = parse_matrix(slurp(path("first/run/A.txt")));
  const dense b = parse_matrix(slurp(path("first/run/B.txt")));
  const dense c = parse_matrix(slurp(path("first/run/C.txt")));
  ASSERT_EQ(a.size(), 4u);
  ASSERT_EQ(b.size(), 6u);
  ASSERT_EQ(c.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    for (size_t j = 0; j < 3; ++j) {
      int64_t sum = 0;
      for (size_t k = 0; k < 6; ++k) {
        EXPECT_GE(a[i][k], 1);
        EXPECT_LE(a[i][k], 1000);
        sum += a[i][k] * b[k][j];
      }
      EXPECT_EQ(c[i][j], sum) << i << "," << j;
    }
  }

  r = run_program(kProgram, {"--load", path("first/run/A.txt"), path("first/run/B.txt"),
                             "--threads", "1,2", "--repeat", "1", "--save", path("second")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("A 4x6 times B 6x3, factors from " + path("first/run/A.txt")),
            std::string::npos);
  for (const char* name : {"A.txt", "B.txt", "C.txt"}) {
    EXPECT_EQ(slurp(path("second/") + name), slurp(path("first/run/") + name)) << name;
  }
  for (const auto& [name, words] : table_rows(r.out)) {
    EXPECT_EQ(words.at(6), "identical") << name;
  }
}

TEST_F(CompareProducts, SquareFactorsDifferSoSwappedOperandsWouldShow) {
  // Both factors are filled in the same second from the same clock seed.
  const auto r = run_program(kProgram, {"--size", "6", "--threads", "1", "--repeat", "1",
                                        "--methods", "tipo1", "--save", path("sq"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  const dense a = parse_matrix(slurp(path("sq/A.txt")));
  const dense b = parse_matrix(slurp(path("sq/B.txt")));
  ASSERT_EQ(a.size(), 6u);
  ASSERT_EQ(b.size(), 6u);
  EXPECT_NE(a, b);
  // A x B and B x A differ too, so the check can tell them apart.
  dense ab(6, std::vector<int64_t>(6)), ba(6, std::vector<int64_t>(6));
  for (size_t i = 0; i < 6; ++i) {
    for (size_t j = 0; j < 6; ++j) {
      for (size_t k = 0; k < 6; ++k) {
        ab[i][j] += a[i][k] * b[k][j];
        ba[i][j] += b[i][k] * a[k][j];
      }
    }
  }
  EXPECT_EQ(parse_matrix(slurp(path("sq/C.txt"))), ab);
  EXPECT_NE(ab, ba);
}

TEST_F(CompareProducts, LoadsNegativeAndExtremeValues) {
  write("a.txt", "#Linha#Coluna#\n2#2#\n-2147483648,2147483647,\n0,-1,\n");
  write("b.txt", "#Linha#Coluna#\n2#1#\n3,\n-7,\n");
  const auto r = run_program(kProgram, {"--load", path("a.txt"), path("b.txt"), "--repeat", "1",
                                        "--threads", "1,2", "--save", path("out")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("RESULTADO"), std::string::npos);
  EXPECT_EQ(r.out.find("ERROR"), std::string::npos);  // the long numbers' warning stays out
  // Row 0: -2^31*3 + (2^31-1)*(-7), wrapped to 32 bits; row 1: 7.
  const uint32_t wrapped =
      static_cast<uint32_t>(0x80000000u) * 3u + 0x7fffffffu * static_cast<uint32_t>(-7);
  EXPECT_EQ(slurp(path("out/C.txt")),
            "#Linha#Coluna#\n2#1#\n" + std::to_string(static_cast<int32_t>(wrapped)) + ",\n7,\n");
}

TEST_F(CompareProducts, PlotsAPngWithGnuplot) {
  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "gnuplot is not installed (apt-get install gnuplot-nox)";
  }
  const auto r = run_program(
      kProgram, {"--size", "8", "--threads", "1,2", "--repeat", "1", "--plot", path("gops.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string png = slurp(path("gops.png"));
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_FALSE(table_rows(r.out).empty());
}

TEST_F(CompareProducts, WithoutGnuplotSaysSoAndStillPrintsTheTable) {
  mkdir(path("empty").c_str(), 0755);
  const auto r = run_program(kProgram,
                             {"--size", "5", "--threads", "1", "--repeat", "1", "--methods",
                              "tipo0,omp", "--plot", path("gops.png")},
                             {{"PATH", path("empty")}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_busy_warning(r.err),
            "compare_products: --plot: gnuplot is not installed (Debian: apt-get install "
            "gnuplot-nox); no picture written\n");
  EXPECT_EQ(table_rows(r.out).size(), 2u) << r.out;
  EXPECT_FALSE(exists(path("gops.png")));
}

TEST_F(CompareProducts, SkipsThePlotWhenNoRowHasARate) {
  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "gnuplot is not installed (apt-get install gnuplot-nox)";
  }
  // K = 1: the only method asked for is skipped, so there is nothing to draw.
  const auto r = run_program(
      kProgram, {"--shape", "4x1x4", "--methods", "ranges-blocks", "--plot", path("none.png")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(without_busy_warning(r.err),
            "compare_products: --plot: no row has a measured rate (every row skipped or faster "
            "than the clock); no picture written\n");
  EXPECT_FALSE(exists(path("none.png")));
}

// A run that is refused, or that draws no plot, leaves every file and folder it was pointed
// at as it found them; one that cannot write its table says so in its status.
TEST_F(CompareProducts, LeavesWhatItWasPointedAtAsItFoundIt) {
  const bool gnuplot = std::system("command -v gnuplot >/dev/null 2>&1") == 0;
  write("keep.csv", "method,threads\nold,1\n");
  write("keep.png", "a picture made earlier");
  struct {
    std::vector<std::string> args;
    int status;
    bool needs_gnuplot;
  } const cases[] = {
      // No row has a rate, so nothing is drawn over the existing picture.
      {{"--shape", "4x1x4", "--methods", "ranges-blocks", "--plot", path("keep.png")}, 0, true},
      // Refused after the CSV was claimed: the CSV keeps its bytes.
      {{"--size", "8", "--csv", path("keep.csv"), "--plot", "/proc/nope/x.png"}, 2, true},
      // Refused after the folder was made: the folder goes again.
      {{"--size", "8", "--save", path("new/dir"), "--csv", "/proc/nope.csv"}, 2, false},
  };
  for (const auto& c : cases) {
    if (c.needs_gnuplot && !gnuplot) {
      continue;
    }
    const auto r = run_program(kProgram, c.args);
    EXPECT_EQ(r.status, c.status) << c.args.back() << ": " << r.err;
    EXPECT_EQ(slurp(path("keep.csv")), "method,threads\nold,1\n") << c.args.back();
    EXPECT_EQ(slurp(path("keep.png")), "a picture made earlier") << c.args.back();
    EXPECT_FALSE(exists(path("new"))) << c.args.back();
  }

  // A table that cannot be written is a failed write (3), like a CSV that cannot be.
  const auto full =
      run_program("/bin/sh", {"-c", "exec \"$0\" --size 8 --methods tipo0 > /dev/full", kProgram});
  EXPECT_EQ(full.status, 3) << full.err;
  EXPECT_NE(full.err.find("compare_products: could not write the table: "), std::string::npos)
      << full.err;
}

// The files in `dir`, by name: what a run left there.
std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") {
        names.insert(e->d_name);
      }
    }
    closedir(d);
  }
  return names;
}

// A file the run replaces belongs to one output: the same file given twice,
// by its name or through a link, is refused before the work, and left as it was.
TEST_F(CompareProducts, RefusesOneFileForTwoOutputs) {
  const bool gnuplot = std::system("command -v gnuplot >/dev/null 2>&1") == 0;
  write("x", "old x");
  ASSERT_EQ(symlink("x", path("link").c_str()), 0);
  ASSERT_EQ(symlink("fresh", path("to-fresh").c_str()), 0);
  struct {
    std::vector<std::string> args;
    std::string why;
    bool needs_gnuplot;
  } const cases[] = {
      {{"--csv", path("x"), "--raw", path("x")},
       "--raw: '" + path("x") + "' is also the file of --csv",
       false},
      {{"--trace", path("x"), "--csv", path("x")},
       "--trace: '" + path("x") + "' is also the file of --csv",
       false},
      {{"--plot", path("p.png"), "--timeline", path("p.png")},
       "--timeline: '" + path("p.png") + "' is also the file of --plot",
       true},
      {{"--raw", path("x"), "--csv", path("link")},
       "--raw: '" + path("x") + "' is also the file of --csv",
       false},
      // A link to a file not made yet names that file too.
      {{"--csv", path("to-fresh"), "--trace", path("fresh")},
       "--trace: '" + path("fresh") + "' is also the file of --csv",
       false},
  };
  for (const auto& c : cases) {
    if (c.needs_gnuplot && !gnuplot) {
      continue;
    }
    std::vector<std::string> args = {"--size", "4", "--methods", "tipo1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = run_program(kProgram, args);
    EXPECT_EQ(r.status, 2) << c.why;
    EXPECT_EQ(r.err, "compare_products: " + c.why + "; give each output a file of its own\n");
    EXPECT_EQ(slurp(path("x")), "old x");
    EXPECT_EQ(files_in(dir_), (std::set<std::string>{"link", "to-fresh", "x"}));
  }
  // Different files are fine, through links too; a link is written through, never replaced.
  const auto r = run_program(kProgram, {"--size", "4", "--methods", "tipo1", "--repeat", "1",
                                        "--csv", path("to-fresh"), "--raw", path("link")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("fresh")).rfind("method,", 0), 0u);
  EXPECT_EQ(slurp(path("x")).rfind("round,", 0), 0u);
  char target[64] = {};
  EXPECT_GT(readlink(path("to-fresh").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "fresh");
}

// /dev/stdout and /dev/fd/N reach a descriptor the shell opened: the output
// is written there, after what it already holds, never over it.
TEST_F(CompareProducts, WritesThroughOpenDescriptorsWithoutTruncating) {
  write("runs.log", "an earlier run\n");
  write("fd5.log", "an earlier run\n");
  const std::string run = "exec \"$0\" --shape 3x4x2 --methods tipo1 --threads 1 --repeat 1 ";
  auto r =
      run_program("/bin/sh", {"-c", run + "--csv /dev/stdout >> " + path("runs.log"), kProgram});
  ASSERT_EQ(r.status, 0) << r.err;
  auto log = lines_of(slurp(path("runs.log")));
  ASSERT_EQ(log.size(), 3u) << slurp(path("runs.log"));
  EXPECT_EQ(log[0], "an earlier run");
  EXPECT_EQ(log[1].rfind("method,library_call,", 0), 0u);
  EXPECT_EQ(table_rows(r.err).size(), 1u) << "the table goes to stderr, as with --csv -";

  r = run_program("/bin/sh", {"-c", run + "--raw /dev/fd/5 5>> " + path("fd5.log"), kProgram});
  ASSERT_EQ(r.status, 0) << r.err;
  log = lines_of(slurp(path("fd5.log")));
  ASSERT_EQ(log.size(), 3u) << slurp(path("fd5.log"));
  EXPECT_EQ(log[0], "an earlier run");
  EXPECT_EQ(log[1].rfind("round,", 0), 0u);
  EXPECT_EQ(table_rows(r.out).size(), 1u);

  // A device takes the bytes as they come; one that fails them is a failed write.
  r = run_program(kProgram,
                  {"--size", "3", "--methods", "tipo1", "--repeat", "1", "--csv", "/dev/full"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(without_busy_warning(r.err), "compare_products: --csv: could not write '/dev/full'\n");
}

// A write that fails (here: the file size limit, as a full disk would) keeps
// every old file whole, and leaves no temporary file beside it.
TEST_F(CompareProducts, AFailedWriteKeepsTheOldFiles) {
  mkdir(path("saved").c_str(), 0755);
  const std::string old_a = "#Linha#Coluna#\n1#1#\n7,\n";
  write("saved/A.txt", old_a);
  write("saved/C.txt", old_a);
  const auto r = run_program(
      "/bin/sh", {"-c", "ulimit -f 4; exec \"$0\" \"$@\"", kProgram, "--size", "64", "--methods",
                  "tipo1", "--threads", "1", "--repeat", "1", "--save", path("saved")});
  EXPECT_EQ(r.status, 3) << r.err;
  for (const char* name : {"A.txt", "B.txt", "C.txt"}) {
    EXPECT_NE(
        r.err.find("compare_products: --save: could not write '" + path("saved/") + name + "'\n"),
        std::string::npos)
        << r.err;
  }
  EXPECT_EQ(slurp(path("saved/A.txt")), old_a);
  EXPECT_EQ(slurp(path("saved/C.txt")), old_a);
  EXPECT_EQ(files_in(path("saved")), (std::set<std::string>{"A.txt", "C.txt"}));
}

// --save's files are claimed with the others: one that cannot be written is
// refused before the work, and before A.txt and B.txt are touched.
TEST_F(CompareProducts, SaveFilesAreClaimedBeforeTheRun) {
  mkdir(path("saved").c_str(), 0755);
  mkdir(path("saved/C.txt").c_str(), 0755);
  write("saved/A.txt", "old A");
  const auto r = run_program(kProgram, {"--size", "4", "--save", path("saved")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "compare_products: --save: cannot write '" + path("saved/C.txt") +
                       "': Is a directory\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(slurp(path("saved/A.txt")), "old A");
  EXPECT_EQ(files_in(path("saved")), (std::set<std::string>{"A.txt", "C.txt"}));
}

// --dry-run checks as a run checks, refuses as it refuses, and does nothing else.
TEST_F(CompareProducts, DryRunChecksEverythingAndDoesNothing) {
  write("keep.csv", "old");
  auto r = run_program(kProgram, {"--dry-run", "--size", "3000", "--csv", path("new.csv"), "--raw",
                                  path("keep.csv"), "--save", path("new/dir")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(files_in(dir_), std::set<std::string>{"keep.csv"});
  EXPECT_EQ(slurp(path("keep.csv")), "old");
  const std::vector<std::vector<std::string>> refused = {
      {"--size", "0"},
      {"--size", "2000000000"},
      {"--csv", path("no/such/dir.csv")},
      {"--csv", path("keep.csv"), "--raw", path("keep.csv")},
      {"--load", path("keep.csv"), path("keep.csv")},
  };
  for (const auto& args : refused) {
    const auto plain = run_program(kProgram, args);
    std::vector<std::string> dry = args;
    dry.insert(dry.begin(), "--dry-run");
    r = run_program(kProgram, dry);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "");
    // The memory still available moves between the two runs (other tests run
    // beside this one), so the refusal's last figure is not compared.
    const auto steady = [](const std::string& err) {
      return std::regex_replace(err, std::regex("has [0-9.]+ GiB available"),
                                "has N GiB available");
    };
    EXPECT_EQ(steady(r.err), steady(plain.err));
    EXPECT_EQ(plain.status, 2);
  }
}

// The manual names every option --help lists.
TEST_F(CompareProducts, TheManualNamesEveryOptionOfHelp) {
  const std::string manual = slurp(COMPARE_PRODUCTS_MANUAL);
  ASSERT_FALSE(manual.empty());
  const auto help = run_program(kProgram, {"--help"});
  size_t options = 0;
  for (const auto& line : lines_of(help.out)) {
    if (line.rfind("  --", 0) != 0) {
      continue;
    }
    const std::string name = line.substr(2, line.find_first_of(" =", 2) - 2);
    EXPECT_NE(manual.find("`" + name), std::string::npos) << name << " is not in the manual";
    ++options;
  }
  EXPECT_GE(options, 20u);
}

// --raw holds every timed call, each row once in every round, in orders that differ; the CSV's
// speedup over one thread is the median of the ratios within each round, as --raw shows them.
TEST_F(CompareProducts, RawCallsGiveThePairedSpeedupsOfTheCsv) {
  const auto r =
      run_program(kProgram, {"--size", "40", "--threads", "1,2", "--methods", "omp,kernel",
                             "--repeat", "9", "--raw", path("raw.csv"), "--csv", path("rows.csv")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto raw = lines_of(slurp(path("raw.csv")));
  ASSERT_EQ(raw.size(), 1u + 9 * 4);
  EXPECT_EQ(raw[0], "round,position,method,threads,rows,inner,cols,seconds");
  std::map<int, std::vector<std::string>> order;            // round -> its rows in order
  std::map<std::string, std::map<int, double>> seconds_of;  // "method threads" -> round -> s
  for (size_t i = 1; i < raw.size(); ++i) {
    const auto f = fields_of(raw[i], ',');
    ASSERT_EQ(f.size(), 8u) << raw[i];
    const int round = std::stoi(f[0]);
    EXPECT_EQ(std::stoul(f[1]), order[round].size()) << raw[i];
    EXPECT_EQ(f[4] + f[5] + f[6], "404040");
    order[round].push_back(f[2] + " " + f[3]);
    seconds_of[f[2] + " " + f[3]][round] = std::stod(f[7]);
  }
  ASSERT_EQ(order.size(), 9u);
  std::set<std::vector<std::string>> orders;
  for (auto [round, rows] : order) {
    orders.insert(rows);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"kernel 1", "kernel 2", "omp 1", "omp 2"}));
  }
  EXPECT_GT(orders.size(), 1u);

  for (const auto& line : lines_of(slurp(path("rows.csv")))) {
    const auto f = fields_of(line, ',');
    if (f[0] == "method" || f[2] != "2") {
      continue;
    }
    std::vector<double> ratios;
    for (const auto& [round, s] : seconds_of[f[0] + " 2"]) {
      ratios.push_back(seconds_of[f[0] + " 1"][round] / s);
    }
    std::sort(ratios.begin(), ratios.end());
    // The CSV rounds to 4 decimals, --raw to the nanosecond.
    constexpr double kClose = 2e-4;
    EXPECT_NEAR(std::stod(f[10]), ratios[4], kClose) << line;  // the median of nine
    EXPECT_NEAR(std::stod(f[19]), ratios[1], kClose) << line;  // nine: the 2nd and 8th of them
    EXPECT_NEAR(std::stod(f[20]), ratios[7], kClose) << line;
    EXPECT_EQ(f[18], "9");
  }
}

// True when `text` from `at` on is one JSON value (RFC 8259's grammar, no more).
bool json_value(const std::string& text, size_t& at) {
  auto space = [&] {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) {
      ++at;
    }
  };
  auto string = [&] {
    if (text[at] != '"') {
      return false;
    }
    for (++at; at < text.size() && text[at] != '"'; ++at) {
      if (static_cast<unsigned char>(text[at]) < 0x20) {
        return false;
      }
      at += text[at] == '\\' ? 1 : 0;
    }
    return at++ < text.size();
  };
  space();
  if (at >= text.size()) {
    return false;
  }
  const char c = text[at];
  if (c == '{' || c == '[') {
    const char close = c == '{' ? '}' : ']';
    ++at;
    space();
    if (at < text.size() && text[at] == close) {
      ++at;
      return true;
    }
    for (;;) {
      if (c == '{') {
        space();
        if (!string()) {
          return false;
        }
        space();
        if (at >= text.size() || text[at++] != ':') {
          return false;
        }
      }
      if (!json_value(text, at)) {
        return false;
      }
      space();
      if (at < text.size() && text[at] == ',') {
        ++at;
        continue;
      }
      return at < text.size() && text[at++] == close;
    }
  }
  if (c == '"') {
    return string();
  }
  const size_t start = at;
  while (at < text.size() && std::strchr("+-.0123456789eEtrufalsn", text[at]) != nullptr) {
    ++at;
  }
  return at > start;
}

TEST_F(CompareProducts, TracesEveryThreadedRowOnceIntoAChromeTraceAndATimeline) {
  const bool gnuplot = std::system("command -v gnuplot >/dev/null 2>&1") == 0;
  std::vector<std::string> args = {"--methods", "tipo1,cyclic-blocks,ranges,omp,kernel",
                                   "--threads", "2",
                                   "--size",    "96",
                                   "--repeat",  "1",
                                   "--trace",   path("t.json")};
  if (gnuplot) {
    args.insert(args.end(), {"--timeline", path("t.png")});
  }
  const auto r = run_program(kProgram, args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string json = slurp(path("t.json"));
  size_t at = 0;
  ASSERT_TRUE(json_value(json, at)) << json.substr(0, std::min<size_t>(at + 40, json.size()));
  EXPECT_EQ(json.find_first_not_of(" \n", at), std::string::npos);

  // Each event on one line: the rows as processes, their lanes, their spans.
  std::map<int, std::string> process;
  std::map<std::pair<int, int>, std::string> lane;
  std::map<int, double> product_us;
  std::map<std::pair<int, int>, double> busy_us;
  std::map<std::pair<int, int>, std::vector<std::string>> phases;
  std::vector<std::array<double, 3>> spans;  // pid, start, end
  const std::regex meta(R"x(\{"name":"(process|thread)_name","ph":"M","pid":(\d+),"tid":(\d+),)x"
                        R"x("args":\{"name":"([^"]*)"\}\},?)x");
  const std::regex span(
      R"x(\{"name":"([^"]*)","ph":"X","pid":(\d+),"tid":(\d+),"ts":([0-9.]+),"dur":([0-9.]+)\},?)x");
  for (const auto& line : lines_of(json)) {
    std::smatch m;
    if (std::regex_match(line, m, meta)) {
      const int pid = std::stoi(m[2]), tid = std::stoi(m[3]);
      (m[1] == "process" ? process[pid] : lane[{pid, tid}]) = m[4];
    } else if (std::regex_match(line, m, span)) {
      const int pid = std::stoi(m[2]), tid = std::stoi(m[3]);
      const double ts = std::stod(m[4]), dur = std::stod(m[5]);
      if (tid == 0) {
        product_us[pid] = dur;
      } else {
        busy_us[{pid, tid}] += dur;
        phases[{pid, tid}].push_back(m[1]);
        spans.push_back({static_cast<double>(pid), ts, ts + dur});
      }
    }
  }
  // The one sequential method is not traced; each threaded row is, once.
  EXPECT_EQ(process, (std::map<int, std::string>{{1, "cyclic-blocks, 2 threads"},
                                                 {2, "ranges, 2 threads"},
                                                 {3, "omp, 2 threads"},
                                                 {4, "kernel, 2 threads"}}));
  // Lanes: the calling thread and two workers for the POSIX-thread products,
  // the calling thread and one more for a team. The team kernel's second
  // thread takes pieces from a counter: in a call this small the calling
  // thread may take them all before it comes, and a thread without a phase
  // has no lane.
  struct expected_lanes {
    int pid;
    size_t most;
    size_t least;
  };
  for (const auto& [pid, most, least] : {expected_lanes{1, 3, 3}, expected_lanes{2, 3, 3},
                                         expected_lanes{3, 2, 2}, expected_lanes{4, 2, 1}}) {
    EXPECT_EQ(lane.at({pid, 0}), "product");
    EXPECT_EQ(lane.at({pid, 1}), "calling thread");
    for (size_t tid = 1; tid <= most; ++tid) {
      const std::pair<int, int> key{pid, static_cast<int>(tid)};
      if (tid > least && lane.count(key) == 0) {
        continue;
      }
      EXPECT_FALSE(phases[key].empty()) << process[pid] << " lane " << tid;
      // Phases of one lane never overlap: together they fit in the product's
      // time (each printed to the nanosecond).
      EXPECT_LE(busy_us[key], product_us.at(pid) + 0.001 * static_cast<double>(phases[key].size()))
          << process[pid] << " lane " << tid;
    }
    EXPECT_EQ(lane.count({pid, static_cast<int>(most) + 1}), 0u) << process[pid];
  }
  for (const auto& s : spans) {
    EXPECT_GE(s[1], 0.0);
    EXPECT_LE(s[2], product_us.at(static_cast<int>(s[0])) + 0.002);
  }
  // Some thread of the team kernel multiplied.
  bool multiplied = false;
  for (int tid = 1; tid <= 2; ++tid) {
    const auto& kernel_phases = phases[{4, tid}];
    multiplied = multiplied || std::find(kernel_phases.begin(), kernel_phases.end(), "multiply") !=
                                   kernel_phases.end();
  }
  EXPECT_TRUE(multiplied);
  const auto& adding = phases[{1, 1}];  // cyclic-blocks' calling thread
  EXPECT_NE(std::find(adding.begin(), adding.end(), "add part"), adding.end());
  if (gnuplot) {
    EXPECT_EQ(slurp(path("t.png")).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  }
}

TEST_F(CompareProducts, CsvOnStdoutSendsTheTableToStderr) {
  const auto r = run_program(kProgram, {"--shape", "5x4x3", "--threads", "1,2", "--methods",
                                        "tipo1,omp", "--repeat", "1", "--csv", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[0].rfind("method,library_call,threads,", 0), 0u);
  EXPECT_EQ(table_rows(r.err).size(), 3u) << r.err;
}

TEST_F(CompareProducts, ASeedRepeatsTheFactorsAndIsReported) {
  for (const char* run : {"one", "two"}) {
    const auto r =
        run_program(kProgram, {"--shape", "3x4x5", "--seed", "42", "--methods", "tipo1", "--repeat",
                               "1", "--save", path(run), "--csv", path(std::string(run) + ".csv")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(lines_of(r.out).at(0).find("random values 1..100 from seed 42,"), std::string::npos)
        << r.out;
    const auto csv = lines_of(slurp(path(std::string(run) + ".csv")));
    ASSERT_EQ(csv.size(), 2u);
    EXPECT_EQ(fields_of(csv[1], ',').at(13), "42");  // the seed column
    // The rounds' order follows the seed too.
    EXPECT_NE(lines_of(r.out).at(0).find("in an order shuffled from seed 42)"), std::string::npos)
        << r.out;
  }
  for (const char* name : {"A.txt", "B.txt", "C.txt"}) {
    EXPECT_EQ(slurp(path("one/") + name), slurp(path("two/") + name)) << name;
  }
  EXPECT_NE(slurp(path("one/A.txt")), "");
}

TEST_F(CompareProducts, TheTableNeverLandsInAFileOpenedOnAClosedStdout) {
  const std::string csv = path("x.csv");
  std::vector<std::string> argv_s{kProgram, "--shape", "3x4x2", "--repeat", "1", "--csv", csv};
  std::vector<char*> argv;
  argv.reserve(argv_s.size());
  for (auto& a : argv_s) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, 1);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, kProgram.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string text = slurp(csv);
  EXPECT_EQ(text.rfind("method,library_call,", 0), 0u) << text;
  EXPECT_EQ(text.find("compare_products:"), std::string::npos) << text;
}

TEST_F(CompareProducts, EachCheckRuleNamesItselfAndSavesAVerifiedProduct) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"exact", ", checked against mmultiplicar tipo 1 (reference "},
      {"auto", ", checked against mmultiplicar tipo 1 (reference "},
      {"freivalds", ", checked with Freivalds' test (40 random vectors, prepared in "},
  };
  for (const auto& [rule, says] : cases) {
    const std::string dir = path(rule);
    const auto r = run_program(kProgram, {"--shape", "4x6x3", "--verify", rule, "--threads", "1,2",
                                          "--repeat", "2", "--save", dir, "--csv", dir + ".csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.substr(0, r.out.find("\n\n") + 1).find(says), std::string::npos) << r.out;
    for (const auto& [name, words] : table_rows(r.out)) {
      EXPECT_EQ(words.at(6), "identical") << name;
    }
    // Whichever check ran, C.txt is the product of the saved factors.
    const dense a = parse_matrix(slurp(dir + "/A.txt"));
    const dense b = parse_matrix(slurp(dir + "/B.txt"));
    dense ab(4, std::vector<int64_t>(3));
    for (size_t i = 0; i < 4; ++i) {
      for (size_t j = 0; j < 3; ++j) {
        for (size_t k = 0; k < 6; ++k) {
          ab[i][j] += a[i][k] * b[k][j];
        }
      }
    }
    EXPECT_EQ(parse_matrix(slurp(dir + "/C.txt")), ab) << rule;
    // Every row that ran says what its check cost.
    const auto csv = lines_of(slurp(dir + ".csv"));
    for (size_t i = 1; i < csv.size(); ++i) {
      EXPECT_GE(std::stod(fields_of(csv[i], ',').at(12)), 0.0) << csv[i];
    }
  }
}

TEST_F(CompareProducts, SweepMeasuresEveryMethodAtEachSizeInOneTable) {
  const bool plot = std::system("command -v gnuplot >/dev/null 2>&1") == 0;
  std::vector<std::string> args{
      "--sizes",      "9,5",      "--threads", "1,2",   "--methods",
      "tipo0,kernel", "--repeat", "1",         "--csv", path("sweep.csv")};
  if (plot) {
    args.insert(args.end(), {"--plot", path("sweep.png")});
  }
  const auto r = run_program(kProgram, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines_of(r.out).at(0).rfind("compare_products: A and B n x n for n = 5, 9, ", 0), 0u)
      << r.out;
  std::vector<std::string> seen;  // size, method, threads of each table row
  for (const auto& [size, words] : table_rows(r.out)) {
    seen.push_back(size + " " + words.at(1) + " " + words.at(2));
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"5 kernel 1", "5 kernel 2", "5 tipo0 1", "9 kernel 1",
                                            "9 kernel 2", "9 tipo0 1"}))
      << r.out;
  const auto csv = lines_of(slurp(path("sweep.csv")));
  ASSERT_EQ(csv.size(), 7u);
  EXPECT_EQ(fields_of(csv[1], ',').size(), fields_of(csv[0], ',').size());
  const auto first = fields_of(csv[1], ','), last = fields_of(csv[6], ',');
  EXPECT_EQ(first[3] + "x" + first[4] + "x" + first[5], "5x5x5");
  EXPECT_EQ(last[3] + "x" + last[4] + "x" + last[5], "9x9x9");
  if (plot) {
    EXPECT_EQ(slurp(path("sweep.png")).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  }
}

// Runs the program with stderr on a pseudo-terminal and stdout on a file;
// returns what each received.
std::pair<std::string, std::string> run_with_terminal_stderr(const std::vector<std::string>& args,
                                                             const std::string& out_file) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  EXPECT_EQ(grantpt(master), 0);
  EXPECT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  EXPECT_GE(slave, 0);
  const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  std::vector<std::string> argv_s{kProgram};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argv_s.size() + 1);
  for (auto& a : argv_s) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, slave, 2);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, kProgram.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(slave);
  close(out);

  // Drain the terminal while the program runs, or it could block on a full buffer.
  std::string err;
  char buf[4096];
  for (;;) {
    const ssize_t got = read(master, buf, sizeof buf);
    if (got <= 0) {
      break;  // EIO once the program has closed its end
    }
    err.append(buf, static_cast<size_t>(got));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err;
  return {slurp(out_file), err};
}

TEST_F(CompareProducts, ShowsProgressOnlyOnATerminalAndNeverInTheTable) {
  const auto [out, err] =
      run_with_terminal_stderr({"--size", "6", "--threads", "1,2", "--repeat", "2", "--methods",
                                "tipo3,cyclic", "--csv", path("p.csv")},
                               path("out.txt"));
  EXPECT_NE(err.find("warm-up: tipo3, 1 thread"), std::string::npos) << err;
  EXPECT_NE(err.find("round 2: tipo3, 1 thread"), std::string::npos) << err;
  EXPECT_NE(err.find("round 1: cyclic, 2 threads"), std::string::npos) << err;
  // One line, rewritten in place (and perhaps the busy machine's warning).
  EXPECT_EQ(without_busy_warning(err).find('\n'), std::string::npos) << err;
  EXPECT_EQ(out.find("round 1:"), std::string::npos) << out;
  EXPECT_EQ(table_rows(out).size(), 3u) << out;
  EXPECT_EQ(slurp(path("p.csv")).find("round 1:"), std::string::npos);

  // --quiet: not even on a terminal.
  const auto [quiet_out, quiet_err] = run_with_terminal_stderr(
      {"--size", "6", "--threads", "1", "--repeat", "3", "--quiet"}, path("q.txt"));
  EXPECT_EQ(quiet_out, "");
  EXPECT_EQ(quiet_err, "");
}

}  // namespace
