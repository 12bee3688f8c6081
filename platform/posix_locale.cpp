// The locale half of the POSIX platform (posix_locale.h): the C library's
// time formats turned into the Windows-style items the plug-in reads, and
// the locales behind PosixPlatform's locale calls (posix.cpp).
//
// Sections, in order:
//   1. Time-format translation.
//   2. Locales: identifiers for locale names, per-thread locale, items.
//
// Locale identifiers stand for the locale names found in the environment;
// reading an item never touches the process's global or thread locale, so
// the host's own formatting is left alone.
#include "platform/posix_locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace tarveld::platform {

// ---------------------------------------------------------------------------
// 1. Time-format translation.

namespace {

// One piece of a strftime format: a conversion letter, or one literal byte.
struct FormatPiece {
  bool conversion;
  char c;
};

// Splits `format` into pieces; the conversions for which `expand` gives a
// text are replaced by the pieces of that text. Nothing when a "%" ends the
// format. Flags, widths and the E and O modifiers surface as conversions of
// their own and so are unmappable wherever one is looked for.
template <typename Expand>
std::optional<std::vector<FormatPiece>> SplitFormat(std::string_view format, Expand expand) {
  std::vector<FormatPiece> pieces;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      pieces.push_back({false, format[i]});
      continue;
    }
    if (++i == format.size()) {
      return std::nullopt;
    }
    const std::string_view expansion = expand(format[i]);
    if (expansion.empty()) {
      pieces.push_back({true, format[i]});
      continue;
    }
    for (size_t j = 0; j < expansion.size(); ++j) {
      if (expansion[j] == '%') {
        pieces.push_back({true, expansion[++j]});
      } else {
        pieces.push_back({false, expansion[j]});
      }
    }
  }
  return pieces;
}

std::string_view ExpandDate(char c) {
  if (c == 'D') {
    return "%m/%d/%y";
  }
  if (c == 'F') {
    return "%Y-%m-%d";
  }
  return {};
}

std::string_view ExpandTime(char c) {
  if (c == 'T') {
    return "%H:%M:%S";
  }
  if (c == 'R') {
    return "%H:%M";
  }
  return {};
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A byte that can serve as a one-character separator.
std::optional<std::string> SeparatorOf(const FormatPiece& piece) {
  const char c = piece.c;
  if (piece.conversion || c < ' ' || c > '~' || IsAsciiLetter(c) || (c >= '0' && c <= '9')) {
    return std::nullopt;
  }
  return std::string(1, c);
}

std::optional<std::string> FirstLiteralSeparator(const std::vector<FormatPiece>& pieces) {
  for (const FormatPiece& piece : pieces) {
    if (!piece.conversion) {
      return SeparatorOf(piece);
    }
  }
  return std::nullopt;
}

// The index of the first hour conversion, or npos.
size_t HourPiece(const std::vector<FormatPiece>& pieces) {
  for (size_t i = 0; i < pieces.size(); ++i) {
    const char c = pieces[i].c;
    if (pieces[i].conversion && (c == 'H' || c == 'I' || c == 'k' || c == 'l')) {
      return i;
    }
  }
  return std::string::npos;
}

}  // namespace

std::optional<std::string> ShortDatePicture(std::string_view d_fmt) {
  const auto pieces = SplitFormat(d_fmt, ExpandDate);
  if (!pieces) {
    return std::nullopt;
  }
  const std::optional<std::string> separator = FirstLiteralSeparator(*pieces);
  const bool slash_is_separator = separator == "/";

  std::string picture;
  bool quoting = false;  // inside a '...' run
  for (const FormatPiece& piece : *pieces) {
    const char c = piece.c;
    const bool quote = !piece.conversion && (IsAsciiLetter(c) || c == ':' || c == '"' ||
                                             (c == '/' && !slash_is_separator));
    if (quoting && !quote) {
      picture += '\'';
      quoting = false;
    }
    if (piece.conversion) {
      switch (c) {
        case 'd':
          picture += "dd";
          break;
        case 'e':
          picture += "d";
          break;
        case 'm':
          picture += "MM";
          break;
        case 'Y':
          picture += "yyyy";
          break;
        case 'y':
          picture += "yy";
          break;
        default:
          return std::nullopt;
      }
    } else if (c == '\'') {
      picture += "\"'\"";
    } else {
      if (quote && !quoting) {
        picture += '\'';
        quoting = true;
      }
      picture += c;
    }
  }
  if (quoting) {
    picture += '\'';
  }
  return picture;
}

std::optional<std::string> DateSeparator(std::string_view d_fmt) {
  if (!ShortDatePicture(d_fmt)) {
    return std::nullopt;
  }
  return FirstLiteralSeparator(*SplitFormat(d_fmt, ExpandDate));
}

std::optional<std::string> HourLeadingZero(std::string_view t_fmt) {
  const auto pieces = SplitFormat(t_fmt, ExpandTime);
  if (!pieces) {
    return std::nullopt;
  }
  const size_t hour = HourPiece(*pieces);
  if (hour == std::string::npos) {
    return std::nullopt;
  }
  const char c = (*pieces)[hour].c;
  return std::string(c == 'H' || c == 'I' ? "1" : "0");
}

std::optional<std::string> TimeSeparator(std::string_view t_fmt) {
  const auto pieces = SplitFormat(t_fmt, ExpandTime);
  if (!pieces) {
    return std::nullopt;
  }
  const size_t hour = HourPiece(*pieces);
  if (hour == std::string::npos || hour + 1 == pieces->size()) {
    return std::nullopt;
  }
  return SeparatorOf((*pieces)[hour + 1]);
}

