// The number splitter.
#include <cstdlib>
#include <dense/textio.hpp>
#include <random>
#include <string>
#include <vector>

#include "support/capture.hpp"

using test_support::capture_stdout;

namespace {

constexpr int32_t kUntouched = 0x5a5a5a5a;
const char kTooLong[] = "ERROR: N\xEF\xBF\xBDmero mto grande.\n";

std::string over_limit(int count) {
  return "Error: Ultrapassou o n\xEF\xBF\xBDmero m\xEF\xBF\xBDximo de palavras (" +
         std::to_string(count) + ")\n";
}

struct split_run {
  std::vector<int32_t> out;
  std::string printed;
  int32_t result = -1;
};

// Splits `text` into an array of `room` entries that start out untouched.
split_run split(const std::string& text, char delim, int32_t maximo, size_t room = 8) {
  split_run r;
  r.out.assign(room, kUntouched);
  r.printed = capture_stdout(
      [&] { r.result = textio::splitv2(text.c_str(), delim, maximo, r.out.data()); });
  return r;
}

// What strtol makes of the whole word, low 32 bits kept.
int32_t strtol_low_bits(const std::string& word) {
  return static_cast<int32_t>(static_cast<uint32_t>(std::strtol(word.c_str(), nullptr, 10)));
}

// How many digits strtol reads in `word`: after white space and a sign.
size_t digits_read(const std::string& word) {
  const size_t start = word.find_first_not_of(" \t\n\v\f\r");
  if (start == std::string::npos) {
    return 0;
  }
  const size_t first = start + (word[start] == '+' || word[start] == '-' ? 1 : 0);
  const size_t end = word.find_first_not_of("0123456789", first);
  return (end == std::string::npos ? word.size() : end) - first;
}

}  // namespace

TEST(Splitv2, ConvertsEveryClosedWordAndDropsTheTail) {
  auto r = split("12#34#", '#', 2);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.printed, "");
  EXPECT_EQ(r.out, (std::vector<int32_t>{12, 34, kUntouched, kUntouched, kUntouched, kUntouched,
                                         kUntouched, kUntouched}));

  r = split("7,,9,", ',', 8);
  EXPECT_EQ((std::vector<int32_t>(r.out.begin(), r.out.begin() + 4)),
            (std::vector<int32_t>{7, 0, 9, kUntouched}));

  // The 6 after the last delimiter is no word: entry 1 keeps its value.
  r = split("5#6", '#', 8);
  EXPECT_EQ(r.out[0], 5);
  EXPECT_EQ(r.out[1], kUntouched);

  for (const char* text : {"", "123", "4,5"}) {
    r = split(text, '#', 8);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, std::vector<int32_t>(8, kUntouched)) << text;
  }
}

TEST(Splitv2, WordsFollowStrtolRules) {
  auto r = split(" -3,+4,12abc,abc,\t\n 8,-,", ',', 8);
  EXPECT_EQ(r.printed, "");
  EXPECT_EQ((std::vector<int32_t>(r.out.begin(), r.out.begin() + 7)),
            (std::vector<int32_t>{-3, 4, 12, 0, 8, 0, kUntouched}));
}

TEST(Splitv2, ConvertsOnlyInsideTheWordWhateverTheDelimiter) {
  // With a space as delimiter, strtol on the raw text would skip the empty
  // words' delimiters and read the next word's digits.
  auto r = split("  7 ", ' ', 8);
  EXPECT_EQ((std::vector<int32_t>(r.out.begin(), r.out.begin() + 4)),
            (std::vector<int32_t>{0, 0, 7, kUntouched}));
  // A digit as delimiter: the word before it is 2, not 213.
  r = split("21345", '1', 8);
  EXPECT_EQ(r.out[0], 2);
  EXPECT_EQ(r.out[1], kUntouched);
  r = split("9-9-", '-', 8);
  EXPECT_EQ(r.out[0], 9);
  EXPECT_EQ(r.out[1], 9);
}

TEST(Splitv2, TheSignIsNoDigit) {
  // Every int32 value's text has at most ten digits: no warning.
  auto r = split("-2147483648#2147483647#-1000000000#", '#', 3);
  EXPECT_EQ(r.printed, "");
  EXPECT_EQ((std::vector<int32_t>(r.out.begin(), r.out.begin() + 3)),
            (std::vector<int32_t>{INT32_MIN, INT32_MAX, -1000000000}));
  // Eleven digits warn, leading zeros included, and are stored whole; white
  // space counts no more than the sign.
  r = split("-00000000017#+12345678901#   \t-2147483648#", '#', 3);
  EXPECT_EQ(r.printed, std::string(kTooLong) + kTooLong);
  EXPECT_EQ(r.out[0], -17);
  EXPECT_EQ(r.out[1], strtol_low_bits("12345678901"));
  EXPECT_EQ(r.out[2], INT32_MIN);
}

