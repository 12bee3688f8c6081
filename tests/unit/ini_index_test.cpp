#include "report/ini_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarveld::testing {
namespace {

// Each form a writer of the store's text might slip from, beside the ones
// it writes. Only a text BuildFileText gives back, but for a few key lines
// the store wrote as handed and trims at its next write, may be kept as it
// is; any other must be laid out anew, or the next write would carry the
// slip.
TEST(IniTextIndexTest, TakesOnlyTheStoresOwnForm) {
  struct Case {
    std::string text;
    bool own;
    std::size_t untrimmed = 0;
  };
  std::string many = "[a]\r\n";
  for (std::size_t i = 0; i <= IniTextIndex::kMostUntrimmed; ++i)
    many += "k" + std::to_string(i) + " = v\r\n";
  const std::vector<Case> cases = {
      {"", true},
      {"[a]\r\nk=v\r\n", true},
      {"[a]\r\n\r\n[b]\r\n", true},
      {";c\r\n;d\r\nk=v\r\n[a]\r\n=w\r\n", true},  // comment block, then a blank-named key
      {"[a]\r\nk=v=w\r\n;note\r\n", true},
      {"[a]\r\nk = v\r\n", true, 1},  // as written once, trimmed at the next write
      {"[a]\r\n k=v\r\nj=\r\n  ;c\r\n", true, 2},
      {many, false},               // too many to be the store's last write
      {"[a]\nk=v\n", false},       // LF alone ends a line
      {"[a]\r\nk=v", false},       // last line without its break
      {"[a]\r\nbare\r\n", false},  // written back as "=bare"
      {" [a]\r\n", false},         // an untrimmed header
      {";c\t\r\n[a]\r\n", false},  // an untrimmed comment block: read as ";c"
      {"[a]\r\n[b]\r\n", false},   // no empty line between sections
      {"[a]\r\n\r\n\r\n[b]\r\n", false},
      {"[a]\r\nk=v\r\n\r\n", false},   // an empty line at the end
      {"[a]\r\n\r\nk=v\r\n", false},   // an empty line inside a section
      {";c\r\n\r\n[a]\r\n", false},    // the comment block is not parted
      {"k=v\r\n[a]\r\n", false},       // a line before the first header
      {"[a]\r\n\r\n[;x]\r\n", false},  // written back as a bare comment
      {"\xEF\xBB\xBF[a]\r\n", false},  // a byte-order mark
      {"[a]\r\nk=a\rb\r\n", false},    // CR alone inside a line
  };
  for (const Case& c : cases) {
    IniTextIndex index;
    EXPECT_EQ(index.Assign(c.text), c.own) << ::testing::PrintToString(c.text);
    EXPECT_EQ(index.Untrimmed().size(), c.untrimmed) << ::testing::PrintToString(c.text);
    if (!c.own) {
      EXPECT_EQ(index.SectionCount(), 0u);
    }
  }
}

// Many keys, each name twice in another case: the table grows many times,
// and every lookup still finds the first of the name.
TEST(IniTextIndexTest, LookupsFindTheFirstOfANameThroughGrowth) {
  std::string text = ";lead\r\n[Log]\r\n";
  constexpr int kNames = 3000;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < kNames; ++i)
      text += (pass == 0 ? "key" : "KEY") + std::to_string(i) + "=" + std::to_string(pass) + "\r\n";
  }
  text += "\r\n[LOG]\r\nkey1=x\r\n";
  IniTextIndex index;
  ASSERT_TRUE(index.Assign(text));
  ASSERT_EQ(index.SectionCount(), 3u);
  EXPECT_EQ(index.FindSection(text, "log"), 1u);
  EXPECT_EQ(index.FindSection(text, ";lead"), IniTextIndex::npos);
  EXPECT_EQ(index.FindSection(text, ""), IniTextIndex::npos);
  for (int i = 0; i < kNames; ++i) {
    ASSERT_EQ(index.FindKey(text, 1, "Key" + std::to_string(i)), static_cast<std::size_t>(i));
    const std::string_view line = IniTextIndex::LineAt(text, index.KeyOffset(1, i + kNames));
    ASSERT_EQ(line, "KEY" + std::to_string(i) + "=1");
  }
  EXPECT_EQ(index.FindKey(text, 1, "key" + std::to_string(kNames)), IniTextIndex::npos);
  EXPECT_EQ(index.FindKey(text, 2, "key1"), 0u);
}

}  // namespace
}  // namespace tarveld::testing
