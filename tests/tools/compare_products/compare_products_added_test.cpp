// Products of one's own in compare_products (--add): each verdict, the refusals, the hand-over of
// factors and results through shared memory, and that no worker process outlives the tool.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child.hpp"
#include "support/matrices.hpp"
#include "tools/compare_products/worker.hpp"

extern char** environ;

namespace {

using test_support::run_program;

const std::string kProgram = COMPARE_PRODUCTS_PATH;

std::string slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The processes that have `path` mapped: the workers that loaded it.
std::vector<int> processes_mapping(const std::string& path) {
  std::vector<int> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return found;
  }
  while (const dirent* e = readdir(proc)) {
    const int pid = std::atoi(e->d_name);
    if (pid > 0 &&
        slurp("/proc/" + std::string(e->d_name) + "/maps").find(path) != std::string::npos) {
      found.push_back(pid);
    }
  }
  closedir(proc);
  return found;
}

// Whether `done` comes true within `seconds`, looking every 20 ms.
template <typename F>
bool within(double seconds, F done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Starts the tool with `args`, its output thrown away; its pid.
pid_t start_in_background(std::vector<std::string> args) {
  args.insert(args.begin(), kProgram);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t tool = -1;
  EXPECT_EQ(posix_spawn(&tool, kProgram.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return tool;
}

// Each test works on its own copy of the products, so the processes that
// map it are this test's workers and no other test's.
class AddedProducts : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "compare_added_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    products_ = dir_ + "/products.so";
    std::ofstream(products_, std::ios::binary) << slurp(ADDED_PRODUCTS_PATH);
  }
  void TearDown() override {
    EXPECT_TRUE(processes_mapping(products_).empty()) << "a worker outlived its test";
    ASSERT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0);
  }

  std::string dir_;
  std::string products_;
};

// The result cells of the table's rows whose method is `label`, by thread count.
std::vector<std::string> result_cells(const std::string& table, const std::string& label) {
  std::vector<std::string> cells;
  std::stringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(label + " ", 0) != 0) {
      continue;
    }
    // Columns are set apart by two spaces or more; the result is the 7th, after the method.
    std::vector<std::string> row;
    for (size_t at = 0; at != std::string::npos && at < line.size();) {
      const size_t end = line.find("  ", at);
      row.push_back(line.substr(at, end == std::string::npos ? end : end - at));
      at = end == std::string::npos ? end : line.find_first_not_of(' ', end);
    }
    cells.push_back(row.size() > 6 ? row[6] : "(short row) " + line);
  }
  return cells;
}

