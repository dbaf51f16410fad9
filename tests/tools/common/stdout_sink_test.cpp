// What a library call prints, set aside and kept only up to a few KiB.
#include "tools/common/stdout_sink.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/capture.hpp"

TEST(StdoutSink, CatchesPrintedBytesAndRestoresStdout) {
  tool_common::stdout_sink sink;
  std::string caught;
  const std::string printed = test_support::capture_stdout([&] {
    std::printf("before ");
    sink.begin();
    EXPECT_TRUE(sink.active());
    std::printf("hidden\n");
    caught = sink.end();
    EXPECT_FALSE(sink.active());
    std::printf("after");
    sink.begin();  // a second use starts empty
    std::printf("x");
    caught += "|" + sink.end();
  });
  EXPECT_EQ(printed, "before after");
  EXPECT_EQ(caught, "hidden\n|x");
  EXPECT_EQ(tool_common::one_line("RESULTADO: ok\n"), "RESULTADO: ok");

  // A flood is read to its end and dropped after the first few KiB: nothing piles up.
  std::string flood;
  test_support::capture_stdout([&] {
    sink.begin();
    const std::string block(1 << 16, 'x');
    for (int i = 0; i < 256; ++i) {  // 16 MiB
      std::fwrite(block.data(), 1, block.size(), stdout);
    }
    flood = sink.end();
  });
  EXPECT_EQ(flood, std::string(tool_common::stdout_sink::kKeptBytes, 'x'));
  EXPECT_EQ(tool_common::one_line("a\n\t- b 1\n\t- c -2\n\n"), "a; b 1; c -2");
}

// A thread started for each call is still runnable as the timed call begins,
// where the team kernel counts it as another program's load: after the first
// call, begin() starts none.
TEST(StdoutSink, ACallStartsNoThread) {
  const auto threads = [] {
    int n = 0;
    DIR* d = opendir("/proc/self/task");
    while (dirent* e = readdir(d)) {
      n += e->d_name[0] != '.';
    }
    closedir(d);
    return n;
  };
  tool_common::stdout_sink sink;
  int before = 0;
  int during = 0;
  test_support::capture_stdout([&] {
    sink.begin();
    std::printf("first");
    sink.end();
    before = threads();
    sink.begin();
    during = threads();
    std::printf("second");
    const int late = dup(1);  // a writer that outlives the call, as a forked child would
    EXPECT_EQ(sink.end(), "second");
    EXPECT_EQ(write(late, "late", 4), 4);
    close(late);
    sink.begin();  // what came between the calls is no one's
    std::printf("third");
    EXPECT_EQ(sink.end(), "third");
  });
  EXPECT_EQ(during, before);
}
