// New zeroed result records and their release: what they give back and that
// they print nothing beyond malocar's own explanations, since every caller
// adds its own message around them.
#include "common/matrix_records.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/capture.hpp"
#include "support/matrices.hpp"

using test_support::capture_stdout;
using test_support::values_of;

namespace {

struct zeroed_case {
  int32_t lin;
  int32_t col;
  bool made;
  const char* printed;
};

TEST(NewZeroedMatrix, GivesAZeroedRecordOrNullWithMalocarsReason) {
  const zeroed_case cases[] = {
      {2, 3, true, ""},
      {1, 1, true, ""},
      {0, 3, false, "ERRO: n\xc3\xbamero de linhas indefinido.\n"},
      {-4, 3, false, "ERRO: n\xc3\xbamero de linhas indefinido.\n"},
      {2, 0, false, "ERRO: n\xc3\xbamero de colunas indefinido.\n"},
  };
  for (const zeroed_case& c : cases) {
    dense_core::matriz* m = nullptr;
    EXPECT_EQ(capture_stdout([&] { m = dense_detail::new_zeroed_matrix(c.lin, c.col); }), c.printed)
        << c.lin << " x " << c.col;
    ASSERT_EQ(m != nullptr, c.made) << c.lin << " x " << c.col;
    if (m == nullptr) {
      continue;
    }
    EXPECT_EQ(m->lin, c.lin);
    EXPECT_EQ(m->col, c.col);
    EXPECT_EQ(values_of(m), std::vector<int32_t>(static_cast<size_t>(c.lin * c.col), 0));
    EXPECT_EQ(capture_stdout([&] { dense_detail::release_matrix(m); }), "");
  }
}

TEST(ReleaseMatrix, NullAndRecordsWithoutStorageAreReleasedSilently) {
  EXPECT_EQ(capture_stdout([] { dense_detail::release_matrix(nullptr); }), "");
  dense_core::matriz* bare = dense_detail::new_matrix_record(3, 4);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->mat, nullptr);
  EXPECT_EQ(bare->lin, 3);
  EXPECT_EQ(bare->col, 4);
  EXPECT_EQ(capture_stdout([&] { dense_detail::release_matrix(bare); }), "");
}

}  // namespace
