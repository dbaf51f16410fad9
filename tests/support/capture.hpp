// Byte-exact capture of what a call writes to stdout, and of calls that end the process.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace test_support {

// Runs `body` with stdout pointed at a temporary file (a pipe would block
// past 64 KiB) and returns every byte it wrote.
std::string capture_stdout(const std::function<void()>& body);

}  // namespace test_support

// Runs `statement` in a child process and expects it to end with exit status
// `status` after writing exactly `expected` to stdout. The child points its
// stdout at stderr, which is what the death test compares.
#define EXPECT_EXIT_STDOUT(statement, status, expected) \
  EXPECT_EXIT(                                          \
      {                                                 \
        std::fflush(stdout);                            \
        ::dup2(2, 1);                                   \
        statement;                                      \
      },                                                \
      ::testing::ExitedWithCode(status), ::testing::Eq(std::string(expected)))
