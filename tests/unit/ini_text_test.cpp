// The INI text functions on strings: trimming, name matching, splitting,
// parsing, building lines and file text.
#include "report/ini_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tarveld::testing {
namespace {

using namespace std::string_literals;

// One line per model: "[name] key=value, key=value | [name] ...".
std::string Dump(const TIniFileSectionList& sections) {
  std::string out;
  for (const auto& section : sections) {
    if (!out.empty())
      out += " | ";
    out += "[" + section->Name + "]";
    const char* separator = " ";
    for (const auto& key : section->Keys) {
      out += separator + key->Name + "=" + key->Value;
      separator = ", ";
    }
  }
  return out;
}

TIniFileSectionList Parse(const std::string& text) {
  const std::vector<std::string_view> lines = SplitLines(text);
  return ParseLines(lines);
}

struct SectionSpec {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
};

TIniFileSectionList Model(const std::vector<SectionSpec>& specs) {
  TIniFileSectionList sections;
  for (const SectionSpec& spec : specs) {
    auto section = std::make_unique<TIniFileSection>();
    section->Name = spec.name;
    for (const auto& [name, value] : spec.keys) {
      section->Keys.push_back(std::make_unique<TIniFileKey>(TIniFileKey{name, value}));
    }
    sections.push_back(std::move(section));
  }
  return sections;
}

std::string Text(const TIniFileSectionList& sections) {
  const std::vector<std::string> lines = BuildLines(sections);
  return FileText(lines);
}

TEST(IniTextTest, TrimRemovesBytesUpTo32AtBothEndsOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {" \t\r\n", ""},
      {"\0\x01\x1f "s, ""},
      {"  a b  ", "a b"},
      {"\x01x\x7f\x20"s, "x\x7f"},
      {"\x80 y \xff", "\x80 y \xff"},
      {"\0k\0v\0"s, "k\0v"s},
      {"!", "!"},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(Trim(input), expected) << "input size " << input.size();
  }
}

TEST(IniTextTest, NamesMatchFoldsAsciiLettersOnly) {
  struct Case {
    std::string a, b;
    bool match;
  };
  const std::vector<Case> cases = {
      {"log", "LOG", true},
      {"Session Start", "sESSION sTART", true},
      {"", "", true},
      {"log", "log ", false},
      {"log", "lo", false},
      {"[", "{", false},  // 0x5B and 0x7B differ only in the case bit
      {"@", "`", false},
      {"^", "~", false},
      {"\xe9t\xe9", "\xc9T\xc9", false},  // letters above 127 never fold
      {"\xe9", "\xe9", true},
      {"a\0b"s, "A\0B"s, true},
      {"a\0b"s, "a\0c"s, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NamesMatch(c.a, c.b), c.match) << c.a << " / " << c.b;
    EXPECT_EQ(NamesMatch(c.b, c.a), c.match) << c.b << " / " << c.a;
  }
}

TEST(IniTextTest, FindSkipsEmptyAndCommentNamesAndTakesTheFirstMatch) {
  const TIniFileSectionList sections =
      Model({{"", {}}, {";c", {}}, {"log", {{"k", "1"}, {"K", "2"}, {";n", ""}}}, {"LOG", {}}});
  EXPECT_EQ(FindSection(sections, ""), nullptr);
  EXPECT_EQ(FindSection(sections, ";c"), nullptr);
  EXPECT_EQ(FindSection(sections, "Log"), sections[2].get());
  EXPECT_EQ(FindSection(sections, "lo"), nullptr);
  EXPECT_EQ(FindSection(sections, "log "), nullptr);

  const TIniFileKeyList& keys = sections[2]->Keys;
  EXPECT_EQ(FindKey(keys, "K"), keys[0].get());
  EXPECT_EQ(FindKey(keys, ";n"), nullptr);
  EXPECT_EQ(FindKey(keys, ""), nullptr);
  EXPECT_EQ(FindKey(keys, "k2"), nullptr);
}

