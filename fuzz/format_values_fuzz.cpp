// FormatValues with any pattern and any list of integers and texts.
//
// Input: a byte whose bits pick each value's kind (1: text, 0: integer), a
// byte whose value modulo 9 is the number of values, the values (an integer
// as four bytes; a text as a length byte and its bytes, length 255 giving a
// null pointer), then the pattern. Only EConvertError may escape, with one
// of its two messages and the pattern in it.
//
// A width or precision pads the text to that many characters, so a pattern
// of a few bytes ("%2000000000d") asks for gigabytes. Inputs whose counts
// could exceed kMaxCount are passed over, as the allocation they would
// make is known already and would only stop the run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "report/exceptions.h"
#include "report/format_values.h"

namespace {

using tarveld::FormatValue;

constexpr std::int64_t kMaxCount = 10000;
constexpr int kMaxValues = 8;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// True when a run of digits in `pattern` is a number above kMaxCount that
// still fits 32 bits (a larger one is rejected as malformed, which is fine),
// or when a "*" may take a count above kMaxCount from the values.
bool AsksForHugeCounts(std::string_view pattern, const std::vector<FormatValue>& values) {
  for (std::size_t i = 0; i < pattern.size();) {
    if (!IsDigit(pattern[i])) {
      ++i;
      continue;
    }
    std::int64_t n = 0;
    for (; i < pattern.size() && IsDigit(pattern[i]); ++i) {
      if (n <= INT32_MAX)
        n = n * 10 + (pattern[i] - '0');
    }
    if (n > kMaxCount && n <= INT32_MAX)
      return true;
  }
  if (pattern.find('*') != std::string_view::npos) {
    for (const FormatValue& value : values) {
      if (value.kind == FormatValue::Kind::kInteger && value.integer > kMaxCount)
        return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarveld::fuzz::FuzzInput input(data, size);
  const std::uint8_t kinds = input.Byte();
  const int count = input.Byte() % (kMaxValues + 1);
  std::vector<std::string> texts;  // owns the zero-terminated copies
  texts.reserve(kMaxValues);
  std::vector<FormatValue> values;
  for (int i = 0; i < count; ++i) {
    if ((kinds >> i & 1) == 0) {
      values.push_back(FormatValue::Integer(input.Raw<std::int32_t>()));
      continue;
    }
    const std::uint8_t length = input.Byte();
    if (length == 255) {
      values.push_back(FormatValue::Text(nullptr));
      continue;
    }
    texts.emplace_back(input.Take(length));
    values.push_back(FormatValue::Text(texts.back().c_str()));
  }
  const std::string_view pattern = input.Rest();
  if (AsksForHugeCounts(pattern, values))
    return -1;

  try {
    const std::string text = tarveld::FormatValues(pattern, values);
    if (pattern.find('%') == std::string_view::npos)
      FUZZ_CHECK(text == pattern);
  } catch (const tarveld::EConvertError& error) {
    const std::string quoted = "\"" + std::string(pattern) + "\"";
    FUZZ_CHECK(error.Message() == "Invalid argument index in format " + quoted ||
               error.Message() == "Invalid format specifier : " + quoted);
  }
  return 0;
}
