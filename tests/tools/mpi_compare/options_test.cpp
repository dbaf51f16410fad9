// mpi_compare's options: what each accepts, and the one-line reason for each refusal.
#include "tools/mpi_compare/options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/mpi_compare/report.hpp"

namespace {

mpi_compare::parse_result parse(std::vector<const char*> args) {
  args.insert(args.begin(), "mpi_compare");
  return mpi_compare::parse_options(static_cast<int>(args.size()), args.data());
}

TEST(MpiCompareOptions, RefusesWithOneLineNamingTheOption) {
  struct {
    std::vector<const char*> args;
    std::string error;
  } const cases[] = {
      {{"--size", "0"}, "--size: expected a whole number from 1 to 2147483647, got '0'"},
      {{"--size", "2147483648"},
       "--size: expected a whole number from 1 to 2147483647, got '2147483648'"},
      {{"--size=-5"}, "--size: expected a whole number from 1 to 2147483647, got '-5'"},
      {{"--shape", "3x4"},
       "--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '3x4'"},
      {{"--shape", "3x0x4"},
       "--shape: expected MxKxN, three whole numbers from 1 to 2147483647, got '3x0x4'"},
      {{"--threads", "1,0"},
       "--threads: expected thread counts from 1 to 256 separated by commas, got '1,0'"},
      {{"--threads=1,,2"},
       "--threads: expected thread counts from 1 to 256 separated by commas, got '1,,2'"},
      {{"--threads", "257"},
       "--threads: expected thread counts from 1 to 256 separated by commas, got '257'"},
      {{"--repeat", "x"}, "--repeat: expected a whole number from 1 to 1000, got 'x'"},
      {{"--repeat", "1001"}, "--repeat: expected a whole number from 1 to 1000, got '1001'"},
      {{"--seed", "-1"}, "--seed: expected a whole number from 0 to 4294967295, got '-1'"},
      {{"--seed", "4294967296"},
       "--seed: expected a whole number from 0 to 4294967295, got '4294967296'"},
      {{"--limit", "0"}, "--limit: expected a whole number from 1 to 2147483647, got '0'"},
      {{"--methods", "rows,cannon"},
       "--methods: unknown method 'cannon' (known: rows, summa, summa-blocks, all)"},
      {{"--csv="}, "--csv: the file name is empty"},
      {{"--ranks", "4"}, "unknown option '--ranks' (see --help)"},
      {{"--repeat"}, "--repeat: missing value"},
      {{"--time", "5", "--repeat", "3"}, "--time: --repeat fixes the number of rounds; drop one"},
      {{"--time", "0"}, "--time: expected seconds from 0.1 to 86400, got '0'"},
      {{"--raw="}, "--raw: the file name is empty"},
      {{"--help=yes"}, "--help: takes no value"},
      {{"--version=1"}, "--version: takes no value"},
      {{"512"}, "unexpected argument '512' (see --help)"},
      {{"-x"}, "unknown option '-x' (see --help)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse(c.args).error, c.error) << c.args[0];
  }
}

TEST(MpiCompareOptions, AcceptsValuesInEitherFormAndTheLastOneWins) {
  // Read by the same rules as compare_products: two options that fix the shape are refused.
  EXPECT_EQ(parse({"--size", "64", "--shape=3x5x7"}).error,
            "--size and --shape both fix the shape; drop one");
  const auto r =
      parse({"--shape", "9x9x9", "--shape=3x5x7", "--threads", "4,1,4,2", "--repeat=9", "--seed",
             "4294967295", "--limit=7", "--methods", "summa-blocks,rows", "--csv", "x.csv"});
  ASSERT_EQ(r.error, "");
  const auto& o = r.opts;
  EXPECT_EQ((std::vector<int32_t>{o.rows, o.inner, o.cols}), (std::vector<int32_t>{3, 5, 7}));
  EXPECT_EQ(o.shape_option, "--shape");
  EXPECT_EQ(o.threads, (std::vector<int32_t>{1, 2, 4}));
  EXPECT_EQ(o.repeat, 9);
  EXPECT_EQ(o.seed, 4294967295u);
  EXPECT_EQ(o.limit, 7);
  EXPECT_EQ(o.methods, (std::vector<mpi_compare::method>{mpi_compare::method::rows,
                                                         mpi_compare::method::summa_blocks}));
  EXPECT_EQ(o.csv, "x.csv");
  EXPECT_FALSE(o.no_overlap);
  EXPECT_TRUE(parse({"--no-overlap"}).opts.no_overlap);
  EXPECT_EQ(parse({"--no-overlap=1"}).error, "--no-overlap: takes no value");
}

TEST(MpiCompareOptions, RankCountsDoubleUpToTheRunsOwn) {
  EXPECT_EQ(mpi_compare::rank_counts(1), (std::vector<int32_t>{1}));
  EXPECT_EQ(mpi_compare::rank_counts(2), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(mpi_compare::rank_counts(6), (std::vector<int32_t>{1, 2, 4, 6}));
  EXPECT_EQ(mpi_compare::rank_counts(8), (std::vector<int32_t>{1, 2, 4, 8}));
}

// The model the table prints beside the counted bytes, on numbers worked by hand.
TEST(MpiCompareModel, BytesPerRankFollowWhatEachAlgorithmMoves) {
  const int row4[2] = {4, 1}, grid4[2] = {2, 2}, one[2] = {1, 1};
  struct {
    mpi_compare::method m;
    const int* grid;
    double want;  // bytes per rank for 8x8 times 8x8
  } const cases[] = {
      // a and c: 3/4 of 64 elements each leave or reach rank 0; b: 64 to each of 3 ranks.
      {mpi_compare::method::rows, row4, 4.0 * (48 + 192 + 48) / 4},
      // panels: each of 2 grid rows passes 32 elements of a to 1 other rank, same for b.
      {mpi_compare::method::summa_blocks, grid4, 4.0 * (64 + 64) / 4},
      {mpi_compare::method::summa, grid4, 4.0 * (128 + 3 * 48) / 4},
      {mpi_compare::method::summa, one, 0.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(mpi_compare::model_bytes_per_rank(c.m, c.grid, 8, 8, 8), c.want)
        << static_cast<int>(c.m) << " on " << c.grid[0] << "x" << c.grid[1];
  }
}

}  // namespace
