// compare_products meeting a wrong product: a copy of the tool whose cyclic thread product
// comes back changed (see changed_product.cpp) must name the method and the first differing
// element on stderr and exit 1, the status for "a result differs".
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/child.hpp"

namespace {

TEST(CompareProductsWrongResult, ExitsOneNamingTheMethodAndTheFirstDifferingElement) {
  std::string dir = ::testing::TempDir() + "compare_wrong_XXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  // A is 3x2, B is 2x3: the exact product's row 2 is 3*1+4*2, 3*3+4*4, 3*5+4*6 = 11 25 39.
  std::ofstream(dir + "/a.txt") << "#Linha#Coluna#\n3#2#\n1,2,\n3,4,\n5,6,\n";
  std::ofstream(dir + "/b.txt") << "#Linha#Coluna#\n2#3#\n1,3,5,\n2,4,6,\n";

  // The exact reference and Freivalds' test must report the wrong result the same way.
  for (const char* check : {"exact", "freivalds"}) {
    SCOPED_TRACE(std::string("--verify ") + check);
    const auto r = test_support::run_program(
        COMPARE_PRODUCTS_CHANGED_PATH,
        {"--load", dir + "/a.txt", dir + "/b.txt", "--methods", "tipo0,cyclic", "--threads", "2",
         "--repeat", "1", "--verify", check});
    EXPECT_EQ(r.status, 1) << r.err;
    // One line names the cyclic method, and no other method is blamed.
    const size_t at = r.err.find("compare_products: cyclic ");
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string line = r.err.substr(at, r.err.find('\n', at) - at);
    EXPECT_NE(line.find("first differing element row 1, column 2 (0-based): expected 39, got 40"),
              std::string::npos)
        << line;
    EXPECT_EQ(r.err.find("tipo0"), std::string::npos) << r.err;
  }
  ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
