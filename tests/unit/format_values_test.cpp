#include "report/format_values.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "report/exceptions.h"

namespace tarveld::testing {
namespace {

FormatValue I(std::int32_t v) {
  return FormatValue::Integer(v);
}
FormatValue T(const char* v) {
  return FormatValue::Text(v);
}

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct Case {
  const char* pattern;
  std::vector<FormatValue> values;
  const char* expected;
};

std::string Format(const Case& c) {
  return FormatValues(c.pattern, c.values);
}

TEST(FormatValues, IntegerDirective) {
  const Case cases[] = {
      {"%8.8d", {I(5)}, "00000005"},
      {"%8.8d", {I(-5)}, "-00000005"},
      {"%8.8d", {I(0)}, "00000000"},
      {"%8.8d", {I(123456789)}, "123456789"},
      {"%2.2d", {I(7)}, "07"},
      {"%2.2d", {I(0)}, "00"},
      {"%2.2d", {I(255)}, "255"},
      {"%2.2d", {I(-1)}, "-01"},
      {"%4.4d", {I(-1)}, "-0001"},
      {"%4.4d", {I(42)}, "0042"},
      {"%4.4d", {I(12345)}, "12345"},
      {"%d", {I(-42)}, "-42"},
      {"%d", {I(kMin)}, "-2147483648"},
      {"%d", {I(kMax)}, "2147483647"},
      {"%12.11d", {I(kMin)}, "-02147483648"},
      {"%5d", {I(42)}, "   42"},
      {"%-5d", {I(42)}, "42   "},
      {"%5.3d", {I(-7)}, " -007"},
      {"%-6.3d|", {I(-7)}, "-007  |"},
      {"%2d", {I(-123)}, "-123"},
      {"%.d", {I(5)}, "5"},
      {"%.0d", {I(0)}, "0"},
      {"%D", {I(9)}, "9"},
      {"%08d", {I(5)}, "       5"},  // no zero flag: a leading 0 is part of the width
  };
  for (const Case& c : cases)
    EXPECT_EQ(Format(c), c.expected) << c.pattern;
}

TEST(FormatValues, TextDirective) {
  const Case cases[] = {
      {"%s", {T("TF-2")}, "TF-2"},
      {"[%s]", {T(nullptr)}, "[]"},
      {"[%s]", {T("")}, "[]"},
      {"%.2s", {T("abcdef")}, "ab"},
      {"%.10s", {T("abc")}, "abc"},
      {"[%.s]", {T("abc")}, "[]"},
      {"%6s", {T("abc")}, "   abc"},
      {"%-6s|", {T("abc")}, "abc   |"},
      {"%2s", {T("abcdef")}, "abcdef"},
      {"%5.2s", {T("abcdef")}, "   ab"},
      {"%S", {T("x")}, "x"},
      {"%s", {T("\x80\xff bytes")}, "\x80\xff bytes"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Format(c), c.expected) << c.pattern;
}

TEST(FormatValues, PercentSignsAndPlainText) {
  const Case cases[] = {
      {"", {}, ""},           {"plain: text=, -", {}, "plain: text=, -"},
      {"100%%", {}, "100%"},  {"%%d", {I(1)}, "%d"},
      {"%d%%", {I(7)}, "7%"}, {"abc%", {}, "abc"},
      {"%", {}, ""},          {"%d%", {I(3)}, "3"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Format(c), c.expected) << c.pattern;
}

TEST(FormatValues, ArgumentIndexAndStar) {
  const Case cases[] = {
      {"%1:d %0:d", {I(1), I(2)}, "2 1"},
      {"%:d %d", {I(1), I(2)}, "1 2"},
      {"%d %0:d %d", {I(1), I(2)}, "1 1 2"},
      {"%2:s %d", {I(1), I(2), T("z"), I(4)}, "z 4"},  // after an index the list goes on from it
      {"%*d", {I(5), I(42)}, "   42"},
      {"%-*d|", {I(4), I(7)}, "7   |"},
      {"%.*d", {I(3), I(7)}, "007"},
      {"%*.*d", {I(6), I(3), I(-7)}, "  -007"},
      {"%*.*s", {I(4), I(2), T("abc")}, "  ab"},
      {"%1:*d", {I(0), I(3), I(9)}, "  9"},
      {"%*d", {I(-5), I(42)}, "42"},  // a negative "*" width counts as none
      {"%.*d", {I(-3), I(7)}, "7"},   // and so does a negative "*" precision
      {"%d", {I(1), I(2), T("extra")}, "1"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Format(c), c.expected) << c.pattern;
}

TEST(FormatValues, WholePatternsOfTheSystem) {
  EXPECT_EQ(FormatValues(" %4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d",
                         {I(1942), I(6), I(4), I(4), I(30), I(0)}),
            " 1942-06-04 04:30:00");
  EXPECT_EQ(FormatValues(" %4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d",
                         {I(12345), I(1), I(2), I(3), I(4), I(5)}),
            " 12345-01-02 03:04:05");
  EXPECT_EQ(
      FormatValues("%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", {I(42), I(1), I(2), I(3), I(4), I(5)}),
      "0042-01-02 03:04:05");
  EXPECT_EQ(FormatValues("%8.8d: TimeFactor=%d", {I(100000), I(16)}), "00100000: TimeFactor=16");
  EXPECT_EQ(FormatValues("%8.8d: TimeFactor=%d", {I(-5), I(-2)}), "-00000005: TimeFactor=-2");
  EXPECT_EQ(FormatValues("%8.8d: GroupID=%s, UnitID=%2.2d, Sinking", {I(100200), T("TF-2"), I(3)}),
            "00100200: GroupID=TF-2, UnitID=03, Sinking");
  EXPECT_EQ(FormatValues("%8.8d: GroupID=%s, UnitID=%2.2d, Sinking", {I(100200), T(nullptr), I(0)}),
            "00100200: GroupID=, UnitID=00, Sinking");
}

struct ErrorCase {
  const char* pattern;
  std::vector<FormatValue> values;
  bool argument_error;  // else a specifier error
};

TEST(FormatValues, Errors) {
  const ErrorCase cases[] = {
      // No value left, or a value of the other kind.
      {"%8.8d: TimeFactor=%d", {I(1)}, true},
      {"%d", {}, true},
      {"%8.8d: TimeFactor=%d", {I(1), T("x")}, true},
      {"%s", {I(1)}, true},
      {"%5:d", {I(1)}, true},
      {"%2:s %d", {I(1), I(2), T("z")}, true},
      // Malformed directives.
      {"%5", {I(1)}, false},
      {"%-", {I(1)}, false},
      {"%1:", {I(1)}, false},
      {"%.", {I(1)}, false},
      {"%2.", {I(1)}, false},
      {"%5-d", {I(1)}, false},
      {"%5*d", {I(1), I(2)}, false},
      {"%.5*d", {I(1), I(2)}, false},
      {"%2147483648d", {I(1)}, false},
      {"%.2147483648d", {I(1)}, false},
      {"%99999999999:d", {I(1)}, false},
      {"%*d", {I(1)}, true},  // the "*" has its value; the letter finds none
      {"%*d", {}, false},
      {"%*d", {T("5"), I(1)}, false},
      {"%.*d", {T("5"), I(1)}, false},
      {"%x", {I(1)}, false},
      {"%u", {I(1)}, false},
      {"% d", {I(1)}, false},
  };
  for (const ErrorCase& c : cases) {
    const std::string expected =
        std::string(c.argument_error ? "Invalid argument index in format \""
                                     : "Invalid format specifier : \"") +
        c.pattern + "\"";
    try {
      FormatValues(c.pattern, c.values);
      ADD_FAILURE() << "no error for " << c.pattern;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), expected);
      EXPECT_STREQ(e.ClassName(), "EConvertError");
    }
  }
}

// Random directives: each either renders or raises one of the two errors.
TEST(FormatValues, RandomPatternsRenderOrRaiseTheTwoErrors) {
  std::mt19937 random(42);
  const std::string alphabet = "%%%dDsS0123456789:-.*x ";
  const std::vector<FormatValue> values = {I(-7), T("abc"), I(3), T(nullptr), I(kMin), I(12)};
  for (int i = 0; i < 50000; ++i) {
    std::string pattern(random() % 12, ' ');
    for (char& c : pattern)
      c = alphabet[random() % alphabet.size()];
    const std::size_t count = random() % (values.size() + 1);
    try {
      FormatValues(pattern, std::span<const FormatValue>(values.data(), count));
    } catch (const EConvertError& e) {
      const std::string argument = "Invalid argument index in format \"" + pattern + "\"";
      const std::string specifier = "Invalid format specifier : \"" + pattern + "\"";
      ASSERT_TRUE(e.Message() == argument || e.Message() == specifier) << e.Message();
    }
  }
}

TEST(IntegerText, Values) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {0, "0"},
      {5, "5"},
      {-5, "-5"},
      {100000, "100000"},
      {100123, "100123"},
      {-1, "-1"},
      {kMax, "2147483647"},
      {kMin, "-2147483648"},
      {kMin + 1, "-2147483647"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(IntegerText(value), text);
    EXPECT_EQ(FormatValues("%d", {I(value)}), text);
  }
}

}  // namespace
}  // namespace tarveld::testing
