// The reading half of date-time rendering: a date-time pattern split into
// its elements, one at a time, without looking at any value or setting.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarveld {

struct DateElement {
  enum class Kind {
    kLetters,        // a run of one letter in any mix of cases: `letter`, `count`
    kSpaces,         // a run of spaces
    kQuoted,         // text between quotes (to the end when unclosed); `text` is the inside
    kDateSeparator,  // "/"
    kTimeSeparator,  // ":"
    kAmPmTexts,      // "AMPM": the settings' morning or afternoon text
    kAmPmPair,       // "AM/PM": its own first or last two characters
    kAPPair,         // "A/P": its own first or third character
    kIllegal,        // an "a" that begins none of the three above
    kOther,          // any other single character
  };

  Kind kind = Kind::kOther;
  char letter = 0;        // kLetters: the letter in lower case
  std::size_t count = 0;  // kLetters: length of the run
  std::string_view text;  // the element's characters as written (kQuoted: inside the quotes)
};

// Reads the element that starts at `pos` (< pattern.size()) into `element`
// and returns the position after it.
std::size_t ParseDateElement(std::string_view pattern, std::size_t pos, DateElement& element);

// True when "AMPM", "AM/PM" or "A/P" occurs outside quoted text, in any mix
// of cases: the pattern's hours are then told on the 12-hour clock.
bool UsesTwelveHourClock(std::string_view pattern);

}  // namespace tarveld
