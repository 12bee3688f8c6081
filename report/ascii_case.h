// The one case rule of the plug-in's texts: ASCII letters only. Bytes from
// 0x80 up are characters of whatever code page the host runs in, without
// a case here, so no locale ever changes what matches: report names, date
// picture letters and script words fold alike on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarveld {

constexpr char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Equal length and equal bytes once a-z are folded to A-Z.
constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
      return false;
  }
  return true;
}

// FNV-1a over the folded bytes, so that names that match hash alike.
constexpr std::uint64_t FoldedHash(std::string_view name) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(AsciiUpper(c));
    hash *= 1099511628211ull;
  }
  return hash;
}

static_assert(AsciiUpper('a') == 'A' && AsciiUpper('z') == 'Z' && AsciiUpper('{') == '{');
static_assert(AsciiLower('A') == 'a' && AsciiLower('Z') == 'z' && AsciiLower('@') == '@');
static_assert(AsciiUpper('\xe9') == '\xe9' && AsciiLower('\xc9') == '\xc9');

}  // namespace tarveld
