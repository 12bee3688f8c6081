// The session-script reader: what good lines become, and the exact message
// and position of each kind of bad line.
#include "host/script.h"

#include <gtest/gtest.h>

#include <string>

namespace tarveld::host {
namespace {

// The one call of a one-line script.
Call OnlyCall(const std::string& text) {
  ReadResult result = ReadScript(text);
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : FormatError("t", result.errors[0]));
  EXPECT_EQ(result.script.steps.size(), 1u);
  if (!result.ok() || result.script.steps.size() != 1)
    return {};
  return std::get<Call>(result.script.steps[0].action);
}

// The first error of a script, as printed for the file "s.session".
std::string FirstError(const std::string& text) {
  ReadResult result = ReadScript(text);
  return result.ok() ? "(no error)" : FormatError("s.session", result.errors[0]);
}

TEST(EntryPointTable, NamesAndParameterCountsFollowTheInterface) {
  const struct {
    const char* name;
    std::size_t parameters;
  } kExpected[] = {{"DLLVer", 0},     {"DLLVerInt", 0}, {"DLLDesc", 0},  {"DLLInit", 1},
                   {"DLLFree", 0},    {"GameTime", 2},  {"ScenLoad", 9}, {"MsgLog", 1},
                   {"TimeFactor", 1}, {"UnitSink", 2}};
  for (const auto& expected : kExpected) {
    auto entry = FindEntryPoint(expected.name);
    ASSERT_TRUE(entry) << expected.name;
    EXPECT_EQ(EntryPointName(*entry), expected.name);
    EXPECT_EQ(EntryPointParameters(*entry).size(), expected.parameters) << expected.name;
  }
  EXPECT_FALSE(FindEntryPoint("msglog"));  // the loader's lookup is case-sensitive
  EXPECT_FALSE(FindEntryPoint(""));
}

TEST(ReadScript, IntegersAreRawThirtyTwoBitSlots) {
  const struct {
    const char* written;
    std::uint32_t slot;
  } kCases[] = {
      {"0", 0},
      {"65535", 0xFFFF},
      {"0x1203", 0x1203},
      {"0XABCDEF01", 0xABCDEF01},
      {"-1", 0xFFFFFFFF},
      {"4294967295", 0xFFFFFFFF},
      {"0xFFFFFFFF", 0xFFFFFFFF},
      {"-2147483648", 0x80000000},
      {"2147483648", 0x80000000},
      {"00042", 42},
  };
  for (const auto& c : kCases) {
    Call call = OnlyCall(std::string("TimeFactor ") + c.written);
    ASSERT_EQ(call.arguments.size(), 1u) << c.written;
    EXPECT_EQ(call.arguments[0].slot, c.slot) << c.written;
  }
}

TEST(ReadScript, TextsDecodeEscapesToBytes) {
  const struct {
    const char* written;
    std::string bytes;
  } kCases[] = {
      {R"("")", ""},
      {R"("Contact")", "Contact"},
      {R"("a\nb\rc\td")", "a\nb\rc\td"},
      {R"("say \"hi\" \\ done")", "say \"hi\" \\ done"},
      {R"("\x41\x7e\xFF\x01")", "A~\xFF\x01"},
      {R"("# not a comment")", "# not a comment"},
      {"\"raw\t\xE9t\xE9\"", "raw\t\xE9t\xE9"},  // raw tab and 8-bit bytes pass through
  };
  for (const auto& c : kCases) {
    Call call = OnlyCall(std::string("MsgLog ") + c.written);
    ASSERT_EQ(call.arguments.size(), 1u) << c.written;
    ASSERT_TRUE(call.arguments[0].text) << c.written;
    EXPECT_EQ(*call.arguments[0].text, c.bytes) << c.written;
  }
  EXPECT_FALSE(OnlyCall("MsgLog null").arguments[0].text);
}

TEST(ReadScript, QuoteTextReadsBackAsTheSameBytes) {
  std::string every_byte;
  for (int byte = 1; byte < 256; ++byte)
    every_byte += static_cast<char>(byte);
  Call call = OnlyCall("MsgLog " + QuoteText(every_byte));
  ASSERT_TRUE(call.arguments[0].text);
  EXPECT_EQ(*call.arguments[0].text, every_byte);
  EXPECT_EQ(QuoteText("a\"b\\\n\x7f"), R"("a\"b\\\n\x7F")");
}

TEST(ReadScript, ScenLoadTakesNineTypedArguments) {
  ReadResult result = ReadScript(
      "record start = 1942-06-04 04:30:00 extra 7\n"
      "ScenLoad 1 65535 \"Patrol\" 0xff null 3 100000 -2 start\n"
      "ScenLoad 0 2 null 0 \"Convoy\" 0 100000 0 null\n");
  ASSERT_TRUE(result.ok());
  ASSERT_EQ(result.script.records, std::vector<std::string>{"start"});
  ASSERT_EQ(result.script.steps.size(), 3u);
  const Call& first = std::get<Call>(result.script.steps[1].action);
  EXPECT_EQ(first.entry, EntryPoint::kScenLoad);
  ASSERT_EQ(first.arguments.size(), 9u);
  EXPECT_EQ(first.arguments[0].slot, 1u);
  EXPECT_EQ(first.arguments[1].slot, 0xFFFFu);
  EXPECT_EQ(first.arguments[2].text, std::optional<std::string>("Patrol"));
  EXPECT_EQ(first.arguments[3].slot, 0xFFu);
  EXPECT_FALSE(first.arguments[4].text);
  EXPECT_EQ(first.arguments[5].slot, 3u);
  EXPECT_EQ(first.arguments[6].slot, 100000u);
  EXPECT_EQ(first.arguments[7].slot, 0xFFFFFFFEu);
  EXPECT_EQ(first.arguments[8].record, 0);
  EXPECT_EQ(std::get<Call>(result.script.steps[2].action).arguments[8].record, -1);
  EXPECT_EQ(result.script.steps[1].line, 2);
}

TEST(ReadScript, RecordsAreDefinedThenChangedInScriptOrder) {
  ReadResult result = ReadScript(
      "record start = 1942-06-04 04:30:00\n"
      "record other = 12345-1-2 3:4:5 extra 0xFFFFFFFF\n"
      "set start.Hour = -3\n"
      "set start = 1943-01-10 12:00:00\n"
      "set start = 1944-02-11 13:01:02 extra 9\n"
      "set other = 2147483647-2147483647-2147483647 2147483647:2147483647:2147483647\n");
  ASSERT_TRUE(result.ok()) << FormatError("t", result.errors[0]);
  ASSERT_EQ(result.script.records, (std::vector<std::string>{"start", "other"}));
  using Fields = std::array<std::optional<std::int32_t>, kRecordFieldCount>;
  const std::nullopt_t none = std::nullopt;
  const std::int32_t kMax = 2147483647;
  const Fields kExpected[] = {
      {1942, 6, 4, 4, 30, 0, 0},                 // a new record's Extra is 0
      {12345, 1, 2, 3, 4, 5, -1},                // widths are free; Extra is a raw slot
      {none, none, none, -3, none, none, none},  // one field, any 32-bit value
      {1943, 1, 10, 12, 0, 0, none},             // a date without extra keeps Extra
      {1944, 2, 11, 13, 1, 2, 9},
      {kMax, kMax, kMax, kMax, kMax, kMax, none},  // every part at the top of 32 bits
  };
  const int kRecord[] = {0, 1, 0, 0, 0, 1};
  ASSERT_EQ(result.script.steps.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    const auto& assignment = std::get<RecordAssignment>(result.script.steps[i].action);
    EXPECT_EQ(assignment.record, kRecord[i]) << "line " << i + 1;
    EXPECT_EQ(assignment.fields, kExpected[i]) << "line " << i + 1;
  }
}

TEST(ReadScript, CommentsBlankLinesAndLineEndsAreNotSteps) {
  ReadResult result = ReadScript(
      "\xEF\xBB\xBF# a byte-order mark, then a comment\r\n"
      "\r\n"
      "   \t\n"
      "  DLLInit 0   # trailing comment\r\n"
      "DLLFree#right after the name\n"
      "MsgLog \"x\"");  // no line break at the end
  ASSERT_TRUE(result.ok()) << FormatError("t", result.errors[0]);
  ASSERT_EQ(result.script.steps.size(), 3u);
  EXPECT_EQ(result.script.steps[0].line, 4);
  EXPECT_EQ(result.script.steps[0].source, "DLLInit 0   # trailing comment");
  EXPECT_EQ(result.script.steps[1].line, 5);
  EXPECT_EQ(result.script.steps[2].line, 6);
  EXPECT_EQ(std::get<Call>(result.script.steps[2].action).arguments[0].text,
            std::optional<std::string>("x"));
}

TEST(ReadScript, BadLinesGiveFileLineColumnAndMessage) {
  const struct {
    const char* script;
    const char* message;
  } kCases[] = {
      // Calls and their argument counts.
      {"MsgLg \"x\"", "s.session:1:1: unknown call 'MsgLg'"},
      {"  msglog \"x\"", "s.session:1:3: unknown call 'msglog' (did you mean 'MsgLog'?)"},
      {"MsgLog \"a\" \"b\"", "s.session:1:12: MsgLog takes 1 argument, got 2"},
      {"ScenLoad 0 2 null 0 \"C\" 0 100000 0", "s.session:1:35: ScenLoad takes 9 arguments, got 8"},
      {"DLLInit", "s.session:1:8: DLLInit takes 1 argument, got 0"},
      {"DLLFree 0", "s.session:1:9: DLLFree takes no arguments, got 1"},
      {"\"x\"", "s.session:1:1: expected a call, 'record' or 'set'"},
      // Argument kinds.
      {"MsgLog 5",
       "s.session:1:8: MsgLog argument 1 (message) takes a text in double quotes or null"},
      {"GameTime null 0", "s.session:1:10: GameTime argument 1 (game time) takes an integer"},
      {"UnitSink \"3\" null", "s.session:1:10: UnitSink argument 1 (unit number) takes an integer"},
      {"ScenLoad 0 2 null 0 \"C\" 0 1 0 \"start\"",
       "s.session:1:31: ScenLoad argument 9 (start date record) takes a record name or null"},
      {"ScenLoad 0 2 null 0 \"C\" 0 1 0 strat", "s.session:1:31: unknown record 'strat'"},
      {"MsgLog \"a\"\"b\"", "s.session:1:11: unexpected '\"'; a blank must separate arguments"},
      {"MsgLog @", "s.session:1:8: unexpected '@'"},
      // The whole line is split before any argument is matched: its syntax
      // error comes first, the count next, an argument's kind last.
      {"GameTime null \"x", "s.session:1:15: unterminated text"},
      {"GameTime null 0 0", "s.session:1:17: GameTime takes 2 arguments, got 3"},
      // Integers.
      {"TimeFactor 4294967296", "s.session:1:12: integer '4294967296' does not fit 32 bits"},
      {"TimeFactor -2147483649", "s.session:1:12: integer '-2147483649' does not fit 32 bits"},
      {"TimeFactor 12ab", "s.session:1:12: bad integer '12ab'"},
      {"TimeFactor 0x", "s.session:1:12: bad integer '0x'"},
      {"TimeFactor -0x10", "s.session:1:12: bad integer '-0x10'"},
      // Texts.
      {"MsgLog \"a\\qb\"", "s.session:1:10: unknown escape '\\q'"},
      {"MsgLog \"abc", "s.session:1:8: unterminated text"},
      {"MsgLog \"abc\\", "s.session:1:8: unterminated text"},
      {"MsgLog \"a\\x4\"", "s.session:1:10: '\\x' needs two hex digits"},
      {"MsgLog \"a\\x00\"", "s.session:1:10: a text cannot hold byte 0"},
      // Records.
      {"set start.Hour = 5", "s.session:1:5: unknown record 'start'"},
      {"record r = 1942-06-04\n",
       "s.session:1:22: expected a date and time as YYYY-MM-DD HH:MM:SS"},
      {"record r = 1942-06-04T04:30:00",
       "s.session:1:22: expected a date and time as YYYY-MM-DD HH:MM:SS"},
      {"record r = 1942-06-04 04:30:00 extra", "s.session:1:37: expected an integer after 'extra'"},
      {"record r = 1942-06-04 04:30:00 Extra 1",
       "s.session:1:32: expected 'extra' or the end of the line"},
      {"record r = 99999999999-01-01 00:00:00", "s.session:1:12: year does not fit 32 bits"},
      {"record r = 2147483648-01-01 00:00:00", "s.session:1:12: year does not fit 32 bits"},
      {"record r = 1942-06-04 04:30:2147483648", "s.session:1:29: second does not fit 32 bits"},
      {"record r 1942-06-04 04:30:00", "s.session:1:10: expected '='"},
      {"record null = 1942-06-04 04:30:00", "s.session:1:8: 'null' cannot name a record"},
      {"record r = 1942-06-04 04:30:00\nrecord r = 1943-01-01 00:00:00",
       "s.session:2:8: record 'r' is already defined on line 1"},
      {"record r = 1942-06-04 04:30:00\nset r.hour = 5",
       "s.session:2:7: unknown field 'hour' (fields: Year, Month, Day, Hour, Minute, Second, "
       "Extra)"},
      {"record r = 1942-06-04 04:30:00\nset r.Hour = 5 6",
       "s.session:2:16: unexpected '6' at the end"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(FirstError(c.script), c.message) << c.script;
  }
  // A NUL byte in a text cannot reach the plug-in, which stops at it.
  EXPECT_EQ(FirstError(std::string("MsgLog \"a\0b\"", 12)),
            "s.session:1:10: a text cannot hold byte 0");
}

TEST(ReadScript, EveryBadLineIsReportedAndNoGoodLineIs) {
  ReadResult result = ReadScript(
      "DLLInit 0\n"
      "MsgLg \"x\"\n"
      "record start = 1942-06-04 4:30\n"  // bad, but the name is known from here on
      "ScenLoad 0 2 null 0 \"C\" 0 1 0 start\n"
      "GameTime 1\n");
  ASSERT_EQ(result.errors.size(), 3u);
  EXPECT_EQ(result.errors[0].line, 2);
  EXPECT_EQ(result.errors[1].line, 3);
  EXPECT_EQ(result.errors[2].line, 5);
  EXPECT_EQ(result.script.steps.size(), 2u);  // DLLInit and ScenLoad
}

}  // namespace
}  // namespace tarveld::host
