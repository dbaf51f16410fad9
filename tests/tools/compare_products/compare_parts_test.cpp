// compare_products' parts on their own: option parsing, the matrix file check, and the derived
// figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/matrix_records.hpp"
#include "support/capture.hpp"
#include "support/matrices.hpp"
#include "tools/common/freivalds.hpp"
#include "tools/common/gnuplot.hpp"
#include "tools/common/memory.hpp"
#include "tools/common/statistics.hpp"
#include "tools/common/stdout_sink.hpp"
#include "tools/common/timeline.hpp"
#include "tools/compare_products/check.hpp"
#include "tools/compare_products/factors.hpp"
#include "tools/compare_products/matrix_file_check.hpp"
#include "tools/compare_products/methods.hpp"
#include "tools/compare_products/options.hpp"
#include "tools/compare_products/peak_memory.hpp"
#include "tools/compare_products/plot.hpp"
#include "tools/compare_products/report.hpp"
#include "tools/compare_products/rounds.hpp"
#include "tools/compare_products/run.hpp"

namespace {

using compare_products::parse_options;
using compare_products::parse_result;

parse_result parse(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"compare_products"};
  argv.reserve(args.size() + 1);
  for (const auto& a : args) {
    argv.push_back(a.c_str());
  }
  return parse_options(static_cast<int>(argv.size()), argv.data(), {1, 2});
}

std::vector<std::string> names_of(const std::vector<const compare_products::product_method*>& ms) {
  std::vector<std::string> names;
  names.reserve(ms.size());
  for (const auto* m : ms) {
    names.push_back(m->name);
  }
  return names;
}

const compare_products::product_method& method(const char* name) {
  const compare_products::product_method* m = compare_products::find_method(name);
  EXPECT_NE(m, nullptr) << name;
  return *m;
}

TEST(CompareOptions, DefaultsMeasureEveryMethodOnTheDefaultThreads) {
  const auto r = parse({});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.opts.rows, tool_common::kDefaultSize);
  EXPECT_EQ(r.opts.inner, tool_common::kDefaultSize);
  EXPECT_EQ(r.opts.cols, tool_common::kDefaultSize);
  EXPECT_EQ(r.opts.threads, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(r.opts.methods.size(), compare_products::methods().size());
  EXPECT_EQ(r.opts.repeat, 0);  // rounds until steady, for at most --time seconds
  EXPECT_EQ(r.opts.time_budget, 10.0);
  EXPECT_FALSE(r.opts.quiet);
}

