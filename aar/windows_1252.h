// The game hands the plug-in texts in its Windows code page, and the report
// and the journal keep those bytes as they are; the page writes each as the
// character it stands for. This is the one place that reads a byte as
// Windows-1252.
#pragma once

#include <cstdint>
#include <string>

namespace tarveld::aar {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The character that byte `byte` stands for in Windows-1252. The five bytes
// the code page leaves undefined (81 8D 8F 90 9D) and the control bytes
// other than tab, LF and CR (00-08, 0B, 0C, 0E-1F, 7F) give U+FFFD: a
// browser shows nothing, or nothing sensible, for a control character, and
// the player should see that a byte was there.
char32_t CharacterOfWindows1252(unsigned char byte);

}  // namespace tarveld::aar
