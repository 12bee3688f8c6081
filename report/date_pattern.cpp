#include "report/date_pattern.h"

#include "report/ascii_case.h"

namespace tarveld {
namespace {

// ASCII only: bytes from 0x80 up are characters without a case here.
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool StartsWithIgnoringCase(std::string_view text, std::size_t pos, std::string_view word) {
  if (text.size() - pos < word.size())
    return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (AsciiLower(text[pos + i]) != word[i])
      return false;
  }
  return true;
}

bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

// The position after the quoted text that opens at `pos`: after the closing
// quote, or the end of the pattern when there is none.
std::size_t SkipQuoted(std::string_view pattern, std::size_t pos, std::string_view& inside) {
  const std::size_t close = pattern.find(pattern[pos], pos + 1);
  if (close == std::string_view::npos) {
    inside = pattern.substr(pos + 1);
    return pattern.size();
  }
  inside = pattern.substr(pos + 1, close - pos - 1);
  return close + 1;
}

}  // namespace

std::size_t ParseDateElement(std::string_view pattern, std::size_t pos, DateElement& element) {
  element = DateElement{};
  const char c = pattern[pos];
  if (IsQuote(c)) {
    element.kind = DateElement::Kind::kQuoted;
    return SkipQuoted(pattern, pos, element.text);
  }
  if (AsciiLower(c) == 'a') {
    // Tried in this order; the first that matches is the element.
    struct AmPmForm {
      std::string_view word;
      DateElement::Kind kind;
    };
    static constexpr AmPmForm kForms[] = {{"ampm", DateElement::Kind::kAmPmTexts},
                                          {"am/pm", DateElement::Kind::kAmPmPair},
                                          {"a/p", DateElement::Kind::kAPPair}};
    for (const AmPmForm& form : kForms) {
      if (StartsWithIgnoringCase(pattern, pos, form.word)) {
        element.kind = form.kind;
        element.text = pattern.substr(pos, form.word.size());
        return pos + form.word.size();
      }
    }
    element.kind = DateElement::Kind::kIllegal;
    element.text = pattern.substr(pos, 1);
    return pos + 1;
  }
  if (IsLetter(c) || c == ' ') {
    std::size_t end = pos + 1;
    while (end < pattern.size() && AsciiLower(pattern[end]) == AsciiLower(c))
      ++end;
    element.kind = c == ' ' ? DateElement::Kind::kSpaces : DateElement::Kind::kLetters;
    element.letter = AsciiLower(c);
    element.count = end - pos;
    element.text = pattern.substr(pos, end - pos);
    return end;
  }
  element.kind = c == '/'   ? DateElement::Kind::kDateSeparator
                 : c == ':' ? DateElement::Kind::kTimeSeparator
                            : DateElement::Kind::kOther;
  element.text = pattern.substr(pos, 1);
  return pos + 1;
}

bool UsesTwelveHourClock(std::string_view pattern) {
  std::size_t pos = 0;
  while (pos < pattern.size()) {
    if (IsQuote(pattern[pos])) {
      std::string_view ignored;
      pos = SkipQuoted(pattern, pos, ignored);
      continue;
    }
    if (StartsWithIgnoringCase(pattern, pos, "a/p") ||
        StartsWithIgnoringCase(pattern, pos, "ampm") ||
        StartsWithIgnoringCase(pattern, pos, "am/pm")) {
      return true;
    }
    ++pos;
  }
  return false;
}

}  // namespace tarveld
