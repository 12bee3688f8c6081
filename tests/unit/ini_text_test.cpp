// The INI text functions on strings: trimming, name matching and lookups,
// splitting, parsing, building the file text.
#include "report/ini_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
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

bool SameModel(const TIniFileSectionList& a, const TIniFileSectionList& b) {
  auto same_key = [](const auto& x, const auto& y) {
    return x->Name == y->Name && x->Value == y->Value;
  };
  auto same_section = [&](const auto& x, const auto& y) {
    return x->Name == y->Name &&
           std::equal(x->Keys.begin(), x->Keys.end(), y->Keys.begin(), y->Keys.end(), same_key);
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), same_section);
}

TIniFileSectionList Parse(const std::string& text) {
  const std::vector<std::string_view> lines = SplitLines(text);
  return ParseLines(lines);
}

struct SectionShape {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
};

TIniFileSectionList Model(const std::vector<SectionShape>& shapes) {
  TIniFileSectionList sections;
  for (const SectionShape& shape : shapes) {
    auto section = std::make_unique<TIniFileSection>();
    section->Name = shape.name;
    for (const auto& [name, value] : shape.keys) {
      section->Keys.push_back(std::make_unique<TIniFileKey>(TIniFileKey{name, value}));
    }
    sections.push_back(std::move(section));
  }
  return sections;
}

std::string Text(const TIniFileSectionList& sections) {
  std::string text;
  BuildFileText(sections, text);
  return text;
}

// What the store's lookup finds for `name` among `items`: a NameIndex of
// them, or nullptr.
template <typename Item>
const Item* Found(const std::vector<std::unique_ptr<Item>>& items, std::string_view name) {
  NameIndex index;
  index.Assign(items);
  const std::size_t position = index.Find(name);
  return position == NameIndex::npos ? nullptr : items[position].get();
}

// The first section whose name matches `name` in list order; an empty or
// comment name finds nothing. What the index must agree with.
const TIniFileSection* Scan(const TIniFileSectionList& sections, std::string_view name) {
  if (name.empty() || IsComment(name))
    return nullptr;
  for (const auto& section : sections) {
    if (NamesMatch(section->Name, name))
      return section.get();
  }
  return nullptr;
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
  EXPECT_EQ(Found(sections, ""), nullptr);
  EXPECT_EQ(Found(sections, ";c"), nullptr);
  EXPECT_EQ(Found(sections, "Log"), sections[2].get());
  EXPECT_EQ(Found(sections, "lo"), nullptr);
  EXPECT_EQ(Found(sections, "log "), nullptr);

  const TIniFileKeyList& keys = sections[2]->Keys;
  EXPECT_EQ(Found(keys, "K"), keys[0].get());
  EXPECT_EQ(Found(keys, ";n"), nullptr);
  EXPECT_EQ(Found(keys, ""), nullptr);
  EXPECT_EQ(Found(keys, "k2"), nullptr);
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

TEST(IniTextTest, BuildFileText) {
  struct Case {
    std::vector<SectionShape> model;
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

TEST(IniTextTest, BuildFileTextReusedIsTheSameText) {
  const std::vector<std::vector<SectionShape>> models = {
      {},
      {{"a", {}}},
      {{";c", {{"x", "1"}, {";n", ""}}}, {"a", {{"k", "v"}, {"", "w"}}}, {"b", {}}},
      {{"a\r\nb", {{"k\n", "v\rw"}}}, {";c", {{"y", "2"}}}},
  };
  std::string text = "old content is replaced";
  for (const auto& specs : models) {
    const TIniFileSectionList sections = Model(specs);
    BuildFileText(sections, text);
    EXPECT_EQ(text, Text(sections));
  }
}

TEST(IniTextTest, IsSettledWhenTheRebuildGivesTheModelBack) {
  struct Case {
    std::vector<SectionShape> model;
    bool settled;
  };
  const std::vector<Case> cases = {
      {{}, true},
      {{{";top", {{"k", "v"}}}, {"a", {{";c", ""}, {"", "x"}, {"k", ""}}}, {"", {}}}, true},
      {{{" a ", {{"[x", "y"}, {"x", "y]"}, {"k", "a=b"}}}}, true},
      {{{"a", {}}, {";c", {}}}, false},  // read back as a comment key of "a"
      {{{"; top ", {}}}, false},
      {{{"a\nb", {}}}, false},
      {{{"a", {{";c", "v"}}}}, false},
      {{{"a", {{";c ", ""}}}}, false},
      {{{"a", {{" k", "v"}}}}, false},
      {{{"a", {{"k", "v "}}}}, false},
      {{{"a", {{"k\r", "v"}}}}, false},
      {{{"a", {{"k", "v\rw"}}}}, false},
      {{{"a", {{"k=j", "v"}}}}, false},
      {{{"a", {{"[k", "v]"}}}}, false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const TIniFileSectionList sections = Model(cases[i].model);
    EXPECT_EQ(IsSettled(sections), cases[i].settled) << "case " << i;
    EXPECT_EQ(SameModel(Parse(Text(sections)), sections), cases[i].settled) << "case " << i;
  }
}

TEST(IniTextTest, NameIndexFindsWhatTheScanFinds) {
  const TIniFileSectionList sections =
      Model({{"", {}},
             {";c", {}},
             {"log", {{"k", "1"}, {"K", "2"}, {";n", ""}, {"j", ""}}},
             {"LOG", {}},
             {"\xe9", {}}});
  NameIndex index;
  index.Assign(sections);
  for (const char* name : {"", ";c", "log", "Log", "LOG", "lo", "log ", "\xe9", "\xc9", "x"}) {
    const TIniFileSection* found = Scan(sections, name);
    const std::size_t position = index.Find(name);
    EXPECT_EQ(position == NameIndex::npos ? nullptr : sections[position].get(), found) << name;
  }

  NameIndex keys;
  keys.Assign(sections[2]->Keys);
  EXPECT_EQ(keys.Find("K"), 0u);
  EXPECT_EQ(keys.Find(";n"), NameIndex::npos);
  keys.Append("k ", 4);  // a new last key
  EXPECT_EQ(keys.Find("K "), 4u);
  keys.RenameLast("k ", "k", 4);  // an earlier "k" keeps the entry
  EXPECT_EQ(keys.Find("k"), 0u);
  EXPECT_EQ(keys.Find("k "), NameIndex::npos);
  keys.Append("m ", 5);
  keys.RenameLast("m ", "m", 5);
  EXPECT_EQ(keys.Find("M"), 5u);
  EXPECT_EQ(keys.Find("m "), NameIndex::npos);
  keys.RenameLast("j", "j2", 9);  // not the entry's item: "j" stays at 3
  EXPECT_EQ(keys.Find("j"), 3u);
  EXPECT_EQ(keys.Find("J2"), 9u);
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
