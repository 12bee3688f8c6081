// The INI store on real files: opening, writing, the exact bytes of every
// rewrite, and the failure paths through a platform that fails on demand.
#include "report/ini_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "report/exceptions.h"
#include "support/fake_platform.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;
using platform::IoResult;
using platform::IoStatus;

// Real files, plus a read or a replacement that fails on demand and a
// record of every replacement asked for.
class ScriptedPlatform : public FakePlatform {
 public:
  bool fail_read = false;
  std::optional<IoStatus> fail_next_replace;
  int replace_calls = 0;
  std::string replaced_path;
  std::string replaced_bytes;

  IoResult ReadFile(const std::string& path, std::string& bytes) override {
    if (fail_read)
      return {IoStatus::kOpenFailed, 13};
    return FakePlatform::ReadFile(path, bytes);
  }
  IoResult ReplaceFile(const std::string& path, std::string_view bytes) override {
    ++replace_calls;
    replaced_path = path;
    replaced_bytes = bytes;
    if (fail_next_replace) {
      const IoStatus status = *fail_next_replace;
      fail_next_replace.reset();
      return {status, 28};
    }
    return FakePlatform::ReplaceFile(path, bytes);
  }
};

// Each line followed by CR LF.
std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

class IniFileTest : public ::testing::Test {
 protected:
  ScriptedPlatform os;
  ScopedPlatform installed{os};
  TempDir dir;
  std::string path = dir.File("Tarveld.txt");
};

TEST_F(IniFileTest, TwoPlaysOfTheReportByteForByte) {
  const std::string T = "07.03.2024 21:05:03";
  struct Step {
    bool new_store;
    std::string section, key, text;
    std::optional<std::int32_t> integer;
    std::string file;
  };
  const std::vector<Step> steps = {
      // First play, on an absent file.
      {true,
       "Initial Start",
       "Actual Date ",
       " " + T,
       {},
       Lines({"[Initial Start]", "Actual Date = " + T})},
      {true,
       "Session Start",
       "Game Date ",
       " 1942-05-04 06:00:00",
       {},
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date = 1942-05-04 06:00:00"})},
      {false, "Session Start", "Game Time ", "", 100000,
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time =100000"})},
      {false,
       "Session Start",
       "Scenario ",
       "S",
       {},
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time=100000", "Scenario =S"})},
      {false,
       "log",
       "100060",
       "M1",
       {},
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time=100000", "Scenario=S", "", "[log]",
              "100060=M1"})},
      {false,
       "log",
       "100120",
       "M2",
       {},
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time=100000", "Scenario=S", "", "[log]",
              "100060=M1", "100120=M2"})},
      // Second play: a new store reads the report back.
      {true,
       "Session Start",
       "Game Date ",
       " 1943-01-10 12:00:00",
       {},
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time=100000", "Scenario=S",
              "Game Date = 1943-01-10 12:00:00", "", "[log]", "100060=M1", "100120=M2"})},
      {false, "Session Start", "Game Time ", "", 100000,
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time=100000", "Scenario=S",
              "Game Date=1943-01-10 12:00:00", "Game Time =100000", "", "[log]", "100060=M1",
              "100120=M2"})},
      {false,
       "Session Start",
       "Scenario ",
       "S2",
       {},
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time=100000", "Scenario=S",
              "Game Date=1943-01-10 12:00:00", "Game Time=100000", "Scenario =S2", "", "[log]",
              "100060=M1", "100120=M2"})},
      {false,
       "log",
       "100060",
       "M3",
       {},
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time=100000", "Scenario=S",
              "Game Date=1943-01-10 12:00:00", "Game Time=100000", "Scenario=S2", "", "[log]",
              "100060=M3", "100120=M2"})},
      {false,
       "log",
       "100200",
       "M4",
       {},
       Lines({"[Initial Start]", "Actual Date=" + T, "", "[Session Start]",
              "Game Date=1942-05-04 06:00:00", "Game Time=100000", "Scenario=S",
              "Game Date=1943-01-10 12:00:00", "Game Time=100000", "Scenario=S2", "", "[log]",
              "100060=M3", "100120=M2", "100200=M4"})},
  };

  std::optional<TIniFile> store;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    if (step.new_store)
      store.emplace(path);
    if (step.integer) {
      store->PutInteger(step.section, step.key, *step.integer);
    } else {
      store->PutText(step.section, step.key, step.text);
    }
    EXPECT_EQ(ReadBytes(path), step.file) << "after step " << i + 1;
  }
  EXPECT_EQ(os.replace_calls, static_cast<int>(steps.size()));
}

