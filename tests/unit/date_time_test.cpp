#include "report/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "report/calendar.h"
#include "report/exceptions.h"
#include "support/fake_platform.h"

namespace tarveld::testing {
namespace {

// Regional settings as LoadFormatSettings makes them from a short-date
// picture and an hour part.
TFormatSettings Settings(const std::string& short_date, const std::string& hour = "h",
                         char date_separator = '/', char time_separator = ':') {
  TFormatSettings s;
  s.ShortDatePattern = short_date;
  s.ShortTimePattern = hour + ":nn";
  s.LongTimePattern = hour + ":nn:ss";
  s.DateSeparatorChar = date_separator;
  s.TimeSeparatorChar = time_separator;
  return s;
}

// 2024-03-07, a Thursday.
TDateTime March7(int hour, int minute, int second, int millisecond = 0) {
  return EncodeDateTime(2024, 3, 7, hour, minute, second, millisecond);
}

// ---- Calendar ----------------------------------------------------------

TEST(Calendar, EveryDayFromYear1ToYear9999RoundTripsAndFollowsItsPredecessor) {
  CivilDate previous = CivilFromDayNumber(-693594);
  EXPECT_EQ(previous.year, 0);
  EXPECT_EQ(previous.month, 12);
  EXPECT_EQ(previous.day, 31);
  int weekday = WeekdayOfDayNumber(-693594);
  for (std::int64_t n = -693593; n <= 2958465; ++n) {
    const CivilDate d = CivilFromDayNumber(n);
    ASSERT_EQ(DayNumberFromCivil(d.year, d.month, d.day), n);
    const bool next_day =
        d.year == previous.year && d.month == previous.month && d.day == previous.day + 1;
    const bool next_month = d.year == previous.year && d.month == previous.month + 1 && d.day == 1;
    const bool next_year = d.year == previous.year + 1 && d.month == 1 && d.day == 1 &&
                           previous.month == 12 && previous.day == 31;
    ASSERT_TRUE(next_day || next_month || next_year) << n;
    const int w = WeekdayOfDayNumber(n);
    ASSERT_EQ(w, weekday % 7 + 1) << n;
    previous = d;
    weekday = w;
  }
  EXPECT_EQ(previous.year, 9999);
}

TEST(Calendar, LeapYearsAndNegativeEras) {
  EXPECT_EQ(CivilFromDayNumber(DayNumberFromCivil(2000, 2, 29)).day, 29);
  EXPECT_EQ(DayNumberFromCivil(1900, 3, 1) - DayNumberFromCivil(1900, 2, 28), 1);
  EXPECT_EQ(DayNumberFromCivil(2000, 3, 1) - DayNumberFromCivil(2000, 2, 28), 2);
  EXPECT_EQ(DayNumberFromCivil(2100, 3, 1) - DayNumberFromCivil(2100, 2, 28), 1);
  for (std::int64_t y : {-1201, -400, -401, -1, 0, 1}) {
    for (int m = 1; m <= 12; ++m) {
      const CivilDate d = CivilFromDayNumber(DayNumberFromCivil(y, m, 28));
      EXPECT_EQ(d.year, y);
      EXPECT_EQ(d.month, m);
      EXPECT_EQ(d.day, 28);
    }
  }
}

// ---- Encoding and the clock -------------------------------------------

TEST(EncodeDateTime, DayNumberPlusFractionAndSignBeforeDayZero) {
  EXPECT_DOUBLE_EQ(March7(21, 5, 3, 250), 45358 + 75903250.0 / 86400000.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
}

TEST(LocalNow, ReadsThePlatformClock) {
  FakePlatform fake;
  ScopedPlatform installed(fake);
  fake.clock = {2024, 3, 7, 21, 5, 3, 250};
  EXPECT_DOUBLE_EQ(LocalNow(), 45358 + 75903250.0 / 86400000.0);
  EXPECT_EQ(RenderDateTime("yyyy-mm-dd hh:nn:ss.zzz dddd", LocalNow(), TFormatSettings()),
            "2024-03-07 21:05:03.250 Thursday");
  fake.clock = {1999, 12, 31, 23, 59, 59, 999};
  EXPECT_EQ(RenderDateTime("yyyy-mm-dd hh:nn:ss.zzz", LocalNow(), TFormatSettings()),
            "1999-12-31 23:59:59.999");
  fake.clock = {2000, 1, 1, 0, 0, 0, 0};
  EXPECT_DOUBLE_EQ(LocalNow(), 36526.0);
}

TEST(RenderDateTime, TimesOfDaySpreadOverTheDayDecodeBack) {
  for (int day : {45358, 0, -2}) {
    const CivilDate date = CivilFromDayNumber(day);
    for (int ms = 0; ms < 86400000; ms += 997) {
      const int h = ms / 3600000, n = ms / 60000 % 60, s = ms / 1000 % 60, z = ms % 1000;
      const TDateTime v =
          EncodeDateTime(static_cast<int>(date.year), date.month, date.day, h, n, s, z);
      char expected[32];
      std::snprintf(expected, sizeof expected, "%02d:%02d:%02d.%03d", h, n, s, z);
      ASSERT_EQ(RenderDateTime("hh:nn:ss.zzz", v, TFormatSettings()), expected) << day << " " << ms;
    }
  }
}

// ---- Elements ----------------------------------------------------------

struct Case {
  const char* pattern;
  const char* expected;
};

TEST(RenderDateTime, ElementTable) {
  const TFormatSettings s;  // the defaults
  const TDateTime v = March7(21, 5, 3, 7);
  const Case cases[] = {
      {"d", "7"},
      {"dd", "07"},
      {"ddd", "Thu"},
      {"dddd", "Thursday"},
      {"ddddd", "3/7/24"},
      {"dddddd", "March 7, 2024"},
      {"m", "3"},
      {"mm", "03"},
      {"mmm", "Mar"},
      {"mmmm", "March"},
      {"y", "24"},
      {"yy", "24"},
      {"yyy", "2024"},
      {"yyyy", "2024"},
      {"h", "21"},
      {"hh", "21"},
      {"n", "5"},
      {"nn", "05"},
      {"s", "3"},
      {"ss", "03"},
      {"z", "7"},
      {"zz", "007"},
      {"t", "21:05"},
      {"tt", "21:05:03"},
      {"c", "3/7/24 21:05:03"},
      {"ccc", "3/7/24 21:05:03"},
      {"", "3/7/24 21:05:03"},
      {"/", "/"},
      {":", ":"},
      {"YyYy-Mm-dD", "2024-03-07"},
      {"HH:NN:SS", "21:05:03"},
      {"MMMM", "March"},
      {"yyyy-mm-dd hh:nn:ss.zzz", "2024-03-07 21:05:03.007"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RenderDateTime(c.pattern, v, s), c.expected) << c.pattern;
}

TEST(RenderDateTime, SeparatorsComeFromTheSettings) {
  const TFormatSettings s = Settings("dd/mm/yyyy", "hh", '.', '-');
  EXPECT_EQ(RenderDateTime("c", March7(9, 5, 3), s), "07.03.2024 09-05-03");
  EXPECT_EQ(RenderDateTime("'/:'", March7(9, 5, 3), s), "/:");
}

TEST(RenderDateTime, QuotedTextAndOtherCharacters) {
  const TFormatSettings s;
  const TDateTime v = March7(0, 0, 0);
  const Case cases[] = {
      {"dd 'de' MM", "07 de 03"},
      {"\"x\"yyyy", "x2024"},
      {"yyyy 'rest mm", "2024 rest mm"},
      {"'a\"b'", "a\"b"},
      {"''dd\"\"", "07"},
      {"'hh:nn'", "hh:nn"},
      {"x", "X"},
      {"gg", "GG"},
      {"e", "E"},
      {"Xx", "XX"},
      {"dd-MM#yy", "07-03#24"},
      {"q.w,j", "Q.W,J"},
      {"\xe9\x80", "\xe9\x80"},
      {"dd   mm", "07   03"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RenderDateTime(c.pattern, v, s), c.expected) << c.pattern;
}

TEST(RenderDateTime, MinuteOrMonthByThePreviousElement) {
  TFormatSettings s;
  s.ShortDatePattern = "mm";
  s.ShortTimePattern = "m";
  s.LongTimePattern = "hh:mm:ss";
  const TDateTime v = March7(21, 5, 3);
  const Case cases[] = {
      {"hh:mm", "21:05"},  // ":" leaves "hh" as the previous element
      {"hh mm", "21 03"},  // the space run comes between
      {"hhmm", "2105"},
      {"h.m", "21.5"},
      {"hh'x'mm", "21x05"},  // quoted text does not count either
      {"hh/mm", "21/05"},
      {"hhxmm", "21X03"},        // a letter run does
      {"hh AMPMmm", "09 PM03"},  // the AM/PM element does not, the space run does
      {"hhAMPMmm", "09PM05"},
      {"mm hh", "03 21"},
      {"ddmm", "0703"},
      {"hhmmm", "2105"},    // three "m" after an "h" run: still the minute
      {"hhddddd", "2103"},  // the included pattern has its own previous element
      {"tt", "21:05:03"},   // a time pattern reads every "m" as a minute
      {"t", "5"},
      {"hhdddddmm", "210303"},  // after "ddddd" the previous element is its "d" run
  };
  for (const Case& c : cases)
    EXPECT_EQ(RenderDateTime(c.pattern, v, s), c.expected) << c.pattern;
}

TEST(RenderDateTime, AmPmElements) {
  TFormatSettings s;
  s.AmText = "vorm.";
  s.PmText = "nachm.";
  struct TimedCase {
    TDateTime value;
    const char* pattern;
    const char* expected;
  };
  const TimedCase cases[] = {
      {March7(21, 5, 3), "h:nn AMPM", "9:05 nachm."},
      {March7(9, 5, 3), "h:nn ampm", "9:05 vorm."},
      {March7(21, 5, 3), "h:nn am/pm", "9:05 pm"},
      {March7(21, 5, 3), "h:nn Am/pM", "9:05 pM"},
      {March7(9, 5, 3), "h:nn aM/Pm", "9:05 aM"},
      {March7(21, 5, 3), "hh a/p", "09 p"},
      {March7(9, 5, 3), "hh A/P", "09 A"},
      {March7(0, 5, 0), "h A/P", "12 A"},
      {March7(12, 0, 0), "h A/P", "12 P"},
      {March7(11, 59, 59, 999), "h A/P", "11 A"},
      {March7(13, 0, 0), "A/P h", "P 1"},                // the switch holds for the whole pattern
      {March7(21, 5, 3), "h 'am/pm'", "21 am/pm"},       // quoted: no 12-hour clock
      {March7(21, 5, 3), "tt AMPM", "21:05:03 nachm."},  // included patterns decide alone
  };
  for (const TimedCase& c : cases) {
    EXPECT_EQ(RenderDateTime(c.pattern, c.value, s), c.expected) << c.pattern;
  }
}

TEST(RenderDateTime, AnOtherAIsIllegal) {
  for (const char* pattern : {"a", "dd a", "am", "a/", "A/M", "ampx", "AM/P", "aampm"}) {
    try {
      RenderDateTime(pattern, March7(9, 0, 0), TFormatSettings());
      ADD_FAILURE() << "no error for " << pattern;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "Illegal character in format string") << pattern;
    }
  }
  // The same "a" coming from the short-date picture.
  EXPECT_THROW(RenderDateTime("c", March7(9, 0, 0), Settings("d/m/yy a")), EConvertError);
  // Quoted, it is text.
  EXPECT_EQ(RenderDateTime("'a'", March7(9, 0, 0), TFormatSettings()), "a");
}

// ---- The short date and time ("c") ------------------------------------

TEST(RenderDateTime, ShortDatePictures) {
  struct PictureCase {
    TFormatSettings settings;
    TDateTime value;
    const char* expected;
  };
  const PictureCase cases[] = {
      {Settings("M/d/yyyy", "h"), March7(21, 5, 3), "3/7/2024 21:05:03"},
      {Settings("dd.MM.yyyy", "hh"), March7(21, 5, 3), "07.03.2024 21:05:03"},
      {Settings("yyyy-MM-dd", "hh"), March7(21, 5, 3), "2024-03-07 21:05:03"},
      {TFormatSettings(), March7(21, 5, 3), "3/7/24 21:05:03"},
      {Settings("M/d/yyyy", "h"), March7(9, 5, 3), "3/7/2024 9:05:03"},
      {Settings("M/d/yyyy", "hh"), March7(9, 5, 3), "3/7/2024 09:05:03"},
      {Settings("M/d/yyyy", "h"), March7(0, 0, 0), "3/7/2024"},
      {Settings("M/d/yyyy", "h"), March7(0, 0, 0, 999), "3/7/2024"},
      {Settings("M/d/yyyy", "h"), March7(0, 0, 1), "3/7/2024 0:00:01"},
      {Settings("M/d/yyyy", "h"), March7(0, 5, 3), "3/7/2024 0:05:03"},
      {Settings("M/d/yyyy", "hh"), March7(0, 5, 3), "3/7/2024 00:05:03"},
      {Settings("dd 'de' MM", "h"), March7(0, 0, 0), "07 de 03"},
      {Settings("gg yy/MM/dd", "h"), March7(0, 0, 0), "GG 24/03/07"},
      {Settings("ee/d", "h"), March7(0, 0, 0), "EE/7"},
      // Included patterns include nothing further.
      {Settings("dd ddddd", "h"), March7(0, 0, 0), "07 "},
      {Settings("d t", "h"), March7(0, 0, 0), "7 "},
      {Settings("c", "h"), March7(21, 5, 3), "  21:05:03"},
  };
  for (const PictureCase& c : cases) {
    EXPECT_EQ(RenderDateTime("c", c.value, c.settings), c.expected) << c.settings.ShortDatePattern;
  }
}

TEST(DateTimeText, RendersCWithTheProcessSettings) {
  TFormatSettings& process = ProcessFormatSettings();
  const TFormatSettings saved = process;
  process = Settings("dd.MM.yyyy", "hh", '.');
  EXPECT_EQ(DateTimeText(March7(21, 5, 3)), "07.03.2024 21:05:03");
  process.TimeSeparatorChar = '.';
  EXPECT_EQ(DateTimeText(March7(21, 5, 3)), "07.03.2024 21.05.03");
  EXPECT_EQ(DateTimeText(March7(0, 0, 0, 500)), "07.03.2024");
  process = saved;
}

// ---- Years, early and odd values --------------------------------------

TEST(RenderDateTime, YearsAndEarlyDates) {
  const TFormatSettings s;
  struct ValueCase {
    TDateTime value;
    const char* pattern;
    const char* expected;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const ValueCase cases[] = {
      {EncodeDateTime(999, 1, 2, 0, 0, 0, 0), "yyyy yy", "0999 99"},
      {EncodeDateTime(1, 1, 1, 0, 0, 0, 0), "yyyy-mm-dd yy", "0001-01-01 01"},
      {EncodeDateTime(9999, 12, 31, 23, 59, 59, 999), "yyyy-mm-dd hh:nn:ss.zzz",
       "9999-12-31 23:59:59.999"},
      {EncodeDateTime(12345, 6, 7, 0, 0, 0, 0), "yyyy-m-d", "12345-6-7"},
      {0.0, "yyyy-mm-dd dddd", "1899-12-30 Saturday"},
      {1.0, "dddd", "Sunday"},
      {-1.0, "yyyy-mm-dd dddd", "1899-12-29 Friday"},
      {-1.25, "yyyy-mm-dd hh:nn", "1899-12-29 06:00"},
      {-0.5, "yyyy-mm-dd hh:nn", "1899-12-30 12:00"},  // the whole part is truncated toward 0
      {-693593.0, "yyyy-mm-dd dddd", "0001-01-01 Monday"},
      {-693593.75, "yyyy-mm-dd hh", "0001-01-01 18"},
      {-693594.0, "yyyy-mm-dd|d|dd|mmm|mmmm|yy", "0000-00-00|0|00|||00"},
      {-693594.5, "yyyy-mm-dd hh:nn", "0000-00-00 12:00"},
      {-1e12, "yyyy-mm-dd", "0000-00-00"},
      {1e300, "yyyy-mm-dd hh:nn:ss", "0000-00-00 00:00:00"},
      {nan, "yyyy-mm-dd hh:nn:ss|ddd|", "0000-00-00 00:00:00||"},
      {inf, "yyyy-mm-dd hh:nn:ss", "0000-00-00 00:00:00"},
      // The millisecond of the day is rounded, and may round up to a whole day.
      {0.4 / 86400000.0, "hh:nn:ss.zzz", "00:00:00.000"},
      {0.6 / 86400000.0, "hh:nn:ss.zzz", "00:00:00.001"},
      {86399999.6 / 86400000.0, "dd hh:nn:ss.zzz", "30 24:00:00.000"},
  };
  for (const ValueCase& c : cases) {
    EXPECT_EQ(RenderDateTime(c.pattern, c.value, s), c.expected) << c.pattern << " " << c.value;
  }
}

// ---- The 255-character limit ------------------------------------------

TEST(RenderDateTime, APieceThatWouldPassTheLimitIsLeftOutWhole) {
  const TFormatSettings s;
  const TDateTime v = March7(21, 5, 3);

  EXPECT_EQ(RenderDateTime(std::string(300, 'x'), v, s), std::string(255, 'X'));
  EXPECT_EQ(RenderDateTime("'" + std::string(256, 'q') + "'", v, s), "");
  EXPECT_EQ(RenderDateTime("'" + std::string(255, 'q') + "'", v, s), std::string(255, 'q'));

  // A dropped piece, then one that still fits.
  EXPECT_EQ(RenderDateTime("'" + std::string(250, 'q') + "''0123456789'dd", v, s),
            std::string(250, 'q') + "07");

  // "Thursday/" 28 times makes 252; each further "Thursday" is dropped, and
  // three more "/" still fit.
  std::string pattern;
  for (int i = 0; i < 40; ++i)
    pattern += "dddd/";
  std::string expected;
  for (int i = 0; i < 28; ++i)
    expected += "Thursday/";
  expected += "///";
  EXPECT_EQ(RenderDateTime(pattern, v, s), expected);

  // Included patterns add their elements one by one under the same limit.
  TFormatSettings long_date = s;
  long_date.ShortDatePattern = "'" + std::string(250, 'q') + "'";
  EXPECT_EQ(RenderDateTime("c", v, long_date), std::string(250, 'q') + " 21::");
}

// Random patterns over the characters that matter: each renders within the
// limit or raises the one error, whatever the settings bring in.
TEST(RenderDateTime, RandomPatternsStayWithinTheLimit) {
  std::mt19937 random(20240307);
  const std::string alphabet = "dmyhnsztcaAMP/: '\"xgeDMYHNS.";
  auto random_pattern = [&](std::size_t max_length) {
    std::string p(random() % (max_length + 1), ' ');
    for (char& c : p)
      c = alphabet[random() % alphabet.size()];
    return p;
  };
  for (int i = 0; i < 20000; ++i) {
    TFormatSettings s;
    s.ShortDatePattern = random_pattern(40);
    s.LongDatePattern = random_pattern(40);
    s.LongTimePattern = random_pattern(40);
    s.MonthNames[1 + random() % 12] = std::string(random() % 120, 'N');
    const TDateTime v = std::ldexp(static_cast<double>(random()), -8) - 4e6;
    const std::string pattern = random_pattern(60);
    try {
      ASSERT_LE(RenderDateTime(pattern, v, s).size(), 255u) << pattern;
    } catch (const EConvertError& e) {
      ASSERT_EQ(e.Message(), "Illegal character in format string");
    }
  }
}

}  // namespace
}  // namespace tarveld::testing