TEST(Splitv2, KeepsTheLow32BitsWithoutWarningUpToTenCharacters) {
  auto r = split("4294967297,4294967295,9999999999,", ',', 3);
  EXPECT_EQ(r.printed, "");
  EXPECT_EQ(r.out[0], 1);
  EXPECT_EQ(r.out[1], -1);
  EXPECT_EQ(r.out[2], strtol_low_bits("9999999999"));
}

TEST(Splitv2, LongWordsWarnOnceEachAndAreConvertedWhole) {
  // Cutting to 11 characters would give 4 and 0; storing 0 would give 0.
  auto r = split("000000000042#   -00000000017#12345678901234#", '#', 3);
  EXPECT_EQ(r.printed, std::string(kTooLong) + kTooLong + kTooLong);
  EXPECT_EQ(r.out[0], 42);
  EXPECT_EQ(r.out[1], -17);
  EXPECT_EQ(r.out[2], strtol_low_bits("12345678901234"));

  // Far beyond a long: strtol saturates, and the low bits of that are kept.
  const std::string huge(300, '9');
  r = split(huge + "#-" + huge + "#+" + huge + "x#", '#', 3);
  EXPECT_EQ(r.out[0], strtol_low_bits(huge));
  EXPECT_EQ(r.out[1], strtol_low_bits("-" + huge));
  EXPECT_EQ(r.out[2], strtol_low_bits(huge));
  EXPECT_EQ(r.out[0], -1);  // LONG_MAX
  EXPECT_EQ(r.out[1], 0);   // LONG_MIN
}

TEST(Splitv2, AnyWordConvertsAsStrtolConvertsItsCopy) {
  std::mt19937 gen(2024);
  const std::string alphabet = " \t+-0000123456789xa.";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<size_t> length(0, 40);
  for (int round = 0; round < 3000; ++round) {
    std::string word;
    for (size_t n = length(gen); n > 0; --n) {
      word += alphabet[pick(gen)];
    }
    auto r = split(word + ";", ';', 1, 1);
    ASSERT_EQ(r.out[0], strtol_low_bits(word)) << '"' << word << '"';
    ASSERT_EQ(r.printed, digits_read(word) > 10 ? kTooLong : "") << '"' << word << '"';
  }
}

TEST(Splitv2, ShortSignedWordsConvertAsStrtolDoes) {
  for (const char* word : {"+7", "-0", "+", "-", "--5", "+-5", "5-", "-4294967296", "+4294967295",
                           "00000000009", "-2147483649", "1 ", " 1", "0x1f"}) {
    auto r = split(std::string(word) + ";", ';', 1, 1);
    EXPECT_EQ(r.out[0], strtol_low_bits(word)) << word;
  }
  std::mt19937 gen(99);
  const std::string alphabet = "+-01234567899 x";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<size_t> length(0, 12);
  for (int round = 0; round < 5000; ++round) {
    std::string word;
    for (size_t n = length(gen); n > 0; --n) {
      word += alphabet[pick(gen)];
    }
    auto r = split(word + ";", ';', 1, 1);
    ASSERT_EQ(r.out[0], strtol_low_bits(word)) << '"' << word << '"';
  }
}

TEST(Splitv2, ExactlyTheMaximumIsConvertedWhole) {
  auto r = split("1,2,3,", ',', 3, 3);
  EXPECT_EQ(r.printed, "");
  EXPECT_EQ(r.out, (std::vector<int32_t>{1, 2, 3}));
}

TEST(Splitv2DeathTest, MoreWordsThanAllowedEndWithStatusOne) {
  int32_t out[2];
  EXPECT_EXIT_STDOUT(textio::splitv2("1#2#3#", '#', 2, out), 1, over_limit(2));
  // The warnings of the words converted before the limit come first.
  EXPECT_EXIT_STDOUT(textio::splitv2("123456789012#5#", '#', 1, out), 1,
                     std::string(kTooLong) + over_limit(1));
  EXPECT_EXIT_STDOUT(textio::splitv2("#", '#', 0, out), 1, over_limit(0));
  EXPECT_EXIT_STDOUT(textio::splitv2(",", ',', -4, out), 1, over_limit(0));
}