TEST_F(IniFileTest, FirstWriteNormalisesAFileFromAnotherTool) {
  WriteBytes(path,
             "stray = before everything\n"
             "; report\r"
             "  note = kept  \n"
             "\n"
             "[Game]\r\n"
             "   \r\n"
             "  a  =  1 \n"
             "\t; inside \r"
             "bare words\r\n"
             "b=x=y\n"
             "\n\n"
             "[ log ]\n"
             "100=M");
  TIniFile store(path);
  store.PutText("Game", "A", "2");
  EXPECT_EQ(ReadBytes(path), Lines({"; report", "note=kept", "[Game]", "a=2", "; inside",
                                    "=bare words", "b=x=y", "", "[ log ]", "100=M"}));
}

TEST_F(IniFileTest, LookupsCompareNamesAsPassedFoldingAsciiOnly) {
  WriteBytes(path, Lines({"[ log ]", "1=a", "[\xC9T\xC9]", "k=v"}));
  TIniFile store(path);
  store.PutText("log", "1", "b");        // " log " is another name
  store.PutText("LOG", "2", "c");        // reaches "log", which keeps its name
  store.PutText("\xE9t\xE9", "k", "w");  // no folding above byte 127
  EXPECT_EQ(ReadBytes(path), Lines({"[ log ]", "1=a", "", "[\xC9T\xC9]", "k=v", "", "[log]", "1=b",
                                    "2=c", "", "[\xE9t\xE9]", "k=w"}));
}

TEST_F(IniFileTest, DuplicatesStayAndWritesReachTheFirst) {
  WriteBytes(path, Lines({"[a]", "k=1", "K=2", "[A]", "k=3"}));
  TIniFile store(path);
  store.PutText("a", "k", "9");
  EXPECT_EQ(ReadBytes(path), Lines({"[a]", "k=9", "K=2", "", "[A]", "k=3"}));
}

TEST_F(IniFileTest, EmptySectionOrKeyNameChangesNothingButRewrites) {
  const std::vector<std::pair<std::string, std::string>> names = {{"", "k"}, {"s", ""}, {"", ""}};
  for (const auto& [section, key] : names) {
    fs::remove(path);
    {
      TIniFile empty(path);
      empty.PutText(section, key, "v");
      EXPECT_TRUE(fs::is_regular_file(path));
      EXPECT_EQ(ReadBytes(path), "") << "[" << section << "] " << key;
      EXPECT_TRUE(empty.Sections().empty());
    }
    WriteBytes(path, "[s]\n k = v \n\n[t]");
    TIniFile store(path);
    store.PutText(section, key, "w");
    EXPECT_EQ(ReadBytes(path), Lines({"[s]", "k=v", "", "[t]"})) << "[" << section << "] " << key;
  }
}

TEST_F(IniFileTest, ValueIsWrittenOnceAsHandedThenTrimmed) {
  TIniFile store(path);
  store.PutText("s", "k", "  v  ");
  EXPECT_EQ(ReadBytes(path), Lines({"[s]", "k=  v  "}));
  ASSERT_EQ(store.Sections().size(), 1u);
  EXPECT_EQ(store.Sections()[0]->Keys[0]->Value, "v");
  store.PutText("s", "j", "");
  EXPECT_EQ(ReadBytes(path), Lines({"[s]", "k=v", "j="}));
}