TEST(IniTextTest, SkipByteOrderMarkOnlyAtTheVeryStart) {
  EXPECT_EQ(SkipByteOrderMark("\xEF\xBB\xBF[a]"), "[a]");
  EXPECT_EQ(SkipByteOrderMark("\xEF\xBB\xBF\xEF\xBB\xBF"), "\xEF\xBB\xBF");
  EXPECT_EQ(SkipByteOrderMark("\xEF\xBB[a]"), "\xEF\xBB[a]");
  EXPECT_EQ(SkipByteOrderMark(" \xEF\xBB\xBF"), " \xEF\xBB\xBF");
  EXPECT_EQ(SkipByteOrderMark(""), "");
}

TEST(IniTextTest, SplitLinesOnCrLfLoneCrAndLoneLf) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb\nc", {"a", "b", "c"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"\r\n\r\n", {"", ""}},
      {"\n", {""}},
      {"\r", {""}},
      {"a\0b\r\n"s, {"a\0b"s}},
      {"a\n\n", {"a", ""}},
  };
  for (const auto& [input, expected] : cases) {
    const std::vector<std::string_view> lines = SplitLines(input);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()), expected)
        << ::testing::PrintToString(input);
  }
}

TEST(IniTextTest, ParseLines) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"\r\n  \r\n\t\r\n", ""},
      // Non-comment lines before the first header have no place.
      {"k=v\r\n[\r\n[s]\r\n", "[s]"},
      // A leading comment block takes the lines up to the first header.
      {" ; top \r\n;c2\r\nx = 1\r\n[s]\r\nk=v", "[; top] ;c2=, x=1 | [s] k=v"},
      {"[ log ]", "[ log ]"},
      {"  [s] \t", "[s]"},
      {"[]\r\nk=v", "[] k=v"},
      {"[s]\r\n[\r\n]", "[s] =[, =]"},
      {"[s]\r\n  k  =  v = w  ", "[s] k=v = w"},
      {"[s]\r\njust text\r\n=v\r\nk=\r\n=", "[s] =just text, =v, k=, ="},
      {"[s]\r\n\t; c  \r\nk=v", "[s] ; c=, k=v"},
      {"[s]\r\n;[x]\r\n[;x]\r\nk=v", "[s] ;[x]= | [;x] k=v"},
      {"[s]\r\nk=1\r\nk=2\r\n[S]\r\nk=3", "[s] k=1, k=2 | [S] k=3"},
      {"[s]\r\n\x01k\x1f=\x7fv\x80\0"s, "[s] k=\x7fv\x80"},
      {"[s]\r\nk\0=v"s, "[s] k=v"},
      {"[s]\r\nk\0x=v"s, "[s] k\0x=v"s},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(Dump(Parse(input)), expected) << ::testing::PrintToString(input);
  }
}

TEST(IniTextTest, BuildLinesAndFileText) {
  struct Case {
    std::vector<SectionSpec> model;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{}, ""},
      {{{"a", {}}}, "[a]\r\n"},
      {{{"", {{"k", "v"}}}}, "[]\r\nk=v\r\n"},
      {{{"a", {{"k", "v"}}}, {"b", {}}}, "[a]\r\nk=v\r\n\r\n[b]\r\n"},
      {{{";c", {{"x", "1"}}}, {"a", {}}}, ";c\r\nx=1\r\n[a]\r\n"},
      {{{"a", {}}, {";c", {}}}, "[a]\r\n\r\n;c\r\n"},
      {{{"a", {{";note", "dropped"}, {"k", ""}, {"", "v"}}}}, "[a]\r\n;note\r\nk=\r\n=v\r\n"},
      {{{" a ", {{" k ", " v "}}}}, "[ a ]\r\n k = v \r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Text(Model(c.model)), c.text);
  }
}

TEST(IniTextTest, FlattenLineBreaksGivesOneBlankPerBreak) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"abc", "abc"},     {"a\r\nb", "a b"},  {"a\rb", "a b"},
      {"a\nb", "a b"},    {"a\n\rb", "a  b"}, {"a\r\r\nb", "a  b"},
      {"\r\n\r\n", "  "}, {"\r", " "},        {"a\0\tb"s, "a\0\tb"s},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(FlattenLineBreaks(input), expected) << ::testing::PrintToString(input);
  }
}

}  // namespace
}  // namespace tarveld::testing
