#include "report/format_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "report/date_time.h"
#include "support/fake_platform.h"

namespace tarveld::testing {
namespace {

namespace item = platform::locale_item;

// Records every locale item asked for: its number, the locale and the
// buffer size.
class RecordingPlatform : public FakePlatform {
 public:
  struct Request {
    platform::LocaleId locale;
    int item;
    int size;
  };
  std::vector<Request> requests;

  int LocaleInfo(platform::LocaleId locale, int item, char* buffer, int size) override {
    requests.push_back({locale, item, size});
    return FakePlatform::LocaleInfo(locale, item, buffer, size);
  }
};

class LoadFormatSettingsTest : public ::testing::Test {
 protected:
  TFormatSettings Load() {
    TFormatSettings settings;
    LoadFormatSettings(settings);
    return settings;
  }

  RecordingPlatform fake_;
  ScopedPlatform installed_{fake_};
};

const TDateTime kEvening = EncodeDateTime(2024, 3, 7, 21, 5, 3, 0);

TEST_F(LoadFormatSettingsTest, EveryItemUnreadableGivesTheDefaults) {
  const TFormatSettings s = Load();
  const TFormatSettings defaults;
  EXPECT_EQ(s.DateSeparatorChar, '/');
  EXPECT_EQ(s.TimeSeparatorChar, ':');
  EXPECT_EQ(s.ShortDatePattern, "m/d/yy");
  EXPECT_EQ(s.LongDatePattern, "mmmm d, yyyy");
  EXPECT_EQ(s.AmText, "AM");
  EXPECT_EQ(s.PmText, "PM");
  EXPECT_EQ(s.ShortTimePattern, "h:nn");
  EXPECT_EQ(s.LongTimePattern, "h:nn:ss");
  EXPECT_EQ(s.MonthNames, defaults.MonthNames);
  EXPECT_EQ(s.MonthAbbreviations, defaults.MonthAbbreviations);
  EXPECT_EQ(s.DayNames, defaults.DayNames);
  EXPECT_EQ(s.DayAbbreviations, defaults.DayAbbreviations);
  EXPECT_EQ(RenderDateTime("c", kEvening, s), "3/7/24 21:05:03");
}

TEST_F(LoadFormatSettingsTest, UnreadableItemsTakeTheirOwnDefaults) {
  // Names keep the entry they would replace; the separators and patterns
  // take fixed defaults.
  TFormatSettings s;
  s.MonthNames[5] = "Mai";
  s.DayAbbreviations[1] = "So";
  s.ShortDatePattern = "dd.MM.yyyy";
  s.DateSeparatorChar = '.';
  s.LongTimePattern = "hh:nn:ss";
  LoadFormatSettings(s);
  EXPECT_EQ(s.MonthNames[5], "Mai");
  EXPECT_EQ(s.DayAbbreviations[1], "So");
  EXPECT_EQ(s.ShortDatePattern, "m/d/yy");
  EXPECT_EQ(s.DateSeparatorChar, '/');
  EXPECT_EQ(s.LongTimePattern, "h:nn:ss");
}

TEST_F(LoadFormatSettingsTest, ThreadTakesTheUserDefaultLocaleWhichIsRead) {
  fake_.user_locale = 0x0407;
  fake_.thread_locale = 0x0409;
  Load();
  EXPECT_EQ(fake_.thread_locale, 0x0407u);
  ASSERT_FALSE(fake_.requests.empty());
  for (const auto& r : fake_.requests)
    EXPECT_EQ(r.locale, 0x0407u) << r.item;
}

TEST_F(LoadFormatSettingsTest, ItemsAreReadInOrderWithTheirBufferSizes) {
  Load();
  std::vector<std::pair<int, int>> expected;  // item, buffer size
  for (int i = 0; i < 12; ++i) {
    expected.push_back({item::kAbbrevMonthName1 + i, 256});
    expected.push_back({item::kMonthName1 + i, 256});
  }
  for (int i = 1; i <= 7; ++i) {
    const int k = (i + 5) % 7;
    expected.push_back({item::kAbbrevDayName1 + k, 256});
    expected.push_back({item::kDayName1 + k, 256});
  }
  expected.insert(expected.end(), {{item::kDateSeparator, 4},
                                   {item::kShortDate, 256},
                                   {item::kLongDate, 256},
                                   {item::kTimeSeparator, 4},
                                   {item::kAmText, 256},
                                   {item::kPmText, 256},
                                   {item::kHourLeadingZero, 256},
                                   {item::kCurrency, 256},
                                   {item::kCurrencyFormat, 256},
                                   {item::kNegativeCurrency, 256},
                                   {item::kThousand, 4},
                                   {item::kDecimal, 4},
                                   {item::kCurrencyDigits, 256},
                                   {item::kList, 4}});
  std::vector<std::pair<int, int>> asked;
  for (const auto& r : fake_.requests)
    asked.push_back({r.item, r.size});
  EXPECT_EQ(asked, expected);
}

TEST_F(LoadFormatSettingsTest, DayEntriesStartOnSundayWhileDayItemsStartOnMonday) {
  const char* names[] = {"Montag",  "Dienstag", "Mittwoch", "Donnerstag",
                         "Freitag", "Samstag",  "Sonntag"};
  const char* abbreviations[] = {"Mo", "Di", "Mi", "Do", "Fr", "Sa", "So"};
  for (int k = 0; k < 7; ++k) {
    fake_.locale_items[item::kDayName1 + k] = names[k];
    fake_.locale_items[item::kAbbrevDayName1 + k] = abbreviations[k];
  }
  const TFormatSettings s = Load();
  const char* sunday_first[] = {"",         "Sonntag",    "Montag",  "Dienstag",
                                "Mittwoch", "Donnerstag", "Freitag", "Samstag"};
  for (int i = 1; i <= 7; ++i)
    EXPECT_EQ(s.DayNames[i], sunday_first[i]) << i;
  EXPECT_EQ(s.DayAbbreviations[1], "So");
  EXPECT_EQ(s.DayAbbreviations[2], "Mo");
  EXPECT_EQ(s.DayAbbreviations[7], "Sa");
  EXPECT_EQ(RenderDateTime("dddd ddd", kEvening, s), "Donnerstag Do");
}

TEST_F(LoadFormatSettingsTest, TextItemsAreTakenVerbatim) {
  fake_.locale_items = {
      {item::kMonthName1 + 2, "M\xe4rz"},
      {item::kAbbrevMonthName1 + 11, "Dez"},
      {item::kDateSeparator, "."},
      {item::kTimeSeparator, "."},
      {item::kShortDate, "dd.MM.yyyy"},
      {item::kLongDate, "dddd, d. MMMM yyyy"},
      {item::kAmText, ""},
      {item::kPmText, "nachm."},
      {item::kHourLeadingZero, "1"},
  };
  const TFormatSettings s = Load();
  EXPECT_EQ(s.MonthNames[3], "M\xe4rz");
  EXPECT_EQ(s.MonthAbbreviations[12], "Dez");
  EXPECT_EQ(s.AmText, "");
  EXPECT_EQ(s.PmText, "nachm.");
  EXPECT_EQ(s.LongDatePattern, "dddd, d. MMMM yyyy");
  EXPECT_EQ(RenderDateTime("c", kEvening, s), "07.03.2024 21.05.03");
  EXPECT_EQ(RenderDateTime("c", EncodeDateTime(2024, 3, 7, 9, 5, 3, 0), s), "07.03.2024 09.05.03");
}

TEST_F(LoadFormatSettingsTest, ItemsThatDoNotFitTheirBufferTakeTheDefault) {
  struct Case {
    std::string date_separator;
    char expected;
  };
  for (const Case& c :
       {Case{"", '\0'}, Case{"-", '-'}, Case{"-x-", '-'}, Case{"////", '/'}, Case{"abcd", '/'}}) {
    fake_.locale_items[item::kDateSeparator] = c.date_separator;
    EXPECT_EQ(Load().DateSeparatorChar, c.expected) << c.date_separator;
  }
  fake_.locale_items[item::kLongDate] = std::string(255, 'd');
  EXPECT_EQ(Load().LongDatePattern, std::string(255, 'd'));
  fake_.locale_items[item::kLongDate] = std::string(256, 'd');
  EXPECT_EQ(Load().LongDatePattern, "mmmm d, yyyy");
}

TEST_F(LoadFormatSettingsTest, HourLeadingZeroPicksTheHourPart) {
  struct Case {
    const char* item;  // nullptr: unreadable
    const char* hour_part;
  };
  const Case cases[] = {{nullptr, "h"}, {"0", "h"}, {"1", "hh"}, {"2", "hh"}, {"-1", "hh"},
                        {"x", "h"},     {"", "h"},  {"1x", "h"}, {" 1", "h"}, {"00", "h"}};
  for (const Case& c : cases) {
    if (c.item) {
      fake_.locale_items[item::kHourLeadingZero] = c.item;
    } else {
      fake_.locale_items.erase(item::kHourLeadingZero);
    }
    const TFormatSettings s = Load();
    EXPECT_EQ(s.ShortTimePattern, std::string(c.hour_part) + ":nn") << (c.item ? c.item : "-");
    EXPECT_EQ(s.LongTimePattern, std::string(c.hour_part) + ":nn:ss") << (c.item ? c.item : "-");
  }
}

TEST_F(LoadFormatSettingsTest, NumberCurrencyAndListSettings) {
  fake_.locale_items = {
      {item::kCurrency, "EUR"}, {item::kCurrencyFormat, "3"}, {item::kNegativeCurrency, "8"},
      {item::kThousand, "."},   {item::kDecimal, ","},        {item::kCurrencyDigits, "0"},
      {item::kList, ";"}};
  const TFormatSettings s = Load();
  EXPECT_EQ(s.CurrencyString, "EUR");
  EXPECT_EQ(s.CurrencyFormat, 3);
  EXPECT_EQ(s.NegCurrFormat, 8);
  EXPECT_EQ(s.ThousandSeparator, '.');
  EXPECT_EQ(s.DecimalSeparator, ',');
  EXPECT_EQ(s.CurrencyDecimals, 0);
  EXPECT_EQ(s.ListSeparator, ';');
}

TEST_F(LoadFormatSettingsTest, ProcessSettingsAreOneRecord) {
  EXPECT_EQ(&ProcessFormatSettings(), &ProcessFormatSettings());
  TFormatSettings& process = ProcessFormatSettings();
  const TFormatSettings saved = process;
  fake_.locale_items = {{item::kShortDate, "yyyy-MM-dd"}, {item::kHourLeadingZero, "1"}};
  LoadFormatSettings(process);
  EXPECT_EQ(DateTimeText(EncodeDateTime(2024, 3, 7, 9, 5, 3, 0)), "2024-03-07 09:05:03");
  process = saved;
}

}  // namespace
}  // namespace tarveld::testing
