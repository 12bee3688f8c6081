// The battle model of tarveld-aar, fed by the journal, by the report, or by
// both: which events belong to which battle, and what each file alone can
// still tell.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "aar/battle.h"
#include "aar/journal_reader.h"
#include "aar/report_reader.h"
#include "report/ini_text.h"

namespace tarveld::aar {
namespace {

std::string Journal(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines)
    bytes += line + "\r\n";
  return bytes;
}

ReportRead Report(const std::string& text) {
  const std::vector<std::string_view> lines = SplitLines(text);
  return ReadReportSections(ParseLines(lines));
}

const char* const kScenario1 =
    "1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 04:30:00, "
    "Scenario=Convoy/Scen#3";
const char* const kScenario1Again =
    "1943-01-10 12:00:00 | 00100000 | SCENARIO   | Start=1943-01-10 12:00:00, "
    "Scenario=Convoy/Scen#3";

TEST(AarBattle, ASecondPlayOfTheSameScenarioIsABattleOfItsOwn) {
  const JournalRead journal = ReadJournal(Journal({
      kScenario1,
      "1942-06-04 04:31:00 | 00100060 | MESSAGE    | first play",
      "1942-06-04 04:31:00 | 00100060 | SINKING    | 00100060: GroupID=Escort 5, UnitID=03, "
      "Sinking",
      kScenario1Again,
      "1943-01-10 12:01:00 | 00100060 | MESSAGE    | second play",
      "1943-01-10 12:02:00 | 00100120 | TIMEFACTOR | 00100120: TimeFactor=4",
  }));
  const AfterAction after = BuildAfterAction(&journal, nullptr);
  ASSERT_EQ(after.battles.size(), 2u);
  const Battle& first = after.battles[0];
  const Battle& second = after.battles[1];
  EXPECT_EQ(first.scenario, "Convoy/Scen#3");
  EXPECT_EQ(second.scenario, "Convoy/Scen#3");
  EXPECT_EQ(first.play, 1);
  EXPECT_EQ(second.play, 2);
  ASSERT_EQ(first.messages.size(), 1u);
  EXPECT_EQ(first.messages[0].text, "first play");
  EXPECT_EQ(first.sinkings.size(), 1u);
  EXPECT_TRUE(first.time_factors.empty());
  ASSERT_EQ(second.messages.size(), 1u);
  EXPECT_EQ(second.messages[0].text, "second play");
  EXPECT_TRUE(second.sinkings.empty());
  ASSERT_EQ(second.time_factors.size(), 1u);
  EXPECT_EQ(second.time_factors[0].factor, 4);
  EXPECT_EQ(second.start_date, "1943-01-10 12:00:00");
  EXPECT_EQ(second.first.date, "1943-01-10 12:00:00");
  EXPECT_EQ(second.last.date, "1943-01-10 12:02:00");
  EXPECT_EQ(second.last.game_time, 100120);
}

TEST(AarBattle, ABattleWithoutStartDateOrEventsOrScenario) {
  const JournalRead journal = ReadJournal(Journal({
      "no start date       | 00100030 | MESSAGE    | before any scenario",
      "no start date       | 00100000 | SCENARIO   | Start=none, Scenario=Landing",
      "no start date       | 00100300 | MESSAGE    | ashore",
      kScenario1,
      kScenario1Again,
  }));
  const AfterAction after = BuildAfterAction(&journal, nullptr);
  ASSERT_EQ(after.battles.size(), 4u);

  const Battle& before = after.battles[0];
  EXPECT_FALSE(before.has_scenario);
  ASSERT_EQ(before.messages.size(), 1u);
  EXPECT_EQ(before.first.game_time, 100030);

  const Battle& undated = after.battles[1];
  EXPECT_TRUE(undated.has_scenario);
  EXPECT_EQ(undated.start_date, "");
  EXPECT_EQ(undated.first.date, "");
  EXPECT_EQ(undated.last.game_time, 100300);

  // Loaded and left at once: no events, and a span of no time.
  const Battle& empty = after.battles[2];
  EXPECT_FALSE(empty.HasEvents());
  EXPECT_EQ(empty.first.game_time, empty.last.game_time);
  EXPECT_EQ(empty.last.date, "1942-06-04 04:30:00");
  EXPECT_EQ(after.battles[3].play, 2);
}

constexpr char kTwoPlays[] =
    "[Initial Start]\r\nActual Date=12/9/26 7:05:50\r\n\r\n"
    "[Session Start]\r\n"
    "Game Date=1944-02-28 23:59:30\r\nGame Time=100000\r\nScenario=Convoy/Scen#3\r\n"
    "Game Date=1943-01-10 12:00:00\r\nGame Time=100000\r\nScenario=Convoy/Scen#4\r\n\r\n"
    "[log]\r\n100060=late\r\n100045=early\r\n";

TEST(AarBattle, TheReportAloneWithSeveralPlaysKeepsItsMessagesApart) {
  const ReportRead report = Report(kTwoPlays);
  const AfterAction after = BuildAfterAction(nullptr, &report);
  EXPECT_EQ(after.basis, Basis::kReport);
  EXPECT_EQ(after.actual_date, "12/9/26 7:05:50");
  ASSERT_EQ(after.battles.size(), 2u);
  EXPECT_EQ(after.battles[1].scenario, "Convoy/Scen#4");
  EXPECT_TRUE(after.battles[0].messages.empty());
  EXPECT_TRUE(after.battles[1].messages.empty());
  // Kept once, in game-time order, with no date: no battle is theirs.
  ASSERT_EQ(after.unattributed.size(), 2u);
  EXPECT_EQ(after.unattributed[0].text, "early");
  EXPECT_EQ(after.unattributed[0].at.date, "");
}

TEST(AarBattle, TheReportAloneWithOnePlayDatesItsMessages) {
  const ReportRead report = Report(
      "[Session Start]\r\nGame Date=1944-02-28 23:59:30\r\nGame Time=100000\r\n"
      "Scenario=Convoy/Scen#3\r\n\r\n[log]\r\n100045=over midnight into a leap day\r\n"
      "99990=before the start\r\n");
  const AfterAction after = BuildAfterAction(nullptr, &report);
  ASSERT_EQ(after.battles.size(), 1u);
  const Battle& battle = after.battles[0];
  ASSERT_EQ(battle.messages.size(), 2u);
  EXPECT_TRUE(after.unattributed.empty());
  // A game time at or below the origin stands for the start date itself.
  EXPECT_EQ(battle.messages[0].at.date, "1944-02-28 23:59:30");
  EXPECT_EQ(battle.messages[1].at.date, "1944-02-29 00:00:15");
  EXPECT_EQ(battle.first.game_time, 99990);
}

TEST(AarBattle, AReportInAForeignLayoutGivesWhatItCan) {
  const ReportRead report = Report(
      "; kept by hand\r\n"
      "[Session Start]\r\n"
      "Game Date=0000-00-00 00:00:00\r\nGame Time=100000\r\n"  // no Scenario: a start all the same
      "Game Time=later\r\nScenario=Second\r\n"                 // no Game Date, a time not a number
      "Weather=fine\r\n\r\n"
      "[Notes]\r\nwho=me\r\n\r\n"
      "[log]\r\n100060=kept\r\nnoon=not a game time\r\n");
  EXPECT_EQ(report.sessions.size(), 2u);
  EXPECT_EQ(report.messages.size(), 1u);
  // "later", Weather, the Notes section and its key, "noon".
  EXPECT_EQ(report.not_understood, 5u);

  const AfterAction after = BuildAfterAction(nullptr, &report);
  ASSERT_EQ(after.battles.size(), 2u);
  // The all-zero date is what a start without a date record leaves.
  EXPECT_EQ(after.battles[0].start_date, "");
  EXPECT_EQ(after.battles[1].scenario, "Second");
}

TEST(AarBattle, TheJournalLeadsWhenBothAreThere) {
  const JournalRead journal = ReadJournal(Journal({
      kScenario1,
      "1942-06-04 04:31:00 | 00100060 | MESSAGE    | from the journal",
      "cut short",
  }));
  const ReportRead report = Report(kTwoPlays);
  const AfterAction after = BuildAfterAction(&journal, &report);
  EXPECT_EQ(after.basis, Basis::kJournal);
  ASSERT_EQ(after.battles.size(), 1u);
  ASSERT_EQ(after.battles[0].messages.size(), 1u);
  EXPECT_EQ(after.battles[0].messages[0].text, "from the journal");
  EXPECT_TRUE(after.unattributed.empty());
  EXPECT_EQ(after.report_sessions, 2u);
  EXPECT_EQ(after.actual_date, "12/9/26 7:05:50");
  EXPECT_EQ(after.journal_skipped, 1u);

  // A journal with nothing readable leaves the report to tell the battles.
  const JournalRead unreadable = ReadJournal("cut short");
  EXPECT_EQ(BuildAfterAction(&unreadable, &report).battles.size(), 2u);
}

}  // namespace
}  // namespace tarveld::aar
