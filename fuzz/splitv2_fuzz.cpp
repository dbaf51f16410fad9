// Fuzz target: the number splitter, with the delimiter, the word limit and the
// text all taken from the input, checked word for word against a plain
// strtol-based splitter.
//
// Input: byte 0 the delimiter, byte 1 the word limit (signed), the rest the
// text (up to its first NUL).
#include <cstdint>
#include <cstdlib>
#include <dense/textio.hpp>
#include <string>

#include "fuzz_support.hpp"

namespace {

constexpr int32_t kCanary = 0x5a5a5a5a;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fuzz_support;
  if (size < 2) {
    return 0;
  }
  const char delim = static_cast<char>(data[0]);
  // A signed limit from one byte, on purpose: negative ones must be handled.
  // NOLINTNEXTLINE(bugprone-signed-char-misuse)
  const int32_t maximo = static_cast<int8_t>(data[1]);
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  const split_result want = reference_split(text, delim, maximo);

  // Exactly as many entries as the caller allows: a write past them is a
  // heap overflow that the sanitizer reports.
  const size_t slots = maximo > 0 ? static_cast<size_t>(maximo) : 0;
  auto* out = static_cast<int32_t*>(std::malloc(slots * sizeof(int32_t) + (slots == 0)));
  for (size_t i = 0; i < slots; ++i) {
    out[i] = kCanary;
  }

  int32_t ret = -1;
  auto call = [&] { ret = textio::splitv2(text.c_str(), delim, maximo, out); };
  const exit_record e = run_guarded(call);

  if (e.exited) {
    check(e.status == 1, "splitv2 ended the process with a status other than 1");
    check(want.over_limit, "splitv2 ended the process within its word limit");
  } else {
    check(!want.over_limit, "splitv2 went past its word limit without ending the process");
    check(ret == 0, "splitv2 did not return 0");
  }
  for (size_t i = 0; i < want.values.size(); ++i) {
    check(out[i] == want.values[i], "splitv2 stored a wrong value");
  }
  for (size_t i = want.values.size(); i < slots; ++i) {
    check(out[i] == kCanary, "splitv2 wrote an entry beyond the words it converted");
  }
  std::free(out);
  return 0;
}