TEST(CompareOptions, AcceptsSeparateAndInlineValues) {
  auto r = parse({"--shape", "3x5x7", "--threads=4,1,4,2", "--methods", "omp,tipo1", "--repeat=2",
                  "--limit", "9", "--csv", "out.csv", "--plot=p.png", "--save", "d", "--quiet"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.opts.rows, 3);
  EXPECT_EQ(r.opts.inner, 5);
  EXPECT_EQ(r.opts.cols, 7);
  // Sorted, each count once.
  EXPECT_EQ(r.opts.threads, (std::vector<int32_t>{1, 2, 4}));
  // Methods come in table order whatever order they were asked in.
  EXPECT_EQ(names_of(r.opts.methods), (std::vector<std::string>{"tipo1", "omp"}));
  EXPECT_EQ(r.opts.repeat, 2);
  EXPECT_EQ(r.opts.limit, 9);
  EXPECT_EQ(r.opts.csv, "out.csv");
  EXPECT_EQ(r.opts.plot, "p.png");
  EXPECT_EQ(r.opts.save_dir, "d");
  EXPECT_TRUE(r.opts.quiet);

  r = parse({"--size", "10", "--size=6"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.opts.rows * 100 + r.opts.inner * 10 + r.opts.cols, 666);
  r = parse({"--shape", "2x3x4", "--shape=6x6x6"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.opts.rows * 100 + r.opts.inner * 10 + r.opts.cols, 666);

  r = parse({"--load", "a.txt", "b.txt", "--methods", "all"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.opts.load_a, "a.txt");
  EXPECT_EQ(r.opts.load_b, "b.txt");
  EXPECT_EQ(r.opts.shape_option, "--load");
  EXPECT_EQ(r.opts.methods.size(), compare_products::methods().size());

  r = parse({"--sizes", "512,256,512", "--seed", "0", "--verify=freivalds", "--csv", "-"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.opts.sizes, (std::vector<int32_t>{256, 512}));
  EXPECT_EQ(r.opts.rows * 100 + r.opts.inner * 10 + r.opts.cols, 512 * 111);  // the largest
  EXPECT_TRUE(r.opts.seeded);
  EXPECT_EQ(r.opts.seed, 0u);
  EXPECT_EQ(r.opts.verify, compare_products::check_rule::freivalds);
  EXPECT_EQ(r.opts.csv, "-");
  EXPECT_EQ(parse({}).opts.verify, compare_products::check_rule::automatic);
  EXPECT_FALSE(parse({}).opts.seeded);
  EXPECT_TRUE(parse({"--version"}).opts.version);

  EXPECT_TRUE(parse({"--help"}).opts.help);
  EXPECT_TRUE(parse({"-h"}).opts.help);
}

TEST(CompareOptions, RefusesEachBadValueNamingItsOption) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--size", "0"}, "--size: expected a whole number from 1 to 2147483647, got '0'"},
      {{"--size", "-5"}, "--size: expected a whole number from 1 to 2147483647, got '-5'"},
      {{"--size", "2147483648"},
       "--size: expected a whole number from 1 to 2147483647, got '2147483648'"},
      {{"--size", "12abc"}, "--size: expected a whole number from 1 to 2147483647, got '12abc'"},
      {{"--size"}, "--size: missing value"},
      {{"--shape", "3x4"},
       "--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '3x4'"},
      {{"--shape", "3x0x4"},
       "--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '3x0x4'"},
      {{"--threads", "1,0"},
       "--threads: expected thread counts from 1 to 256 separated by commas, got '1,0'"},
      {{"--threads", "2,,4"},
       "--threads: expected thread counts from 1 to 256 separated by commas, got '2,,4'"},
      {{"--threads", "257"},
       "--threads: expected thread counts from 1 to 256 separated by commas, got '257'"},
      {{"--repeat", "0"}, "--repeat: expected a whole number from 1 to 1000, got '0'"},
      {{"--limit", "0"}, "--limit: expected a whole number from 1 to 2147483647, got '0'"},
      {{"--frob"}, "unknown option '--frob' (see --help)"},
      {{"--frob=1"}, "unknown option '--frob' (see --help)"},
      {{"extra"}, "unexpected argument 'extra' (see --help)"},
      {{"--quiet=yes"}, "--quiet: takes no value"},
      {{"--csv="}, "--csv: the file name is empty"},
      {{"--load", "a.txt"}, "--load: expected two matrix files, the left and the right factor"},
      {{"--load", "a.txt", "b.txt", "--size", "4"}, "--load: the files fix the shape; drop --size"},
      {{"--shape", "1x2x3", "--load", "a.txt", "b.txt"},
       "--load: the files fix the shape; drop --shape"},
      {{"--load", "a.txt", "b.txt", "--limit", "4"},
       "--load: the files fix the values; drop --limit"},
      {{"--load", "a.txt", "b.txt", "--seed", "4"},
       "--load: the files fix the values; drop --seed"},
      {{"--size", "4", "--shape", "1x2x3"}, "--size and --shape both fix the shape; drop one"},
      {{"--shape=1x2x3", "--size=4"}, "--shape and --size both fix the shape; drop one"},
      {{"--sizes", "8,16", "--size", "4"}, "--sizes and --size both fix the shape; drop one"},
      {{"--sizes", "8,0"},
       "--sizes: expected sizes from 1 to 2147483647 separated by commas, got '8,0'"},
      {{"--sizes", "8,16", "--save", "d"},
       "--save: a sweep makes one product per size; drop --sizes or --save"},
      {{"-s"}, "unknown option '-s' (see --help)"},
      {{"-"}, "unexpected argument '-' (see --help)"},
      {{"--seed", "4294967296"},
       "--seed: expected a whole number from 0 to 4294967295, got '4294967296'"},
      {{"--seed", "-1"}, "--seed: expected a whole number from 0 to 4294967295, got '-1'"},
      {{"--verify", "fast"}, "--verify: expected exact, freivalds or auto, got 'fast'"},
      {{"--version=2"}, "--version: takes no value"},
      {{"--time", "0"}, "--time: expected seconds from 0.1 to 86400, got '0'"},
      {{"--time", "-1"}, "--time: expected seconds from 0.1 to 86400, got '-1'"},
      {{"--time", "1e3"}, "--time: expected seconds from 0.1 to 86400, got '1e3'"},
      {{"--time", "1.2.3"}, "--time: expected seconds from 0.1 to 86400, got '1.2.3'"},
      {{"--time", "5", "--repeat", "3"}, "--time: --repeat fixes the number of rounds; drop one"},
      {{"--raw="}, "--raw: the file name is empty"},
      {{"--raw", "-", "--csv", "-"},
       "--raw: --csv already writes on stdout; send one of them to a file"},
  };
  for (const auto& [args, why] : cases) {
    EXPECT_EQ(parse(args).error, why) << args[0];
  }
  const std::string unknown = parse({"--methods", "tipo1,tipo9"}).error;
  EXPECT_EQ(unknown.rfind("--methods: unknown method 'tipo9' (known: tipo0, tipo1,", 0), 0u)
      << unknown;
  EXPECT_NE(unknown.find("kernel, all)"), std::string::npos) << unknown;
}

TEST(CompareOptions, AddCollectsLabelsPathsAndSymbolsAndRefusesClashes) {
  auto r = parse({"--add", "mine=./my.so:my_product", "--add=two=/a:b/lib.so", "--add",
                  "x.1=lib:odd.so:f_2", "--timeout", "2.5"});
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.opts.added.size(), 3u);
  // Each as label, path, symbol; the symbol is the label when the text after ':' is no C name.
  const std::vector<std::vector<std::string>> expected = {{"mine", "./my.so", "my_product"},
                                                          {"two", "/a:b/lib.so", "two"},
                                                          {"x.1", "lib:odd.so", "f_2"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto& a = r.opts.added[i];
    EXPECT_EQ((std::vector<std::string>{a.label, a.path, a.symbol}), expected[i]);
  }
  EXPECT_EQ(r.opts.timeout, 2.5);
  EXPECT_EQ(parse({}).opts.timeout, compare_products::kDefaultTimeout);

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--add", "mine"}, "--add: expected LABEL=PATH.so[:SYMBOL], got 'mine'"},
      {{"--add", "=x.so"}, "--add: expected LABEL=PATH.so[:SYMBOL], got '=x.so'"},
      {{"--add", "m="}, "--add: expected LABEL=PATH.so[:SYMBOL], got 'm='"},
      {{"--add", "m=x.so:"}, "--add: expected LABEL=PATH.so[:SYMBOL], got 'm=x.so:'"},
      {{"--add", "my product=x.so"},
       "--add: label 'my product' may hold only letters, digits, '-', '_' and '.'"},
      {{"--add", "kernel=x.so"}, "--add: label 'kernel' is a method's name; choose another"},
      {{"--add", "m=x.so", "--add", "m=y.so"}, "--add: label 'm' is given twice"},
      {{"--timeout", "0.05"}, "--timeout: expected seconds from 0.1 to 86400, got '0.05'"},
      {{"--timeout", "x"}, "--timeout: expected seconds from 0.1 to 86400, got 'x'"},
  };
  for (const auto& [args, why] : refused) {
    EXPECT_EQ(parse(args).error, why) << args.back();
  }
}

TEST(CompareOptions, DefaultThreadCountsDoubleUpToTheCpus) {
  EXPECT_EQ(compare_products::default_thread_counts(1), (std::vector<int32_t>{1}));
  EXPECT_EQ(compare_products::default_thread_counts(2), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(compare_products::default_thread_counts(6), (std::vector<int32_t>{1, 2, 4, 6}));
  EXPECT_EQ(compare_products::default_thread_counts(8), (std::vector<int32_t>{1, 2, 4, 8}));
  EXPECT_EQ(compare_products::default_thread_counts(1000).back(), tool_common::kMaxThreads);
  // Past the cap: ascending, without repeating 256.
  const std::vector<int32_t> capped{1, 2, 4, 8, 16, 32, 64, 128, 256};
  EXPECT_EQ(compare_products::default_thread_counts(256), capped);
  EXPECT_EQ(compare_products::default_thread_counts(300), capped);
  EXPECT_EQ(compare_products::default_thread_counts(1000), capped);
}

// check_matrix_file on the bytes of `text`.
compare_products::matrix_file_shape check(const std::string& text) {
  FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  auto shape = compare_products::check_matrix_file(f);
  std::fclose(f);
  return shape;
}

TEST(MatrixFileCheck, AcceptsWhatTheWriterWrites) {
  const auto shape = check("#Linha#Coluna#\n2#3#\n1,2,3,\n-4,5,-2147483648,\n");
  EXPECT_EQ(shape.error, "");
  EXPECT_EQ(shape.rows, 2);
  EXPECT_EQ(shape.cols, 3);
  EXPECT_EQ(check("#Linha#Coluna#\n1#1#\n2147483647,\n").error, "");
  EXPECT_EQ(check("#Linha#Coluna#\n1#1#\n-0000000001,\n").error, "");
}

TEST(MatrixFileCheck, NamesTheFirstFaultWithItsLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "line 1: the header is not #Linha#Coluna#"},
      {"#Linha#Coluna\n1#1#\n1,\n", "line 1: the header is not #Linha#Coluna#"},
      {"#Linha#Coluna#\n",
       "line 2: expected the size line ROWS#COLUMNS# (the file ends inside the line)"},
      {"#Linha#Coluna#\n3#4\n",
       "line 2: expected the size line ROWS#COLUMNS# (a number is not closed by '#')"},
      {"#Linha#Coluna#\n0#4#\n", "line 2: a size is below 1"},
      {"#Linha#Coluna#\n2#-1#\n", "line 2: a size is below 1"},
      {"#Linha#Coluna#\n1#1#x\n1,\n",
       "line 2: expected the size line ROWS#COLUMNS# to end after the second '#'"},
      {"#Linha#Coluna#\n0000000001#000000001#\n1,\n",
       "line 2: the size line is longer than 19 characters"},
      {"#Linha#Coluna#\n2#2#\n1,2,\n", "line 4: the file ends before row 2 of 2"},
      {"#Linha#Coluna#\n1#3#\n1,2,\n", "line 3: expected 3 numbers, found 2"},
      {"#Linha#Coluna#\n1#2#\n1,2\n", "line 3: a number is not closed by ','"},
      {"#Linha#Coluna#\n1#2#\n1,2,3,\n", "line 3: more than 2 numbers"},
      {"#Linha#Coluna#\n1#2#\n1,2,", "line 3: the file ends inside the line"},
      {"#Linha#Coluna#\n1#2#\n1, 2,\n", "line 3: expected a number"},
      {"#Linha#Coluna#\n1#2#\n1,x,\n", "line 3: expected a number"},
      {"#Linha#Coluna#\n1#2#\n1;2,\n", "line 3: expected ',' after a number"},
      {"#Linha#Coluna#\n1#1#\n2147483648,\n", "line 3: the number 2147483648 is out of range"},
      {"#Linha#Coluna#\n1#1#\n000000000001,\n", "line 3: a number has more than 10 digits"},
      // Eleven digits: in range, but the readers would print a warning.
      {"#Linha#Coluna#\n1#1#\n-00000000001,\n", "line 3: a number has more than 10 digits"},
      {"#Linha#Coluna#\n00000000001#1#\n1,\n",
       "line 2: expected the size line ROWS#COLUMNS# (a number has more than 10 digits)"},
      {"#Linha#Coluna#\n1#1#\n5,\n6,\n", "line 4: text after the last of the 1 rows"},
      {"#Linha#Coluna#\n1#1#\n5,\nx", "line 4: text after the last of the 1 rows"},
  };
  for (const auto& [text, why] : cases) {
    EXPECT_EQ(check(text).error, why) << text;
  }
}

TEST(CompareMethods, ThreadCountsAndSkipsFollowHowEachMethodUsesThreads) {
  const std::vector<int32_t> asked{1, 3, 8};
  EXPECT_EQ(compare_products::measured_thread_counts(method("tipo4"), asked),
            (std::vector<int32_t>{1}));
  // The kernel runs on a team at every count; its 1-thread row is the kernel alone.
  EXPECT_EQ(compare_products::measured_thread_counts(method("kernel"), asked), asked);
  EXPECT_EQ(compare_products::measured_thread_counts(method("ranges-blocks"), asked),
            (std::vector<int32_t>{2}));
  EXPECT_EQ(compare_products::measured_thread_counts(method("omp"), asked), asked);

  const auto& cyclic_blocks = method("cyclic-blocks");
  EXPECT_EQ(compare_products::skip_reason(cyclic_blocks, 8, 8), "");
  EXPECT_EQ(compare_products::skip_reason(cyclic_blocks, 7, 8),
            "needs at most K=7 threads (one band of K per thread)");
  EXPECT_EQ(compare_products::skip_reason(method("ranges-blocks"), 1, 2),
            "needs K of at least 2 (two bands of K)");
  EXPECT_EQ(compare_products::skip_reason(method("cyclic"), 1, 64), "");
}

TEST(CompareMethods, FreivaldsPassesEveryMethodOfTheKit) {
  test_support::owned_matrix a(37, 19);
  test_support::owned_matrix b(19, 23);
  test_support::fill_random(a, 5);
  test_support::fill_random(b, 6);
  for (const auto& method : compare_products::methods()) {
    if (!compare_products::skip_reason(method, 19, 3).empty()) {
      continue;
    }
    test_support::result_ptr c(method.run(a.get(), b.get(), 3));
    ASSERT_NE(c, nullptr) << method.name;
    EXPECT_TRUE(tool_common::freivalds_check(a.get(), b.get(), c.get(), 11).passed) << method.name;
  }
}

TEST(CompareMethods, PeakMemoryCountsOnePartPerBand) {
  compare_products::options o;
  o.rows = o.inner = o.cols = 1000;
  o.threads = {1, 16};
  o.methods = {&method("tipo0")};
  const double one = tool_common::matrix_bytes(1000, 1000);
  EXPECT_GE(one, 4.0e6);
  EXPECT_LT(one, 4.2e6);
  EXPECT_DOUBLE_EQ(compare_products::peak_bytes(o, true), 4 * one);  // A, B, reference, result
  o.methods.push_back(&method("cyclic-blocks"));
  EXPECT_DOUBLE_EQ(compare_products::peak_bytes(o, true), (3 + 18) * one);
  EXPECT_DOUBLE_EQ(compare_products::peak_bytes(o, false), (3 + 3) * one);
  // A thread count that will be skipped (no band of K = 1 for a second thread) holds nothing.
  o.inner = 1;
  o.threads = {1, 2};
  EXPECT_DOUBLE_EQ(compare_products::peak_bytes(o, true), compare_products::peak_bytes(o, false));
  // An added product shares both factors and a result with its worker, which
  // keeps its own copy of the factors, for the whole run; it holds the
  // worker's result and our copy while called.
  o.inner = 1000;
  o.threads = {1};
  o.methods = {&method("tipo0")};
  o.added = {{"a", "a.so", "a"}, {"b", "b.so", "b"}};
  EXPECT_DOUBLE_EQ(compare_products::peak_bytes(o, true), (2 + 2 * 5 + 1 + 2) * one);
  o.added.clear();
  // Sizes near the int32 limit must not wrap around to something small.
  o.rows = o.inner = o.cols = 2147483647;
  EXPECT_GT(compare_products::peak_bytes(o, false), 1e19);

  EXPECT_DOUBLE_EQ(tool_common::median({}), 0.0);
  EXPECT_DOUBLE_EQ(tool_common::median({3.0, 1.0, 2.0}), 2.0);
  EXPECT_DOUBLE_EQ(tool_common::median({4.0, 1.0, 3.0, 2.0}), 2.5);
}

TEST(CompareReport, PairsSpeedupsWithinRoundsAndWritesOneCsvLinePerRow) {
  compare_products::options o;
  o.rows = 10;
  o.inner = 20;
  o.cols = 50;  // 2*M*K*N = 20000 operations
  auto row_of = [&o](const char* name, int32_t threads, std::vector<double> secs) {
    compare_products::row r;
    r.method = &method(name);
    r.threads = threads;
    r.size = {o.rows, o.inner, o.cols};
    // The three rounds twice over: six, the fewest that give a 95% interval.
    r.seconds = secs;
    r.seconds.insert(r.seconds.end(), secs.begin(), secs.end());
    for (int32_t i = 0; i < static_cast<int32_t>(r.seconds.size()); ++i) {
      r.rounds.push_back(i);
    }
    r.shape_rounds = 6;
    return r;
  };
  // Rounds 2 and 5 were slow for both omp rows alike: paired within rounds, omp on 2
  // threads is 2x in every round; the medians alone would say 1x.
  std::vector<compare_products::row> rows = {
      row_of("tipo0", 1, {4e-5, 8e-5, 4e-5}),         row_of("tipo1", 1, {1e-5, 2e-5, 1e-5}),
      row_of("omp", 1, {2e-5, 8e-5, 8e-5}),           row_of("omp", 2, {1e-5, 4e-5, 4e-5}),
      row_of("ranges-blocks", 2, {2e-5, 2e-5, 2e-5}),
  };
  rows[3].identical = false;
  compare_products::row skipped = row_of("cyclic-blocks", 4, {});
  skipped.skipped = "needs at most K=3 threads";
  rows.push_back(skipped);
  compare_products::derive(rows);

  EXPECT_DOUBLE_EQ(rows[0].median_s, 4e-5);
  EXPECT_NEAR(rows[0].gops, 20000 / 4e-5 / 1e9, 1e-12);
  EXPECT_NEAR(rows[0].gops_range.low, 20000 / 8e-5 / 1e9, 1e-12);  // from the slowest time
  EXPECT_TRUE(rows[0].self_base);
  EXPECT_NEAR(rows[1].vs_base.median, 4.0, 1e-9);
  EXPECT_NEAR(rows[3].vs_one.median, 2.0, 1e-9);
  EXPECT_NEAR(rows[3].vs_one.range.low, 2.0, 1e-9);  // the same ratio in every round
  EXPECT_NEAR(rows[4].vs_base.range.low, 2.0, 1e-9);
  EXPECT_NEAR(rows[4].vs_base.range.high, 4.0, 1e-9);
  EXPECT_TRUE(rows[2].self_one);
  EXPECT_EQ(rows[1].vs_one.count, 0u);            // a sequential method has no thread scaling
  EXPECT_EQ(rows[4].vs_one.count, 0u);            // nor one fixed at two threads
  EXPECT_TRUE(compare_products::noisy(rows[2]));  // 2e-5 .. 8e-5 around 8e-5
  EXPECT_FALSE(compare_products::noisy(rows[4]));

  tool_common::machine_load load;
  load.known = true;
  load.others_percent = 12.34;
  load.steal_percent = 0.5;
  EXPECT_EQ(
      compare_products::format_csv(rows, o, load),
      "method,library_call,threads,rows,inner,cols,repetitions,median_seconds,gops,"
      "speedup_vs_tipo0,speedup_vs_one_thread,result,check_seconds,seed,min_seconds,max_seconds,"
      "median_low_seconds,median_high_seconds,rounds,speedup_vs_one_thread_low,"
      "speedup_vs_one_thread_high,others_cpu_percent,steal_percent\n"
      "tipo0,mmultiplicar tipo 0: loops i-j-k,1,10,20,50,6,0.000040,0.5000,1.0000,,identical,,,"
      "0.000040,0.000080,0.000040,0.000080,6,,,12.3,0.5\n"
      "tipo1,mmultiplicar tipo 1: loops i-k-j,1,10,20,50,6,0.000010,2.0000,4.0000,,identical,,,"
      "0.000010,0.000020,0.000010,0.000020,6,,,12.3,0.5\n"
      "omp,team_rows::multiplicarOMP,1,10,20,50,6,0.000080,0.2500,1.0000,1.0000,identical,,,"
      "0.000020,0.000080,0.000020,0.000080,6,1.0000,1.0000,12.3,0.5\n"
      "omp,team_rows::multiplicarOMP,2,10,20,50,6,0.000040,0.5000,2.0000,2.0000,differs,,,"
      "0.000010,0.000040,0.000010,0.000040,6,2.0000,2.0000,12.3,0.5\n"
      "ranges-blocks,workers_ranges::multiplicarThblocos,2,10,20,50,6,0.000020,1.0000,2.0000,,"
      "identical,,,0.000020,0.000020,0.000020,0.000020,6,,,12.3,0.5\n"
      "cyclic-blocks,workers_cyclic::multiplicarThblocos,4,10,20,50,0,,,,,skipped,,,,,,,,,,12.3,"
      "0.5\n");

  const std::string table = compare_products::format_table(rows, false);
  EXPECT_NE(table.find("DIFFERS"), std::string::npos) << table;
  // omp on 2 threads: 2x in every round; tipo1 against tipo0: 4x, 4x and 4x.
  EXPECT_NE(table.find("2.00x (2.00\xe2\x80\x93"
                       "2.00)"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("0.250 (0.250\xe2\x80\x93"
                       "1.00)*"),
            std::string::npos)
      << table;
  // Every line of the table is as wide as the header up to the last column,
  // counted in characters (the interval's dash is three bytes).
  auto width = [](const std::string& s) {
    return std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; });
  };
  size_t start = 0;
  const std::string header = table.substr(0, table.find('\n'));
  const auto call_column = width(header.substr(0, header.find("library call")));
  while (start < table.size()) {
    const size_t end = table.find('\n', start);
    const std::string line = table.substr(start, end - start);
    const std::string call = line.substr(line.rfind("  ") + 2);
    EXPECT_EQ(width(line) - width(call), call_column) << line;
    start = end + 1;
  }

  const std::string plot = compare_products::gnuplot_script(rows, o, "CPU X, 2 cores, today", {});
  EXPECT_NE(plot.find("$bars << EOD\n\"tipo0\" 0.5 -\n\"tipo1\" 2 -\n\"omp\" 0.25 0.5\n"
                      "\"ranges-blocks\" - 1\n\"cyclic-blocks\" - -\nEOD\n"),
            std::string::npos)
      << plot;
}