TEST_F(AddedProducts, EachVerdictInItsRowsTheCsvAndTheExitStatus) {
  struct verdict_case {
    std::string symbol;
    std::vector<std::string> more;  // further options
    std::string table_cell;         // every row of the product says this
    std::string csv_word;
    int status;
    std::string on_stderr;  // a part of its line on stderr; empty: nothing said
  };
  // Every faulty product fails the battery at its first failing case, names it, and is not
  // timed; the battery's largest thread count is the run's, 2.
  const std::string signature =
      "; is it extern \"C\" dense_core::matriz* NAME(const dense_core::matriz*, const "
      "dense_core::matriz*, int32_t)?";
  const std::string battery = "failed the battery (not timed) at ";
  const std::vector<verdict_case> cases = {
      {"team_kernel_product", {}, "identical", "identical", 0, ""},
      // The battery checks exactly whatever --verify says.
      {"one_wrong",
       {},
       "DIFFERS at 11x1x13 on 2 threads",
       "DIFFERS at 11x1x13 on 2 threads",
       1,
       battery + "11x1x13 on 2 threads: differs from the sequential product: first differing "
                 "element row 2, column 1 (0-based): expected "},
      {"one_wrong",
       {"--verify", "freivalds"},
       "DIFFERS at 11x1x13 on 2 threads",
       "DIFFERS at 11x1x13 on 2 threads",
       1,
       "first differing element row 2, column 1 (0-based)"},
      // The classic faults a check at the run's own shape lets through.
      {"unrolled_by_four",
       {},
       "DIFFERS at 1x1x1 on 1 thread",
       "DIFFERS at 1x1x1 on 1 thread",
       1,
       battery + "1x1x1 on 1 thread: differs from the sequential product: first differing "
                 "element row 0, column 0 (0-based): expected "},
      {"remainder_forgotten",
       {},
       "DIFFERS at 1x1x1 on 2 threads",
       "DIFFERS at 1x1x1 on 2 threads",
       1,
       battery + "1x1x1 on 2 threads: differs from the sequential product: first differing "
                 "element row 0, column 0 (0-based): expected "},
      // Right results from products that changed an input, either factor.
      {"scribbles_b",
       {},
       "changed its input B at 1x1x1 on 1 thread",
       "changed its input B at 1x1x1 on 1 thread",
       1,
       battery + "1x1x1 on 1 thread: changed its input B: first changed element row 0, column 0 "
                 "(0-based): handed over "},
      {"scribbles_a",
       {},
       "changed its input A at 1x1x1 on 1 thread",
       "changed its input A at 1x1x1 on 1 thread",
       1,
       "changed its input A: first changed element row 0, column 0 (0-based): handed over "},
      {"shrinks_factors",
       {},
       "changed its input A at 1x37x1 on 1 thread",
       "changed its input A at 1x37x1 on 1 thread",
       1,
       battery + "1x37x1 on 1 thread: changed its input A: its record (lin, col or mat) was 1x37, "
                 "now 1x1"},
      {"null_write",
       {},
       "crashed (signal 11, SIGSEGV) at 1x1x1 on 1 thread",
       "crashed (signal 11, SIGSEGV) at 1x1x1 on 1 thread",
       1,
       battery + "1x1x1 on 1 thread: crashed (signal 11, SIGSEGV)" + signature + "\n"},
      {"calls_exit",
       {},
       "exited (status 3) at 1x1x1 on 1 thread",
       "exited (status 3) at 1x1x1 on 1 thread",
       1,
       "1x1x1 on 1 thread: exited (status 3)\n"},
      {"no_result",
       {},
       "gave no result at 1x1x1 on 1 thread",
       "gave no result at 1x1x1 on 1 thread",
       1,
       "1x1x1 on 1 thread: gave no result: ERRO: Matriz inexistente."},
      {"wrong_shape",
       {},
       "gave a 2x1 result at 1x1x1 on 1 thread",
       "gave a 2x1 result at 1x1x1 on 1 thread",
       1,
       "1x1x1 on 1 thread: gave a 2x1 result; the product is 1x1"},
      // The worker's own end counts, though a child of the product holds its socket open.
      {"forks_then_aborts",
       {"--timeout", "30"},
       "crashed (signal 6, SIGABRT) at 1x1x1 on 1 thread",
       "crashed (signal 6, SIGABRT) at 1x1x1 on 1 thread",
       1,
       "1x1x1 on 1 thread: crashed (signal 6, SIGABRT)" + signature},
      // Right, each in its own way of spoiling the worker for the next call: a
      // child left behind (TearDown finds it), every descriptor closed.
      {"forks_and_returns", {}, "identical", "identical", 0, ""},
      {"closes_descriptors", {}, "identical", "identical", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.symbol);
    const std::string csv = dir_ + "/run.csv";
    // The label is the symbol's name, so ":SYMBOL" is left out of every other case.
    const std::string add = c.symbol + "=" + products_ + (c.status == 0 ? ":" + c.symbol : "");
    std::vector<std::string> args = {"--add",     add,   "--shape",  "7x5x3", "--methods", "tipo1",
                                     "--threads", "1,2", "--repeat", "2",     "--csv",     csv};
    args.insert(args.end(), c.more.begin(), c.more.end());
    const auto start = std::chrono::steady_clock::now();
    const auto r = run_program(kProgram, args);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0)
        << "a verdict waited for a timeout";
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(result_cells(r.out, c.symbol), std::vector<std::string>(2, c.table_cell)) << r.out;
    // The other rows are measured and checked as ever.
    EXPECT_EQ(result_cells(r.out, "tipo1"), std::vector<std::string>{"identical"}) << r.out;
    const std::string table = slurp(csv);
    size_t rows = 0;
    for (size_t at = 0; (at = table.find("\n" + c.symbol + ",", at)) != std::string::npos; ++at) {
      const size_t end = table.find('\n', at + 1);
      const std::string line = table.substr(at + 1, end - at - 1);
      // method and library_call first.
      EXPECT_EQ(line.rfind(c.symbol + "," + products_ + ":" + c.symbol + ",", 0), 0u) << line;
      const bool quoted = c.csv_word.find(',') != std::string::npos;
      EXPECT_NE(line.find(quoted ? ",\"" + c.csv_word + "\"," : "," + c.csv_word + ","),
                std::string::npos)
          << line;
      ++rows;
    }
    EXPECT_EQ(rows, 2u) << table;
    if (c.on_stderr.empty()) {
      EXPECT_EQ(r.err.find("compare_products: " + c.symbol), std::string::npos) << r.err;
    } else {
      EXPECT_NE(
          r.err.find("compare_products: " + c.symbol + " (" + products_ + ":" + c.symbol + ") "),
          std::string::npos)
          << r.err;
      EXPECT_NE(r.err.find(c.on_stderr), std::string::npos) << r.err;
    }
  }
}