TEST_F(IniFileTest, PutIntegerGoesThroughTheOverridablePutText) {
  struct Spy : TIniFile {
    using TIniFile::TIniFile;
    std::string seen;
    void PutText(std::string_view, std::string_view, std::string_view value) override {
      seen = value;
    }
  };
  Spy spy(path);
  spy.PutInteger("s", "k", -5);
  EXPECT_EQ(spy.seen, "-5");
  EXPECT_EQ(os.replace_calls, 0);
}

// Every rewrite hands the whole text to one atomic replacement; the old
// file is never truncated in place.
TEST_F(IniFileTest, EachWriteReplacesTheFileWholeOnce) {
  WriteBytes(path, Lines({"[s]", "k=1"}));
  const std::string old_copy = dir.File("old-link");
  fs::create_hard_link(path, old_copy);
  TIniFile store(path);
  store.PutText("s", "k", "2");
  EXPECT_EQ(os.replace_calls, 1);
  EXPECT_EQ(os.replaced_path, path);
  EXPECT_EQ(os.replaced_bytes, Lines({"[s]", "k=2"}));
  EXPECT_EQ(ReadBytes(path), Lines({"[s]", "k=2"}));
  // The old file's bytes are intact under its other name: it was replaced,
  // not rewritten.
  EXPECT_EQ(ReadBytes(old_copy), Lines({"[s]", "k=1"}));
}

TEST_F(IniFileTest, LineBreaksInsideNamesAndValuesBecomeBlanks) {
  TIniFile store(path);
  store.PutText("log", "100", "first\r\nsecond\nthird\rfourth\n\rfifth");
  store.PutText("log", "101", "[evil]\r\nk=v\r\n");
  store.PutText("a\r\nb", "k\ny", "v");
  const std::string expected = Lines(
      {"[log]", "100=first second third fourth  fifth", "101=[evil] k=v", "", "[a b]", "k y=v"});
  EXPECT_EQ(ReadBytes(path), expected);

  // What the writer holds is what the next load finds.
  TIniFile reopened(path);
  reopened.RewriteFile();
  EXPECT_EQ(ReadBytes(path), expected);
  ASSERT_EQ(reopened.Sections().size(), 2u);
  EXPECT_EQ(reopened.Sections()[0]->Keys.size(), 2u);
  EXPECT_EQ(store.Sections()[0]->Keys[1]->Value, "[evil] k=v");
}

TEST_F(IniFileTest, ByteOrderMarkIsSkippedAndNeverWritten) {
  WriteBytes(path, "\xEF\xBB\xBF[a]\r\nk=1\r\n");
  TIniFile store(path);
  store.PutText("a", "j", "\xEF\xBB\xBFx");
  EXPECT_EQ(ReadBytes(path), Lines({"[a]", "k=1", "j=\xEF\xBB\xBFx"}));
}

TEST_F(IniFileTest, DirectoryAtThePathOpensEmptyAndFailsToCreate) {
  fs::create_directory(path);
  WriteBytes(dir.File("Tarveld.txt/inner"), "keep");
  TIniFile store(path);
  EXPECT_TRUE(store.Sections().empty());
  try {
    store.PutText("s", "k", "v");
    FAIL() << "no exception";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.Message(), "Unable to create file \"" + path + "\"");
  }
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(ReadBytes(dir.File("Tarveld.txt/inner")), "keep");
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    entries.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(entries, std::vector<std::string>{"Tarveld.txt"});
}

