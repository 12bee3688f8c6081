// The journal reader of tarveld-aar: what the plug-in writes comes back
// field for field, and every line that is not whole or not the plug-in's
// is left out and counted, never half-read.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "aar/journal_reader.h"
#include "plugin/event_texts.h"
#include "plugin/journal.h"

namespace tarveld::aar {
namespace {

constexpr char kDate[] = "1942-06-04 04:31:00";

// A journal line as the plug-in pads it.
std::string Line(std::string date, std::string game_time, std::string kind, std::string text) {
  date.resize(std::max<std::size_t>(date.size(), 19), ' ');
  kind.resize(std::max<std::size_t>(kind.size(), 10), ' ');
  return date + " | " + game_time + " | " + kind + " | " + text;
}

// The plug-in's own writer, its texts composed by its own functions: the
// reader must take back every field, whatever the group, scenario or
// message holds.
TEST(AarJournalReader, ReadsBackWhatThePluginWrites) {
  const GameDateRec start{1942, 6, 4, 4, 30, 0, 0};
  PluginSession session;
  session.GameClock = 100183;
  ChangeTimeFactor(session, 16);
  const std::string factor_text = session.TimeFactorText;
  SinkUnit(session, 7, "Escort 2, UnitID=99 | odd");
  const std::string sink_text = session.SinkText;

  struct Case {
    std::string line;
    JournalKind kind;
    std::string text, start_date, group, unit;
    std::int64_t factor;
  };
  const std::vector<Case> cases = {
      {JournalLine(JournalDate(&start, 100000), 100000, JournalEvent::kScenario,
                   ScenarioJournalText(&start, "Convoy, Scenario=x/Scen#3")),
       JournalKind::kScenario, "Convoy, Scenario=x/Scen#3", "1942-06-04 04:30:00", "", "", 0},
      {JournalLine(JournalDate(nullptr, 100000), 100000, JournalEvent::kScenario,
                   ScenarioJournalText(nullptr, "")),
       JournalKind::kScenario, "", "", "", "", 0},
      {JournalLine(JournalDate(&start, 100183), 100183, JournalEvent::kMessage,
                   "a | b | c\r\nnext"),
       JournalKind::kMessage, "a | b | c next", "", "", "", 0},
      {JournalLine(JournalDate(&start, 100183), 100183, JournalEvent::kMessage, ""),
       JournalKind::kMessage, "", "", "", "", 0},
      {JournalLine(JournalDate(&start, 100183), 100183, JournalEvent::kTimeFactor, factor_text),
       JournalKind::kTimeFactor, "", "", "", "", 16},
      {JournalLine(JournalDate(&start, 100183), 100183, JournalEvent::kSinking, sink_text),
       JournalKind::kSinking, "", "", "Escort 2, UnitID=99 | odd", "07", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    JournalEntry entry;
    ASSERT_TRUE(ReadJournalLine(c.line, entry));
    EXPECT_EQ(entry.kind, c.kind);
    EXPECT_EQ(entry.text, c.text);
    EXPECT_EQ(entry.start_date, c.start_date);
    EXPECT_EQ(entry.group, c.group);
    EXPECT_EQ(entry.unit, c.unit);
    EXPECT_EQ(entry.time_factor, c.factor);
  }
}

TEST(AarJournalReader, ReadsDatesAndGameTimes) {
  struct Case {
    std::string line;
    std::string date;
    std::int64_t game_time;
  };
  const std::vector<Case> cases = {
      {Line(kDate, "00100060", "MESSAGE", "m"), kDate, 100060},
      {Line("no start date", "00100060", "MESSAGE", "m"), "", 100060},
      {Line(kDate, "-00000005", "MESSAGE", "m"), kDate, -5},
      {Line(kDate, "2147483647", "MESSAGE", "m"), kDate, 2147483647},
      // A year past four digits leaves no padding, and is kept whole.
      {Line("12345-01-02 03:04:05", "00100060", "MESSAGE", "m"), "12345-01-02 03:04:05", 100060},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    JournalEntry entry;
    ASSERT_TRUE(ReadJournalLine(c.line, entry));
    EXPECT_EQ(entry.date, c.date);
    EXPECT_EQ(entry.game_time, c.game_time);
  }
}

// Lines cut short (and ended by the next write's line break), lines of an
// older layout and foreign text.
TEST(AarJournalReader, RefusesLinesThatAreNotWhole) {
  const std::vector<std::string> lines = {
      "1942-06-04 04:3",
      Line(kDate, "00100060", "SINKING", "00100060: GroupID=Escort 5, Uni"),
      Line(kDate, "00100060", "SINKING", "00100060: GroupID=Escort 5, UnitID=03"),
      Line(kDate, "00100060", "SINKING", "00100060: GroupID=Escort 5, UnitID=, Sinking"),
      Line(kDate, "00100060", "TIMEFACTOR", "00100060: TimeFactor="),
      Line(kDate, "00100060", "TIMEFACTOR", "00100060: TimeFac"),
      Line(kDate, "00100000", "SCENARIO", "Start=1942-06-04 04:3"),
      Line(kDate, "00100000", "SCENARIO", "Start=1942-06-04 04:30:00"),
      Line(kDate, "00100060", "MESSAG", "kind cut short"),
      Line(kDate, "00100060", "message", "kind in lower case"),
      Line(kDate, "00100060", "UNITMOVE", "a kind of its own"),
      Line(kDate, "100060", "MESSAGE", "game time unpadded, an older layout"),
      Line("1942-6-4 4:31:00", "00100060", "MESSAGE", "date unpadded"),
      Line("04/06/1942 04:31", "00100060", "MESSAGE", "date in a local format"),
      kDate + std::string(" | 00100060 | Escort 5 formed up"),
      std::string(kDate) + "\t00100060\tMESSAGE\ttab-separated",
      "100060=Weather: clear, visibility 15 nm",
      "[log]",
  };
  for (const std::string& line : lines) {
    JournalEntry entry;
    EXPECT_FALSE(ReadJournalLine(line, entry)) << line;
  }
}

// The four forms of FAILURE text, with each reason the plug-in names; a
// text of another form is not the plug-in's, and an unknown kind of line
// among them is still skipped without stopping the rest.
TEST(AarJournalReader, ReadsFailureLinesAndRefusesOthers) {
  struct Case {
    std::string text;
    bool read;
    FailedFile file;
    bool recovered;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"report: not written: another program held it (EFCreateError: Unable to create file "
       "\"C:\\Games\\Tarveld.txt\")",
       true, FailedFile::kReport, false, "another program held it"},
      {"report: not written: access was denied (EFCreateError: x (y): z)", true,
       FailedFile::kReport, false, "access was denied"},
      {"journal: not flushed: the disk was full (EWriteError: no room)", true, FailedFile::kJournal,
       false, "the disk was full"},
      {"journal: not flushed: system error 1117 (EOSError: I/O device error)", true,
       FailedFile::kJournal, false, "system error 1117"},
      {"report: written again", true, FailedFile::kReport, true, ""},
      {"journal: flushed again", true, FailedFile::kJournal, true, ""},
      {"report: flushed again", false, {}, false, ""},
      {"journal: not written: the disk was full (E: m)", false, {}, false, ""},
      {"report: not written: the cat sat on it (E: m)", false, {}, false, ""},
      {"report: not written: system error (E: m)", false, {}, false, ""},
      {"report: not written: system error 5x (E: m)", false, {}, false, ""},
      {"report: not written: the disk was full", false, {}, false, ""},
      {"report: not written: the disk was full (EWriteErr", false, {}, false, ""},
      {"report: written again later", false, {}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    JournalEntry entry;
    ASSERT_EQ(ReadJournalLine(Line(kDate, "00100060", "FAILURE", c.text), entry), c.read);
    if (!c.read)
      continue;
    EXPECT_EQ(entry.kind, JournalKind::kFailure);
    EXPECT_EQ(entry.failed_file, c.file);
    EXPECT_EQ(entry.recovered, c.recovered);
    EXPECT_EQ(entry.reason, c.reason);
    EXPECT_EQ(entry.text, c.text);
  }
  const JournalRead read =
      ReadJournal(Line(kDate, "00100060", "FAILURE", "report: written again") + "\r\n" +
                  Line(kDate, "00100060", "WEATHER", "a kind of the future") + "\r\n" +
                  Line(kDate, "00100060", "MESSAGE", "after it") + "\r\n");
  EXPECT_EQ(read.entries.size(), 2u);
  EXPECT_EQ(read.skipped_lines, (std::vector<std::size_t>{2}));
}

TEST(AarJournalReader, CountsAndNamesTheLinesItSkips) {
  const std::string good = Line(kDate, "00100060", "MESSAGE", "kept");
  // Line 2 was cut short by a crash and ended by the next write; line 4 is
  // empty (left when the plug-in could not tell how the file ended); line 6
  // has no line break, so it may be cut short anywhere.
  const std::string bytes = good + "\r\n" + Line(kDate, "00100060", "SINKING", "00100060: Gro") +
                            "\r\n" + good + "\r\n\r\n" + good + "\r\n" + good;
  const JournalRead read = ReadJournal(bytes);
  EXPECT_EQ(read.lines, 6u);
  EXPECT_EQ(read.entries.size(), 3u);
  EXPECT_EQ(read.skipped, 2u);
  EXPECT_EQ(read.skipped_lines, (std::vector<std::size_t>{2, 6}));
  EXPECT_EQ(read.entries.back().line, 5u);
}

TEST(AarJournalReader, TakesEditedFilesAsLongAsTheLinesAreWhole) {
  const std::string good = Line(kDate, "00100060", "MESSAGE", "kept");
  // A byte-order mark and LF line ends, as an editor may leave them.
  const JournalRead read = ReadJournal("\xEF\xBB\xBF" + good + "\n" + good + "\n");
  EXPECT_EQ(read.entries.size(), 2u);
  EXPECT_EQ(read.skipped, 0u);
  ASSERT_FALSE(read.entries.empty());
  EXPECT_EQ(read.entries.front().date, kDate);
}

TEST(AarJournalReader, KeepsTheFirstSkippedLineNumbersAndCountsAll) {
  std::string bytes;
  for (int i = 0; i < 25; ++i)
    bytes += "foreign text\r\n";
  const JournalRead read = ReadJournal(bytes);
  EXPECT_EQ(read.skipped, 25u);
  ASSERT_EQ(read.skipped_lines.size(), kSkippedLinesKept);
  EXPECT_EQ(read.skipped_lines.front(), 1u);
  EXPECT_EQ(read.skipped_lines.back(), kSkippedLinesKept);
}

}  // namespace
}  // namespace tarveld::aar