TEST_F(AddedProducts, AProductThatNeverReturnsIsStoppedAfterTheTimeout) {
  const auto start = std::chrono::steady_clock::now();
  const auto r = run_program(
      kProgram, {"--add", "hang=" + products_ + ":never_returns", "--size", "8", "--methods",
                 "tipo1", "--threads", "1", "--repeat", "2", "--timeout", "2"});
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(result_cells(r.out, "hang"), std::vector<std::string>{"timed out at 1x1x1 on 1 thread"})
      << r.out;
  EXPECT_EQ(result_cells(r.out, "tipo1"), std::vector<std::string>{"identical"}) << r.out;
  // The limit, and how to change it.
  EXPECT_NE(r.err.find("compare_products: hang (" + products_ +
                       ":never_returns) failed the battery (not timed) at 1x1x1 on 1 thread: "
                       "timed out (a call may take 2 s: give it more with --timeout SECONDS, or "
                       "TIMEOUT=SECONDS for make try)\n"),
            std::string::npos)
      << r.err;
  EXPECT_GE(took, 2.0);
  EXPECT_LT(took, 8.0);  // one call stopped, never waited for again
}

TEST_F(AddedProducts, RefusesWhatCannotBeLoadedBeforeAnyWork) {
  std::ofstream(dir_ + "/text.so") << std::string(10, '#') + " not a shared object, only text\n"
                                   << std::string(100, '#') << "\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"mine=" + dir_ + "/none.so",
       "--add: " + dir_ +
           "/none.so: cannot open: cannot open shared object file: No such file or "
           "directory"},
      {"mine=" + dir_ + "/text.so", "--add: " + dir_ + "/text.so: cannot open: invalid ELF header"},
      {"mine=" + products_ + ":absent", "--add: " + products_ + " has no symbol 'absent'; "},
      {"mine=" + products_, "--add: " + products_ + " has no symbol 'mine'; "},
      {"kernel=" + products_ + ":one_wrong",
       "--add: label 'kernel' is a method's name; choose another"},
  };
  for (const auto& [add, why] : cases) {
    SCOPED_TRACE(add);
    // A correct product first, so that a worker is running when the refusal comes.
    const auto r = run_program(kProgram, {"--add", "fine=" + products_ + ":team_kernel_product",
                                          "--add", add, "--csv", dir_ + "/out.csv"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    // A missing symbol's line goes on (AMissingSymbolListsWhatLooksLikeAProduct).
    const std::string said = "compare_products: " + why;
    EXPECT_EQ(why.back() == ' ' ? r.err.substr(0, said.size()) : r.err,
              why.back() == ' ' ? said : said + "\n");
    EXPECT_FALSE(std::ifstream(dir_ + "/out.csv").good()) << "a refused run wrote its CSV";
    EXPECT_TRUE(processes_mapping(products_).empty()) << "a refused run left a worker";
  }
}

// A misnamed product or one without extern "C": the functions of the object that look like
// products are listed (a C++ name first, with the cure), then the contract.
TEST_F(AddedProducts, AMissingSymbolListsWhatLooksLikeAProduct) {
  const std::string tiles = EXERCISES_DIR "/tiles_atomic.so";
  const std::string contract =
      "; a product is extern \"C\" dense_core::matriz* NAME(const dense_core::matriz*, const "
      "dense_core::matriz*, int32_t), named by LABEL=PATH:NAME (SYMBOL=NAME for make try)\n";
  struct missing {
    std::string path;
    std::string symbol;
    std::string listed;  // what follows "look like products: "; the list ends here when `whole`
    bool whole;
  };
  const std::vector<missing> cases = {
      // Its dynamic symbol table also holds the std:: templates it instantiates and the
      // library functions it calls; none of them is listed.
      {tiles, "tiles_atomc", "tiles_atomic", true},
      {products_, "forgot_extern_c",
       "forgot_extern_c(dense_core::matriz const*, dense_core::matriz const*, int) (a C++ name: "
       "declare it extern \"C\"), ",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.symbol);
    const auto r = run_program(kProgram, {"--add", "mine=" + c.path + ":" + c.symbol});
    EXPECT_EQ(r.status, 2);
    const std::string start = "compare_products: --add: " + c.path + " has no symbol '" + c.symbol +
                              "'; the functions it exports that look like products: " + c.listed;
    if (c.whole) {
      EXPECT_EQ(r.err, start + contract);
      continue;
    }
    EXPECT_EQ(r.err.substr(0, start.size()), start);
    ASSERT_GE(r.err.size(), contract.size());
    EXPECT_EQ(r.err.substr(r.err.size() - contract.size()), contract);
  }
}

TEST_F(AddedProducts, NoWorkerOutlivesAToolThatIsKilled) {
  const pid_t tool = start_in_background({"--add", "hang=" + products_ + ":never_returns", "--size",
                                          "8", "--methods", "tipo1", "--timeout", "600"});
  const bool started = within(20.0, [&] { return !processes_mapping(products_).empty(); });
  // Then into the call that never returns (the warm-up reaches it in microseconds): a worker
  // waiting for a request would end by itself when the socket closes, one in a call must be killed.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(tool, SIGKILL);
  int status = 0;
  waitpid(tool, &status, 0);
  ASSERT_TRUE(started) << "no worker loaded the product";
  EXPECT_TRUE(within(5.0, [&] { return processes_mapping(products_).empty(); }));
}

TEST_F(AddedProducts, TheStarterAndTheWorkedExamplesAreRightAtEveryThreadCount) {
  std::vector<std::string> args = {"--shape",   "70x33x129", "--methods", "tipo1",
                                   "--threads", "1,2,3",     "--repeat",  "1"};
  const std::vector<std::string> names = {"my_product", "transposed_rows", "tiles_atomic"};
  for (const auto& name : names) {
    args.emplace_back("--add");
    std::string added = name;
    added += "=" EXERCISES_DIR "/";
    added += name;
    added += ".so";
    args.push_back(added);
  }
  const auto r = run_program(kProgram, args);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const auto& name : names) {
    EXPECT_EQ(result_cells(r.out, name), std::vector<std::string>(3, "identical")) << r.out;
  }
}