// A sweep's picture: loop nests and parallel products in panels of their own, each line
// labelled by name, and the speedup panel with its lines of no gain and of the ideal.
TEST(ComparePlot, SweepSeparatesLoopNestsFromParallelProductsAndMarksTheIdeal) {
  std::vector<compare_products::row> rows;
  for (int32_t n : {64, 128}) {
    for (auto [name, threads] : {std::pair{"tipo1", 1}, {"omp", 1}, {"omp", 2}}) {
      compare_products::row r;
      r.method = &method(name);
      r.threads = threads;
      r.size = {n, n, n};
      r.seconds = std::vector<double>(6, threads == 2 ? 0.5 : 1.0);
      r.rounds = {0, 1, 2, 3, 4, 5};
      rows.push_back(r);
    }
  }
  compare_products::derive(rows);
  compare_products::options o;
  o.sizes = {64, 128};
  const std::string plot = compare_products::gnuplot_script(rows, o, "CPU X", {});
  const size_t nests = plot.find("set title \"Loop nests");
  const size_t parallel = plot.find("set title \"Parallel products");
  const size_t speedups = plot.find("set title \"Speedup");
  ASSERT_LT(nests, parallel) << plot;
  ASSERT_LT(parallel, speedups) << plot;
  const std::string panel[] = {plot.substr(nests, parallel - nests),
                               plot.substr(parallel, speedups - parallel), plot.substr(speedups)};
  EXPECT_NE(panel[0].find("set label \"tipo1\""), std::string::npos) << panel[0];
  EXPECT_EQ(panel[0].find("omp"), std::string::npos) << panel[0];
  EXPECT_NE(panel[1].find("set label \"omp, 2 threads\""), std::string::npos) << panel[1];
  EXPECT_EQ(panel[1].find("tipo1"), std::string::npos) << panel[1];
  EXPECT_NE(panel[2].find("set label \"omp\""), std::string::npos) << panel[2];
  EXPECT_NE(panel[2].find("plot 1 with lines"), std::string::npos) << panel[2];
  EXPECT_NE(panel[2].find(", 2 with lines"), std::string::npos) << panel[2];
  EXPECT_NE(panel[2].find("64 2 2 2 0\n128 2 2 2 0\n"), std::string::npos) << panel[2];
}