// ---------------------------------------------------------------------------
// 2. Locales: identifiers for locale names, per-thread locale, items.

namespace {

// Identifier 0 is the C locale, whose items are all left to the defaults;
// identifier n stands for the n-th distinct name met, opened once for its
// LC_TIME data and kept open until the module is unloaded.
class LocaleTable {
 public:
  LocaleTable() = default;
  LocaleTable(const LocaleTable&) = delete;
  LocaleTable& operator=(const LocaleTable&) = delete;
  ~LocaleTable() {
    for (const Entry& entry : entries_) {
      freelocale(entry.handle);
    }
  }

  LocaleId IdFor(const std::string& name) {
    if (IsCFamily(name)) {
      return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].name == name) {
        return static_cast<LocaleId>(i + 1);
      }
    }
    const locale_t handle = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
    if (handle == static_cast<locale_t>(0)) {
      return 0;
    }
    entries_.push_back({name, handle});
    return static_cast<LocaleId>(entries_.size());
  }

  // The opened locale, or nothing for 0 and unknown identifiers.
  std::optional<locale_t> Handle(LocaleId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id == 0 || id > entries_.size()) {
      return std::nullopt;
    }
    return entries_[id - 1].handle;
  }

 private:
  struct Entry {
    std::string name;
    locale_t handle;
  };

  // "C", "POSIX" and their codeset or modifier variants ("C.UTF-8").
  static bool IsCFamily(const std::string& name) {
    for (std::string_view base : {"C", "POSIX"}) {
      if (name.compare(0, base.size(), base) == 0 &&
          (name.size() == base.size() || name[base.size()] == '.' || name[base.size()] == '@')) {
        return true;
      }
    }
    return name.empty();
  }

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// Destroyed with the module's other statics: a host that unloads the
// plug-in gets the table and its locale handles back, where a table left
// to the process would be lost at every unload. Only locale reads use it,
// and none comes after the module's statics are gone.
LocaleTable& Locales() {
  static LocaleTable table;
  return table;
}

thread_local bool thread_locale_set = false;
thread_local LocaleId thread_locale = 0;

constexpr nl_item kMonthItems[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                     MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
constexpr nl_item kAbbrevMonthItems[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                           ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
// Sunday first, as nl_langinfo numbers them.
constexpr nl_item kDayItems[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
constexpr nl_item kAbbrevDayItems[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                        ABDAY_5, ABDAY_6, ABDAY_7};

std::optional<std::string> NonEmpty(const char* text) {
  if (text == nullptr || *text == '\0') {
    return std::nullopt;
  }
  return std::string(text);
}

// The text of one locale item, or nothing when it has no counterpart here.
std::optional<std::string> ItemText(locale_t handle, int item) {
  namespace li = locale_item;
  const auto info = [handle](nl_item what) { return nl_langinfo_l(what, handle); };
  switch (item) {
    case li::kShortDate:
      return ShortDatePicture(info(D_FMT));
    case li::kDateSeparator:
      return DateSeparator(info(D_FMT));
    case li::kHourLeadingZero:
      return HourLeadingZero(info(T_FMT));
    case li::kTimeSeparator:
      return TimeSeparator(info(T_FMT));
    case li::kAmText:
      return NonEmpty(info(AM_STR));
    case li::kPmText:
      return NonEmpty(info(PM_STR));
    default:
      break;
  }
  if (item >= li::kMonthName1 && item < li::kMonthName1 + 12) {
    return NonEmpty(info(kMonthItems[item - li::kMonthName1]));
  }
  if (item >= li::kAbbrevMonthName1 && item < li::kAbbrevMonthName1 + 12) {
    return NonEmpty(info(kAbbrevMonthItems[item - li::kAbbrevMonthName1]));
  }
  // Day items count from Monday (item 1) to Sunday (item 7).
  if (item >= li::kDayName1 && item < li::kDayName1 + 7) {
    return NonEmpty(info(kDayItems[(item - li::kDayName1 + 1) % 7]));
  }
  if (item >= li::kAbbrevDayName1 && item < li::kAbbrevDayName1 + 7) {
    return NonEmpty(info(kAbbrevDayItems[(item - li::kAbbrevDayName1 + 1) % 7]));
  }
  return std::nullopt;
}

// The locale name that governs LC_TIME: LC_ALL, then LC_TIME, then LANG,
// the first that is set and not empty.
std::string EnvironmentLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      return value;
    }
  }
  return {};
}

}  // namespace

LocaleId PosixUserDefaultLocale() {
  return Locales().IdFor(EnvironmentLocaleName());
}

void PosixSetThreadLocale(LocaleId locale) {
  thread_locale = locale;
  thread_locale_set = true;
}

// A thread that never chose a locale has the user's default, as on Windows.
LocaleId PosixThreadLocale() {
  return thread_locale_set ? thread_locale : PosixUserDefaultLocale();
}

int PosixLocaleInfo(LocaleId locale, int item, char* buffer, int size) {
  const std::optional<locale_t> handle = Locales().Handle(locale);
  if (!handle) {
    return 0;
  }
  const std::optional<std::string> text = ItemText(*handle, item);
  if (!text || buffer == nullptr || size <= 0 || text->size() >= static_cast<size_t>(size)) {
    return 0;
  }
  std::memcpy(buffer, text->c_str(), text->size() + 1);
  return static_cast<int>(text->size() + 1);
}

}  // namespace tarveld::platform