// The worker on its own: factors of any shape go over and the result comes
// back whole, and the worker's CPU time is counted as ours.
TEST_F(AddedProducts, FactorsAndResultsOfAnyShapeCrossTheSharedMemory) {
  compare_products::worker w(WORKER_PATH);
  ASSERT_EQ(w.load(products_, "team_kernel_product", 60.0), "");
  const double cpu_before = compare_products::workers_cpu_seconds();
  // 1x1x1, shapes with one row or column, and results that pass a page (4 KiB).
  const int32_t shapes[][3] = {{1, 1, 1}, {7, 5, 3}, {3, 1, 1000}, {1000, 2, 1}, {130, 300, 9}};
  uint32_t seed = 1;
  for (const auto& s : shapes) {
    SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]) + "x" + std::to_string(s[2]));
    test_support::owned_matrix a(s[0], s[1]);
    test_support::owned_matrix b(s[1], s[2]);
    test_support::fill_random(a, seed++, INT32_MIN / 2, INT32_MAX / 2);
    test_support::fill_random(b, seed++);
    for (int32_t threads : {1, 2}) {
      compare_products::call_result got = w.multiply(a.get(), b.get(), threads, 60.0);
      ASSERT_EQ(got.failure, "");
      test_support::result_ptr c(got.product);
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->lin, s[0]);
      EXPECT_EQ(c->col, s[2]);
      EXPECT_EQ(test_support::values_of(c.get()),
                test_support::reference_product(a.get(), b.get()));
      EXPECT_GE(got.seconds, 0.0);
    }
  }
  // A worker that works shows in the CPU time of our workers.
  test_support::owned_matrix big(300, 300);
  for (int i = 0; i < 20; ++i) {
    test_support::result_ptr c(w.multiply(big.get(), big.get(), 1, 60.0).product);
  }
  EXPECT_GT(compare_products::workers_cpu_seconds(), cpu_before);
  w.stop();
  EXPECT_FALSE(w.running());
}