TEST(CompareReport, NotesSayWhatEachMarkMeansAndHowBusyTheMachineWas) {
  auto row_of = [](int32_t threads, std::vector<double> secs) {
    compare_products::row r;
    r.method = &method("kernel");
    r.threads = threads;
    r.size = {100, 100, 100};
    r.seconds = std::move(secs);
    r.rounds = {0, 1, 2, 3, 4, 5};
    return r;
  };
  // Ratios 0.95 .. 1.05 hold 1.0 (and stay within the noise rule's +-10%);
  // 5x on 4 threads is more than 4 threads can give.
  std::vector<compare_products::row> rows = {row_of(1, {1.0, 1.0, 1.0, 1.0, 1.0, 1.0}),
                                             row_of(2, {0.95, 1.05, 1.0, 1.0, 1.0, 1.0}),
                                             row_of(4, {0.2, 0.2, 0.2, 0.2, 0.2, 0.2})};
  compare_products::derive(rows);
  const std::string table = compare_products::format_table(rows, false);
  EXPECT_NE(table.find("\xe2\x89\x88"
                       "1x (0.952\xe2\x80\x93"
                       "1.05)"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("noise (5.00x)"), std::string::npos) << table;

  tool_common::machine_load load;
  load.known = true;
  load.others_percent = 57.2;
  EXPECT_EQ(compare_products::table_notes(rows, load),
            "\xe2\x89\x88"
            "1x: the interval of the ratio holds 1.0, so the difference is not "
            "measurable in this run.\n"
            "noise: a speedup over one thread above the thread count is the machine's noise, not "
            "a result.\n"
            "machine: other programs used 57% of its CPU time during the timed rounds; the "
            "hypervisor took 0% (steal).\n");
}

// The product a method would return: a new heap matrix holding `values` row by row.
dense_core::matriz* heap_matrix(int32_t rows, int32_t cols, const std::vector<int32_t>& values) {
  dense_core::matriz* m = dense_detail::new_zeroed_matrix(rows, cols);
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < cols; ++j) {
      m->mat[i][j] =
          values[static_cast<size_t>(i) * static_cast<size_t>(cols) + static_cast<size_t>(j)];
    }
  }
  return m;
}