TEST_F(IniFileTest, FailedRewriteKeepsTheChangeForTheNextWrite) {
  struct Case {
    IoStatus status;
    std::string class_name, message;
  };
  const std::vector<Case> cases = {
      {IoStatus::kCreateFailed, "EFCreateError", "Unable to create file \"" + path + "\""},
      {IoStatus::kWriteFailed, "EWriteError", "Stream write error"},
  };
  for (const Case& c : cases) {
    const std::string before = Lines({"[s]", "k=1"});
    WriteBytes(path, before);
    TIniFile store(path);
    os.fail_next_replace = c.status;
    try {
      store.PutText("s", "new ", " pending ");
      FAIL() << "no exception";
    } catch (const EStreamError& error) {
      EXPECT_STREQ(error.ClassName(), c.class_name.c_str());
      EXPECT_EQ(error.Message(), c.message);
    }
    EXPECT_EQ(ReadBytes(path), before);
    ASSERT_EQ(store.Sections()[0]->Keys.size(), 2u);
    EXPECT_EQ(store.Sections()[0]->Keys[1]->Name, "new ");
    EXPECT_EQ(store.Sections()[0]->Keys[1]->Value, " pending ");

    store.PutText("s", "k", "2");
    EXPECT_EQ(ReadBytes(path), Lines({"[s]", "k=2", "new = pending "})) << c.class_name;
  }
}

// A report of a million keys must not cost twice its size: the store
// keeps the text it opens from rather than a copy of it, and a report read
// from disk comes with room to grow, so that the first writes of a session
// do not copy it into a buffer of twice its size.
TEST_F(IniFileTest, KeepsTheTextItOpensFromWithRoomToGrow) {
  struct Nowhere final : ReportOutput {
    bool NewestText(const std::string&, std::string&) override { return false; }
    void Replace(const std::string&, std::string_view) override {}
  } nowhere;
  std::string bytes = Lines({"[Initial Start]", "Actual Date=x", "", "[log]"});
  // Just under 1 MiB: a read that only doubles its buffer would leave less
  // than an eighth to spare.
  for (int i = 0; i < 60000; ++i)
    bytes += std::to_string(100000 + i) + "=message\r\n";
  WriteBytes(path, bytes);
  const std::size_t size = bytes.size();
  const char* const data = bytes.data();
  const TIniFile kept(path, std::move(bytes), nowhere);
  EXPECT_EQ(kept.Text().data(), data);

  TIniFile read(path, false, nowhere);
  ASSERT_EQ(read.Text().size(), size);
  EXPECT_GE(read.Text().capacity(), size + size / 8);
  const char* const before = read.Text().data();
  for (int i = 0; i < 1000; ++i)
    read.PutText("log", std::to_string(200000 + i), "one more message");
  EXPECT_EQ(read.Text().data(), before);
  EXPECT_EQ(read.Sections()[1]->Keys.size(), 61000u);
}

// A session that ends on ScenLoad leaves its last key line as it was
// handed ("Scenario = ..."). The next open must still keep the report as
// its text, trimmed, rather than build a model of every key.
TEST_F(IniFileTest, ReportLeftWithItsLastLineUntrimmedIsKeptAsText) {
  {
    TIniFile first(path);
    first.PutText("log", "1", "m");
    first.PutText("Session Start", "Scenario ", " Convoy");
  }
  std::string bytes = ReadBytes(path);
  ASSERT_EQ(bytes, Lines({"[log]", "1=m", "", "[Session Start]", "Scenario = Convoy"}));
  const char* const data = bytes.data();
  const TIniFile next(path, std::move(bytes), DirectOutput());
  EXPECT_TRUE(next.KeptAsTextForTesting());
  EXPECT_EQ(next.Text().data(), data);
  EXPECT_EQ(next.Text(), Lines({"[log]", "1=m", "", "[Session Start]", "Scenario=Convoy"}));
}

TEST_F(IniFileTest, UnreadableFileRaisesOpenError) {
  WriteBytes(path, Lines({"[s]", "k=1"}));
  os.fail_read = true;
  try {
    TIniFile store(path);
    FAIL() << "no exception";
  } catch (const EFOpenError& error) {
    EXPECT_EQ(error.Message(), "Unable to open file \"" + path + "\"");
    // The system's reason goes with it, for whoever names the failure.
    EXPECT_EQ(error.OsError(), 13);
  }
  EXPECT_EQ(ReadBytes(path), Lines({"[s]", "k=1"}));
}

}  // namespace
}  // namespace tarveld::testing