// With no room above descriptor 1023 for the worker's spare copies, a product
// that closes every descriptor leaves the worker unable to answer: its rows
// say so, never "exited (status 0)".
TEST_F(AddedProducts, AProductThatClosesEveryDescriptorIsNamedForIt) {
  const auto r =
      run_program("/bin/sh", {"-c", "ulimit -n 1024; exec \"$0\" \"$@\"", kProgram, "--add",
                              "closer=" + products_ + ":closes_descriptors", "--size", "8",
                              "--methods", "tipo1", "--threads", "1", "--repeat", "1"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(
      result_cells(r.out, "closer"),
      std::vector<std::string>{"closed the descriptors its worker answers on at 1x1x1 on 1 thread"})
      << r.out;
}

// SIGINT and SIGTERM end the workers and undo the run's claims before the tool ends of the signal.
TEST_F(AddedProducts, AnInterruptedRunEndsItsWorkersAndLeavesNoFileItMade) {
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    const std::string csv = dir_ + "/new.csv";
    const std::string save = dir_ + "/new/dir";
    const pid_t tool = start_in_background({"--add", "hang=" + products_ + ":never_returns",
                                            "--size", "8", "--methods", "tipo1", "--timeout", "600",
                                            "--csv", csv, "--save", save});
    ASSERT_TRUE(within(20.0, [&] { return !processes_mapping(products_).empty(); }))
        << "no worker loaded the product";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the call
    EXPECT_TRUE(std::ifstream(csv).good()) << "the CSV was not claimed before the run";
    kill(tool, sig);
    int status = 0;
    waitpid(tool, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    // Already gone when the tool is: its handler waited for them.
    EXPECT_TRUE(processes_mapping(products_).empty());
    EXPECT_FALSE(std::ifstream(csv).good());
    EXPECT_NE(access((dir_ + "/new").c_str(), F_OK), 0) << "the folders --save made are left";
  }
}

// A worker stopped in the middle of a call is reaped at once, and the CPU
// time it spent is counted as the tool's own, never as another program's.
TEST_F(AddedProducts, AStoppedWorkerIsReapedAndItsCpuTimeCounted) {
  compare_products::worker w(WORKER_PATH);
  ASSERT_EQ(w.load(products_, "spins", 60.0), "");
  const pid_t pid = w.pid();
  const double before = compare_products::workers_cpu_seconds();
  test_support::owned_matrix a(4, 4);
  const compare_products::call_result got = w.multiply(a.get(), a.get(), 1, 1.5);
  EXPECT_EQ(got.failure, "timed out");
  EXPECT_FALSE(w.running());
  errno = 0;
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "the worker was left a zombie";
  EXPECT_EQ(errno, ECHILD);
  // It spun for 1.5 s of wall time; a tenth of that on the busiest machine.
  EXPECT_GT(compare_products::workers_cpu_seconds() - before, 0.15);

  // A child the product left spinning is counted while it runs, and no less once reaped.
  ASSERT_EQ(w.load(products_, "forks_a_spinner", 60.0), "");
  const double started = compare_products::workers_cpu_seconds();
  test_support::result_ptr c(w.multiply(a.get(), a.get(), 1, 60.0).product);
  ASSERT_NE(c, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const double running = compare_products::workers_cpu_seconds();
  EXPECT_GT(running - started, 0.15);
  w.stop();
  EXPECT_GE(compare_products::workers_cpu_seconds(), running - 0.01);
}

}  // namespace
