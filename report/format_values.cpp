// FormatValues in three layers:
//   1. parsing: small functions that read one part of a directive from a
//      position and return where they stopped; ParseDirective puts them
//      together into a DirectiveSpecs;
//   2. resolving: the argument index and the "*" counts pick their values;
//   3. writing: WriteInteger and WriteText see only resolved specs and the
//      value, and share one pad function.
#include "report/format_values.h"

#include <cstdint>
#include <limits>
#include <optional>

#include "report/exceptions.h"

namespace tarveld {
namespace {

constexpr std::int32_t kNone = -1;

// A width or precision as written: absent, literal digits, or "*".
struct Count {
  enum class Kind { kNone, kLiteral, kFromValue };
  Kind kind = Kind::kNone;
  std::int32_t literal = 0;
};

// One directive as written, between "%" and its letter inclusive.
struct DirectiveSpecs {
  std::optional<std::int32_t> index;
  bool left_align = false;
  Count width;
  Count precision;
  char letter = 0;  // lower case
};

// A directive with its counts looked up. kNone: not given.
struct ResolvedSpecs {
  bool left_align = false;
  std::int32_t width = kNone;
  std::int32_t precision = kNone;
};

enum class Failure { kSpecifier, kArgument };

[[noreturn]] void ReportError(Failure failure, std::string_view pattern) {
  std::string message = failure == Failure::kArgument ? "Invalid argument index in format \""
                                                      : "Invalid format specifier : \"";
  message.append(pattern);
  message += '"';
  throw EConvertError(std::move(message));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads decimal digits at `pos` into `value`. Returns the position after
// them (== pos when there are none); nullopt when they exceed 32 bits.
std::optional<std::size_t> ParseNonNegative(std::string_view p, std::size_t pos,
                                            std::int32_t& value) {
  std::int64_t n = 0;
  for (; pos < p.size() && IsDigit(p[pos]); ++pos) {
    n = n * 10 + (p[pos] - '0');
    if (n > std::numeric_limits<std::int32_t>::max())
      return std::nullopt;
  }
  value = static_cast<std::int32_t>(n);
  return pos;
}

// Reads a width or precision count: digits or "*". (A "*" right after
// digits is then where the letter should be, and so is malformed.)
std::size_t ParseCount(std::string_view p, std::size_t pos, Count& count) {
  if (pos < p.size() && p[pos] == '*') {
    count.kind = Count::Kind::kFromValue;
    return pos + 1;
  }
  const auto end = ParseNonNegative(p, pos, count.literal);
  if (!end)
    ReportError(Failure::kSpecifier, p);
  if (*end != pos)
    count.kind = Count::Kind::kLiteral;
  return *end;
}

// Reads "[index:][-][width][.precision]letter" starting after the "%".
// Returns the position after the letter.
std::size_t ParseDirective(std::string_view p, std::size_t pos, DirectiveSpecs& specs) {
  // Leading digits are the index when a ":" follows, else the width.
  std::int32_t number = 0;
  const auto after_digits = ParseNonNegative(p, pos, number);
  if (!after_digits)
    ReportError(Failure::kSpecifier, p);
  if (*after_digits < p.size() && p[*after_digits] == ':') {
    specs.index = number;
    pos = *after_digits + 1;
  }
  if (pos < p.size() && p[pos] == '-') {
    specs.left_align = true;
    ++pos;
  }
  pos = ParseCount(p, pos, specs.width);
  if (pos < p.size() && p[pos] == '.') {
    pos = ParseCount(p, pos + 1, specs.precision);
    if (specs.precision.kind == Count::Kind::kNone)
      specs.precision = {Count::Kind::kLiteral, 0};
  }
  if (pos >= p.size())
    ReportError(Failure::kSpecifier, p);
  const char letter = static_cast<char>(p[pos] | 0x20);  // "D" -> "d", "S" -> "s"
  // Only the integer and text directives exist; every other letter is as
  // malformed as any other character there.
  if (letter != 'd' && letter != 's')
    ReportError(Failure::kSpecifier, p);
  specs.letter = letter;
  return pos + 1;
}

// Hands out the values in order, from where an index last put it.
class ValueCursor {
 public:
  ValueCursor(std::string_view pattern, std::span<const FormatValue> values)
      : pattern_(pattern), values_(values) {}

  void Seek(std::int32_t index) { next_ = static_cast<std::size_t>(index); }

  // The next value, which must be of `kind`; `failure` names the complaint.
  const FormatValue& Take(FormatValue::Kind kind, Failure failure) {
    if (next_ >= values_.size() || values_[next_].kind != kind)
      ReportError(failure, pattern_);
    return values_[next_++];
  }

 private:
  std::string_view pattern_;
  std::span<const FormatValue> values_;
  std::size_t next_ = 0;
};

// A "*" count takes its value from the list; a negative one counts as not
// given.
std::int32_t ResolveCount(const Count& count, ValueCursor& cursor) {
  switch (count.kind) {
    case Count::Kind::kNone:
      return kNone;
    case Count::Kind::kLiteral:
      return count.literal;
    case Count::Kind::kFromValue: {
      const std::int32_t value =
          cursor.Take(FormatValue::Kind::kInteger, Failure::kSpecifier).integer;
      return value < 0 ? kNone : value;
    }
  }
  return kNone;
}

// Appends `text`, padded with spaces to the width (the width never cuts).
void WritePadded(std::string& out, std::string_view text, const ResolvedSpecs& specs) {
  const std::size_t fill =
      specs.width > static_cast<std::int64_t>(text.size()) ? specs.width - text.size() : 0;
  if (!specs.left_align)
    out.append(fill, ' ');
  out.append(text);
  if (specs.left_align)
    out.append(fill, ' ');
}

// The precision is a minimum count of digits; the sign stands in front of
// them and is not counted.
void WriteInteger(std::string& out, std::int32_t value, const ResolvedSpecs& specs) {
  const std::string digits = IntegerText(value);
  const std::string_view magnitude = std::string_view(digits).substr(value < 0 ? 1 : 0);
  std::string text;
  if (value < 0)
    text += '-';
  if (specs.precision > static_cast<std::int64_t>(magnitude.size())) {
    text.append(specs.precision - magnitude.size(), '0');
  }
  text.append(magnitude);
  WritePadded(out, text, specs);
}

// The precision is a maximum count of characters.
void WriteText(std::string& out, const char* value, const ResolvedSpecs& specs) {
  std::string_view text = value != nullptr ? std::string_view(value) : std::string_view();
  if (specs.precision != kNone)
    text = text.substr(0, static_cast<std::size_t>(specs.precision));
  WritePadded(out, text, specs);
}

}  // namespace

std::string FormatValues(std::string_view pattern, std::span<const FormatValue> values) {
  std::string out;
  ValueCursor cursor(pattern, values);
  std::size_t pos = 0;
  while (pos < pattern.size()) {
    const std::size_t percent = pattern.find('%', pos);
    if (percent == std::string_view::npos) {
      out.append(pattern.substr(pos));
      break;
    }
    out.append(pattern.substr(pos, percent - pos));
    pos = percent + 1;
    if (pos == pattern.size())
      break;  // a final "%" is dropped
    if (pattern[pos] == '%') {
      out += '%';
      ++pos;
      continue;
    }
    DirectiveSpecs specs;
    pos = ParseDirective(pattern, pos, specs);

    if (specs.index)
      cursor.Seek(*specs.index);
    ResolvedSpecs resolved;
    resolved.left_align = specs.left_align;
    resolved.width = ResolveCount(specs.width, cursor);
    resolved.precision = ResolveCount(specs.precision, cursor);
    if (specs.letter == 'd') {
      WriteInteger(out, cursor.Take(FormatValue::Kind::kInteger, Failure::kArgument).integer,
                   resolved);
    } else {
      WriteText(out, cursor.Take(FormatValue::Kind::kText, Failure::kArgument).text, resolved);
    }
  }
  return out;
}

std::string IntegerText(std::int32_t value) {
  // The magnitude as unsigned, so that INT32_MIN has one.
  std::uint32_t magnitude =
      value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char buffer[11];
  char* end = buffer + sizeof buffer;
  char* begin = end;
  do {
    *--begin = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0)
    *--begin = '-';
  return std::string(begin, end);
}

}  // namespace tarveld
