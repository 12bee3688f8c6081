// Numbers and texts into text: a printf-like pattern filled from a list of
// tagged values, and the decimal text of an integer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace tarveld {

// One element of FormatValues' value list: a 32-bit signed integer, or a
// reference to a zero-terminated 8-bit text (null counts as empty).
struct FormatValue {
  enum class Kind { kInteger, kText };

  Kind kind;
  std::int32_t integer = 0;
  const char* text = nullptr;

  static FormatValue Integer(std::int32_t value) { return {Kind::kInteger, value, nullptr}; }
  static FormatValue Text(const char* value) { return {Kind::kText, 0, value}; }
};

// Fills `pattern` with `values`: directives "%[index:][-][width][.precision]d"
// and "...s", "*" for width or precision taken from the next value, "%%" for
// a percent sign. Raises EConvertError when a directive finds no value of
// its kind or the pattern is malformed.
std::string FormatValues(std::string_view pattern, std::span<const FormatValue> values);

inline std::string FormatValues(std::string_view pattern,
                                std::initializer_list<FormatValue> values) {
  return FormatValues(pattern, std::span<const FormatValue>(values.begin(), values.size()));
}

// "-" for a negative number, then the digits; no padding or grouping.
std::string IntegerText(std::int32_t value);

}  // namespace tarveld