// Rows whose calls return `product` after a time that depends on the row.
struct fake_rows {
  explicit fake_rows(size_t count) : rows(count) {
    for (size_t i = 0; i < count; ++i) {
      rows[i].method = &compare_products::methods()[i];
      rows[i].threads = static_cast<int32_t>(i) + 1;
    }
  }
  std::vector<tool_common::candidate> candidates(
      const std::function<dense_core::matriz*(size_t row)>& product) {
    std::vector<tool_common::candidate> list;
    for (size_t i = 0; i < rows.size(); ++i) {
      list.push_back({&rows[i], i,
                      [i, product](const dense_core::matriz*, const dense_core::matriz*, int32_t) {
                        compare_products::call_result got;
                        got.product = product(i);
                        got.seconds = 0.001 * static_cast<double>(i + 1);
                        return got;
                      }});
    }
    return list;
  }
  std::vector<compare_products::row> rows;
};

TEST(CompareRounds, EveryRowOnceARoundInAnOrderShuffledFromTheSeed) {
  test_support::owned_matrix a(1, 1, {3});
  test_support::owned_matrix reference(1, 1, {9});  // a x a
  tool_common::stdout_sink sink;
  const compare_products::result_check check = compare_products::exact_check(reference.get(), sink);
  auto run = [&](uint64_t seed, tool_common::round_rules rules) {
    fake_rows f(6);
    tool_common::splitmix64 order{seed};
    std::vector<compare_products::raw_call> raw;
    std::vector<int32_t> progress_rounds;
    tool_common::round_context ctx;
    ctx.a = ctx.b = a.get();
    ctx.check = &check;
    ctx.order = &order;
    ctx.raw = &raw;
    ctx.progress = [&](int32_t round, size_t) { progress_rounds.push_back(round); };
    std::vector<tool_common::row_verdict> differences;
    const int32_t rounds = tool_common::run_rounds(
        f.candidates([](size_t) { return heap_matrix(1, 1, {9}); }), rules, ctx, &differences);
    EXPECT_TRUE(differences.empty());
    // The warm-up calls every row once, untimed, before the rounds.
    EXPECT_EQ(std::count(progress_rounds.begin(), progress_rounds.end(), -1), 6);
    EXPECT_EQ(progress_rounds.size(), 6u * static_cast<size_t>(rounds + 1));
    for (const auto& r : f.rows) {
      EXPECT_EQ(r.seconds.size(), static_cast<size_t>(rounds));
    }
    std::vector<std::vector<size_t>> orders(static_cast<size_t>(rounds));
    for (const auto& c : raw) {
      auto& order_of_round = orders.at(static_cast<size_t>(c.round));
      EXPECT_EQ(c.position, static_cast<int32_t>(order_of_round.size()));
      order_of_round.push_back(c.row);
      EXPECT_DOUBLE_EQ(c.seconds, 0.001 * static_cast<double>(c.row + 1));
    }
    for (auto order_of_round : orders) {
      std::sort(order_of_round.begin(), order_of_round.end());
      EXPECT_EQ(order_of_round, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
    }
    return orders;
  };
  tool_common::round_rules exact;
  exact.exact_rounds = 12;
  const auto first = run(7, exact);
  ASSERT_EQ(first.size(), 12u);
  EXPECT_EQ(run(7, exact), first);  // the same seed, the same orders
  EXPECT_NE(run(8, exact), first);
  EXPECT_GT(std::set<std::vector<size_t>>(first.begin(), first.end()).size(), 6u);
  // Times that never vary are steady at once: the fewest rounds allowed, those
  // that give a 95% interval.
  EXPECT_EQ(run(7, tool_common::round_rules{}).size(), tool_common::kFewestForInterval);
}

TEST(CompareRounds, GoOnWhileASpeedupOverOneThreadIsNotSteady) {
  test_support::owned_matrix a(1, 1, {3});
  test_support::owned_matrix reference(1, 1, {9});
  tool_common::stdout_sink sink;
  const compare_products::result_check check = compare_products::exact_check(reference.get(), sink);
  // Times of a microsecond or two are steady within the clock's step, but
  // their ratio swings between 1 and 2: the rounds must go on for it.
  auto run = [&](bool paired) {
    fake_rows f(2);
    auto candidates = f.candidates([](size_t) { return heap_matrix(1, 1, {9}); });
    int32_t calls = 0;
    candidates[1].call = [&calls](const dense_core::matriz*, const dense_core::matriz*, int32_t) {
      compare_products::call_result got;
      got.product = heap_matrix(1, 1, {9});
      got.seconds = ++calls % 2 == 0 ? 1e-6 : 2e-6;
      return got;
    };
    candidates[0].call = [](const dense_core::matriz*, const dense_core::matriz*, int32_t) {
      compare_products::call_result got;
      got.product = heap_matrix(1, 1, {9});
      got.seconds = 2e-6;
      return got;
    };
    if (paired) {
      candidates[1].one_thread = &f.rows[0];
    }
    tool_common::splitmix64 order{3};
    tool_common::round_context ctx;
    ctx.a = ctx.b = a.get();
    ctx.check = &check;
    ctx.order = &order;
    tool_common::round_rules rules;
    rules.time_budget = 0.0;
    rules.max_rounds = 40;
    std::vector<tool_common::row_verdict> differences;
    return tool_common::run_rounds(candidates, rules, ctx, &differences);
  };
  EXPECT_EQ(run(false), static_cast<int32_t>(tool_common::kFewestForInterval));
  EXPECT_EQ(run(true), 40);
}

TEST(CompareRounds, ReportsEachRowsFirstFailureAndStopsARowThatCannotGoOn) {
  test_support::owned_matrix a(2, 2, {1, 2, 3, 4});
  test_support::owned_matrix reference(2, 2, {7, 10, 15, 22});  // a x a
  tool_common::stdout_sink sink;
  const compare_products::result_check check = compare_products::exact_check(reference.get(), sink);
  fake_rows f(3);
  int calls = 0;
  auto candidates = f.candidates([&](size_t row) -> dense_core::matriz* {
    if (row != 0) {
      return heap_matrix(2, 2, {7, 10, 15, 22});
    }
    // Right in the warm-up, then wrong in row 2 column 1, then wrong elsewhere.
    ++calls;
    if (calls == 1) {
      return heap_matrix(2, 2, {7, 10, 15, 22});
    }
    return heap_matrix(
        2, 2,
        calls == 2 ? std::vector<int32_t>{7, 10, 16, 22} : std::vector<int32_t>{0, 10, 15, 22});
  });
  // Row 1 returns nothing after printing why; row 2's process dies in round 2.
  tool_common::stdout_sink library_output;
  candidates[1].call = compare_products::in_process(
      [](const dense_core::matriz*, const dense_core::matriz*, int32_t) -> dense_core::matriz* {
        std::printf("ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.\n");
        return nullptr;
      },
      &library_output);
  int row2_calls = 0;
  candidates[2].call = [&](const dense_core::matriz*, const dense_core::matriz*, int32_t) {
    compare_products::call_result got;
    if (++row2_calls == 3) {
      got.failure = "crashed (signal 11, SIGSEGV)";
      got.fatal = true;
    } else {
      got.product = heap_matrix(2, 2, {7, 10, 15, 22});
    }
    return got;
  };
  tool_common::splitmix64 order{1};
  tool_common::round_context ctx;
  ctx.a = ctx.b = a.get();
  ctx.check = &check;
  ctx.order = &order;
  tool_common::round_rules rules;
  rules.exact_rounds = 4;
  std::vector<tool_common::row_verdict> differences;
  const std::string printed = test_support::capture_stdout(
      [&] { tool_common::run_rounds(candidates, rules, ctx, &differences); });
  EXPECT_EQ(printed, "");  // mcomparar's verdicts and the library's message went to the sinks
  ASSERT_EQ(differences.size(), 3u);
  EXPECT_EQ(differences[0].of, &f.rows[1]);  // in the warm-up
  EXPECT_EQ(differences[0].verdict,
            "gave no result: ERRO: Matrizes inv\xc3\xa1lidas para multiplica\xc3\xa7\xc3\xa3o.");
  const std::string first_wrong =
      "differs from the sequential product: first differing element row 1, column 0 (0-based): "
      "expected 15, got 16";
  const std::string crashed = "crashed (signal 11, SIGSEGV)";
  for (const auto& d : {differences[1], differences[2]}) {
    EXPECT_EQ(d.verdict, d.of == &f.rows[0] ? first_wrong : crashed);
  }
  EXPECT_FALSE(f.rows[0].identical);
  EXPECT_EQ(f.rows[0].seconds.size(), 4u);
  EXPECT_EQ(f.rows[1].seconds.size(), 4u);
  EXPECT_EQ(f.rows[2].stopped, crashed);
  EXPECT_EQ(f.rows[2].seconds.size(), 1u);  // round 1 only: the crash ended its calls
  EXPECT_EQ(row2_calls, 3);
}

TEST(CompareFactors, ASeedGivesTheSameValuesEveryTime) {
  auto fill = [](uint64_t seed, int32_t limit) {
    test_support::owned_matrix m(3, 40);
    uint64_t state = seed;
    compare_products::fill_seeded(m.get(), limit, &state);
    std::vector<int32_t> values;
    for (int32_t i = 0; i < 3; ++i) {
      values.insert(values.end(), m.get()->mat[i], m.get()->mat[i] + 40);
    }
    return values;
  };
  EXPECT_EQ(fill(7, 100), fill(7, 100));
  EXPECT_NE(fill(7, 100), fill(8, 100));
  for (const auto& [limit, values] : {std::pair{1, fill(0, 1)}, std::pair{5, fill(1, 5)},
                                      std::pair{2147483647, fill(2, 2147483647)}}) {
    for (int32_t v : values) {
      EXPECT_GE(v, 1);
      EXPECT_LE(v, limit);
    }
  }
}

TEST(CompareCheck, AutoUsesTheExactReferenceWhileItIsCheap) {
  using compare_products::check_rule;
  using compare_products::uses_exact_reference;
  EXPECT_TRUE(uses_exact_reference(check_rule::automatic, 512, 512, 512));
  EXPECT_TRUE(uses_exact_reference(check_rule::automatic, 1024, 1024, 1024));
  EXPECT_FALSE(uses_exact_reference(check_rule::automatic, 1025, 1024, 1024));
  EXPECT_FALSE(uses_exact_reference(check_rule::automatic, 2147483647, 2147483647, 1));
  EXPECT_TRUE(uses_exact_reference(check_rule::exact, 4096, 4096, 4096));
  EXPECT_FALSE(uses_exact_reference(check_rule::freivalds, 2, 2, 2));
}

TEST(CompareRounds, ASweepSkipsARowPredictedToTakeTooLongOrThatTimedOut) {
  auto ran = [](const char* name, int32_t threads, int32_t n, std::vector<double> secs) {
    compare_products::row r;
    r.method = &method(name);
    r.threads = threads;
    r.size = {n, n, n};
    r.seconds = std::move(secs);
    return r;
  };
  // tipo5 at 256 and 512 (the larger one counts), omp on 2 threads at 512;
  // kernel on 2 threads timed out at 256 (its warm-up: no time at all).
  std::vector<compare_products::row> done = {
      ran("tipo5", 1, 256, {0.001}), ran("tipo5", 1, 512, {0.3, 0.4, 0.5}),
      ran("omp", 2, 512, {0.3}), ran("kernel", 2, 256, {}), ran("kernel", 1, 256, {0.01})};
  done[3].stopped = tool_common::kTimedOut;
  const struct {
    const char* name;
    int32_t threads;
    int32_t n;
    std::string why;
  } cases[] = {
      {"tipo5", 1, 1024,
       "one repetition would take about 3 s (0.40 s at n = 512); measure it "
       "alone with --size 1024"},
      {"omp", 2, 1024, ""},   // 2.4 s predicted: still under 2.5
      {"omp", 1, 2048, ""},   // never measured on 1 thread: nothing to predict from
      {"tipo5", 1, 512, ""},  // 0.001 s at 256 predicts 0.008 s
      // Not tried again: it would wait out the whole timeout at every size.
      {"kernel", 2, 512, "timed out at n = 256; measure it alone with --size 512"},
      {"kernel", 1, 512, ""},
  };
  for (const auto& c : cases) {
    std::vector<const tool_common::measured_row*> earlier;
    for (const auto& r : done) {
      if (r.method == &method(c.name) && r.threads == c.threads) {
        earlier.push_back(&r);
      }
    }
    EXPECT_EQ(tool_common::sweep_skip_reason(earlier, {c.n, c.n, c.n}, 2.5), c.why)
        << c.name << " " << c.n;
  }
}

TEST(CompareRounds, APlanListsEveryRowInTableOrderWithItsCallOrWhyItIsSkipped) {
  compare_products::options o;
  o.methods = {&method("tipo0"), &method("omp"), &method("cyclic-blocks")};
  o.threads = {1, 4};
  o.sizes = {2, 8};  // a sweep: rows that timed out at a smaller size are not tried again
  tool_common::stdout_sink sink;
  const compare_products::run_context ctx{&sink, nullptr};
  compare_products::row timed_out;
  timed_out.method = &method("omp");
  timed_out.threads = 4;
  timed_out.size = {2, 2, 2};
  timed_out.stopped = tool_common::kTimedOut;
  const auto plan = compare_products::plan_rows(o, {8, 3, 8}, {timed_out}, ctx);
  const struct {
    const char* name;
    int32_t threads;
    std::string skipped;
  } want[] = {
      {"tipo0", 1, ""},
      {"omp", 1, ""},
      {"omp", 4, "timed out at n = 2; measure it alone with --size 8"},
      {"cyclic-blocks", 1, ""},
      {"cyclic-blocks", 4, compare_products::skip_reason(method("cyclic-blocks"), 3, 4)},
  };
  ASSERT_EQ(plan.size(), std::size(want));
  for (size_t i = 0; i < plan.size(); ++i) {
    EXPECT_EQ(plan[i].r.method, &method(want[i].name)) << i;
    EXPECT_EQ(plan[i].r.threads, want[i].threads) << i;
    EXPECT_EQ(plan[i].r.size, (tool_common::shape{8, 3, 8})) << i;
    EXPECT_EQ(plan[i].r.skipped, want[i].skipped) << i;
    EXPECT_EQ(static_cast<bool>(plan[i].call), want[i].skipped.empty()) << i;  // a call only to run
  }
  EXPECT_FALSE(want[4].skipped.empty());
}

TEST(CompareTimeline, LanesFromSpansAndTheirChromeTrace) {
  namespace trace = dense_detail::trace;
  // Thread 30 calls; 41 is the product's thread 1; 77 and 55 are unnumbered
  // workers (55 started first).
  const std::vector<trace::span_record> spans = {
      {trace::kPartition, 10.0, 10.001, 30, -1},  {trace::kBandProduct, 10.001, 10.003, 55, -1},
      {trace::kRows, 10.0015, 10.002, 41, 1},     {trace::kBandProduct, 10.002, 10.004, 77, -1},
      {trace::kAddPart, 10.004, 10.0045, 30, -1},
  };
  const auto p = tool_common::make_lanes("odd \"name\"\\", 10.0, 10.005, 30, spans);
  EXPECT_NEAR(p.total_us, 5000.0, 1e-6);
  ASSERT_EQ(p.lanes.size(), 4u);
  const std::vector<std::string> names = {p.lanes[0].name, p.lanes[1].name, p.lanes[2].name,
                                          p.lanes[3].name};
  EXPECT_EQ(names,
            (std::vector<std::string>{"calling thread", "thread 1", "thread 0", "thread 1"}));
  ASSERT_EQ(p.lanes[0].spans.size(), 2u);
  EXPECT_EQ(p.lanes[0].spans[1].phase, "add part");
  EXPECT_NEAR(p.lanes[0].spans[1].start_us, 4000.0, 1e-6);
  EXPECT_NEAR(p.lanes[2].spans[0].end_us, 3000.0, 1e-6);

  const std::string json = tool_common::chrome_trace_json({p});
  EXPECT_EQ(json.rfind("{\"displayTimeUnit\":\"ms\",\"traceEvents\":[\n", 0), 0u) << json;
  EXPECT_NE(json.find("{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":1,\"tid\":0,\"args\":"
                      "{\"name\":\"odd \\\"name\\\"\\\\\"}}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"name\":\"product\",\"ph\":\"X\",\"pid\":1,\"tid\":0,\"ts\":0.000,"
                      "\"dur\":5000.000}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"name\":\"add part\",\"ph\":\"X\",\"pid\":1,\"tid\":1,\"ts\":4000.000,"
                      "\"dur\":500.000}"),
            std::string::npos)
      << json;
  EXPECT_EQ(json.substr(json.size() - 4), "\n]}\n");
}

}  // namespace

// Text from outside (the machine's name, a product's name) goes into a gnuplot
// script only as a quoted string: a quote, a backslash or a line break in it
// cannot end the string and add commands of its own.
TEST(ComparePlot, EveryTitleIsQuotedForGnuplot) {
  const std::string machine = "CPU \"x\" \\ 2\nsystem \"rm -rf /\"";
  const std::string quoted = "\"CPU \\\"x\\\" \\\\ 2 system \\\"rm -rf /\\\"\"";
  EXPECT_EQ(tool_common::gnuplot_quoted(machine), quoted);
  compare_products::options one;
  one.rows = one.inner = one.cols = 4;
  compare_products::options sweep = one;
  sweep.sizes = {4, 8};
  const std::string scripts[] = {
      compare_products::gnuplot_script({}, one, machine, {}),
      compare_products::gnuplot_script({}, sweep, machine, {}),
      tool_common::timeline_script({}, tool_common::picture_title("t", machine, {})),
  };
  for (const auto& script : scripts) {
    EXPECT_NE(script.find(quoted.substr(1)), std::string::npos) << script;
    EXPECT_EQ(script.find("system \"rm"), std::string::npos) << script;
  }
}
