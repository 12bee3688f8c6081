#include "report/format_settings.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace tarveld {
namespace {

namespace item = platform::locale_item;

// Reads one locale item of locale `locale` from platform `p`.
class LocaleReader {
 public:
  LocaleReader(platform::Platform& p, platform::LocaleId locale) : p_(p), locale_(locale) {}

  // The item's text, verbatim, or `fallback` when it cannot be read or is
  // longer than 255 bytes.
  std::string Text(int locale_item, const std::string& fallback) {
    char buffer[256] = {};
    const int n = p_.LocaleInfo(locale_, locale_item, buffer, sizeof buffer);
    if (n <= 0)
      return fallback;
    // n counts the terminating zero; never trust it past the buffer.
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(n) - 1, 255);
    return std::string(buffer, length);
  }

  // The item's first byte, or `fallback` when it cannot be read or is
  // longer than three bytes.
  char Char(int locale_item, char fallback) {
    char buffer[4] = {};
    const int n = p_.LocaleInfo(locale_, locale_item, buffer, sizeof buffer);
    return n > 0 ? buffer[0] : fallback;
  }

  // The item read as a decimal number, or `fallback` when it cannot be
  // read or is no number.
  int Integer(int locale_item, int fallback) {
    const std::optional<int> n = ParseDecimal(Text(locale_item, std::string()));
    return n ? *n : fallback;
  }

 private:
  // An optional sign and at least one digit, nothing else, within 32 bits.
  static std::optional<int> ParseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
      negative = text[0] == '-';
      text.remove_prefix(1);
    }
    if (text.empty())
      return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
      if (c < '0' || c > '9')
        return std::nullopt;
      value = value * 10 + (c - '0');
      if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
        return std::nullopt;
    }
    if (negative)
      value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
      return std::nullopt;
    return static_cast<int>(value);
  }

  platform::Platform& p_;
  platform::LocaleId locale_;
};

}  // namespace

void LoadFormatSettings(TFormatSettings& settings) {
  platform::Platform& p = platform::Current();
  p.SetThreadLocale(p.UserDefaultLocale());
  LocaleReader read(p, p.ThreadLocale());

  for (int i = 1; i <= 12; ++i) {
    settings.MonthAbbreviations[i] =
        read.Text(item::kAbbrevMonthName1 + i - 1, settings.MonthAbbreviations[i]);
    settings.MonthNames[i] = read.Text(item::kMonthName1 + i - 1, settings.MonthNames[i]);
  }
  // Entries run Sunday (1) to Saturday (7), the platform's day items Monday
  // (+0) to Sunday (+6).
  for (int i = 1; i <= 7; ++i) {
    const int k = (i + 5) % 7;
    settings.DayAbbreviations[i] =
        read.Text(item::kAbbrevDayName1 + k, settings.DayAbbreviations[i]);
    settings.DayNames[i] = read.Text(item::kDayName1 + k, settings.DayNames[i]);
  }

  settings.DateSeparatorChar = read.Char(item::kDateSeparator, '/');
  settings.ShortDatePattern = read.Text(item::kShortDate, "m/d/yy");
  settings.LongDatePattern = read.Text(item::kLongDate, "mmmm d, yyyy");
  settings.TimeSeparatorChar = read.Char(item::kTimeSeparator, ':');
  settings.AmText = read.Text(item::kAmText, "AM");
  settings.PmText = read.Text(item::kPmText, "PM");

  // The platform's own time pictures are not read: only whether hours get
  // a leading zero.
  const std::string hour = read.Integer(item::kHourLeadingZero, 0) == 0 ? "h" : "hh";
  settings.ShortTimePattern = hour + ":nn";
  settings.LongTimePattern = hour + ":nn:ss";

  settings.CurrencyString = read.Text(item::kCurrency, settings.CurrencyString);
  settings.CurrencyFormat = read.Integer(item::kCurrencyFormat, settings.CurrencyFormat);
  settings.NegCurrFormat = read.Integer(item::kNegativeCurrency, settings.NegCurrFormat);
  settings.ThousandSeparator = read.Char(item::kThousand, settings.ThousandSeparator);
  settings.DecimalSeparator = read.Char(item::kDecimal, settings.DecimalSeparator);
  settings.CurrencyDecimals = read.Integer(item::kCurrencyDigits, settings.CurrencyDecimals);
  settings.ListSeparator = read.Char(item::kList, settings.ListSeparator);
}

TFormatSettings& ProcessFormatSettings() {
  static TFormatSettings settings;
  return settings;
}

}  // namespace tarveld
