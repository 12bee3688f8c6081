#include "aar/windows_1252.h"

#include <array>

namespace tarveld::aar {
namespace {

// 80..9F: where Windows-1252 differs from Latin-1. Zero marks the bytes the
// code page leaves undefined.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 88..8F
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 98..9F
};

}  // namespace

char32_t CharacterOfWindows1252(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) {
    const char16_t mapped = kHighControls[byte - 0x80];
    return mapped != 0 ? mapped : kReplacementCharacter;
  }
  const bool control =
      (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7F;
  return control ? kReplacementCharacter : byte;  // the rest is Latin-1
}

}  // namespace tarveld::aar
