// The page tarveld-aar writes, and what goes into it: nothing from the files
// can open a tag or break the UTF-8; skipped lines, empty battles and
// battles without a date still make a sound page; the timeline stays
// readable at thousands of events.
#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "aar/battle.h"
#include "aar/game_dates.h"
#include "aar/html_page.h"
#include "aar/journal_reader.h"
#include "aar/timeline_svg.h"
#include "aar/windows_1252.h"
#include "support/text_count.h"

namespace tarveld::aar {
namespace {

using tarveld::testing::Occurrences;

// Decodes well-formed UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF); false at the first fault.
bool DecodeUtf8(std::string_view bytes, std::vector<char32_t>* out = nullptr) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int length = lead < 0x80                   ? 1
                       : lead >= 0xC2 && lead < 0xE0 ? 2
                       : lead >= 0xE0 && lead < 0xF0 ? 3
                       : lead >= 0xF0 && lead < 0xF5 ? 4
                                                     : 0;
    if (length == 0 || i + length > bytes.size())
      return false;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80)
        return false;
      c = (c << 6) | (next & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
      return false;
    if (out != nullptr)
      out->push_back(c);
    i += length;
  }
  return true;
}

// `c` (at most U+10FFFF, no surrogate) as UTF-8.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

TEST(AarWindows1252, EveryByteBecomesOneValidCharacter) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    AppendUtf8(all, CharacterOfWindows1252(static_cast<unsigned char>(b)));
  std::vector<char32_t> decoded;
  ASSERT_TRUE(DecodeUtf8(all, &decoded));
  ASSERT_EQ(decoded.size(), 256u);

  struct Case {
    unsigned char byte;
    char32_t character;
  };
  // Where the code page differs from Latin-1, its holes, and the controls.
  const Case cases[] = {
      {0x80, 0x20AC}, {0x8A, 0x0160}, {0x92, 0x2019}, {0x9F, 0x0178}, {0x81, 0xFFFD},
      {0x8D, 0xFFFD}, {0x8F, 0xFFFD}, {0x90, 0xFFFD}, {0x9D, 0xFFFD}, {0x00, 0xFFFD},
      {0x1B, 0xFFFD}, {0x7F, 0xFFFD}, {0x09, 0x0009}, {0x41, 0x0041}, {0xA0, 0x00A0},
      {0xE9, 0x00E9}, {0xFF, 0x00FF},
  };
  for (const Case& c : cases)
    EXPECT_EQ(decoded[c.byte], c.character) << "byte " << int(c.byte);
}

// The page's text as a browser reads it: every numbered character
// reference "&#233;" made the character, as UTF-8; the rest as it stands.
std::string WithReferencesRead(std::string_view page) {
  std::string text;
  for (std::size_t i = 0; i < page.size(); ++i) {
    const std::size_t end = page.substr(i, 2) == "&#" ? page.find(';', i) : std::string_view::npos;
    const std::string_view digits =
        end == std::string_view::npos ? std::string_view() : page.substr(i + 2, end - i - 2);
    if (digits.empty() || digits.size() > 7 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      text += page[i];
      continue;
    }
    AppendUtf8(text, static_cast<char32_t>(std::stoul(std::string(digits))));
    i = end;
  }
  return text;
}

std::string JournalText(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines)
    bytes += line + "\r\n";
  return bytes;
}

std::string PageOfJournal(const std::vector<std::string>& lines) {
  const JournalRead journal = ReadJournal(JournalText(lines));
  return RenderPage(BuildAfterAction(&journal, nullptr));
}

// Hostile texts in every place a file's text reaches the page: the
// scenario's name (title, heading, index), a group (label, tooltip, losses)
// and messages; and bytes above 127 that are no UTF-8.
TEST(AarPage, TextsFromTheFilesCannotMakeMarkup) {
  const std::string hostile = "<script>alert(1)</script><img src=x onerror=alert(2)>\"'&";
  const std::string page = PageOfJournal({
      "1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 04:30:00, Scenario=" +
          hostile,
      "1942-06-04 04:31:00 | 00100060 | MESSAGE    | " + hostile,
      "1942-06-04 04:31:00 | 00100060 | SINKING    | 00100060: GroupID=" + hostile +
          ", UnitID=03, Sinking",
      "1942-06-04 04:32:00 | 00100120 | MESSAGE    | Caf\xE9 \x80\x81\x9D \xFF\x01",
  });
  // Only the page's own two scripts, and no element or attribute from a text.
  EXPECT_EQ(Occurrences(page, "<script"), 2u);
  EXPECT_EQ(Occurrences(page, "<img"), 0u);
  EXPECT_EQ(Occurrences(page, "alert(1)</script>"), 0u);
  EXPECT_GT(Occurrences(page,
                        "&lt;script&gt;alert(1)&lt;/script&gt;&lt;img src=x "
                        "onerror=alert(2)&gt;&quot;&#39;&amp;"),
            3u);
  EXPECT_TRUE(DecodeUtf8(page));
  // Written as references, the characters read as the game meant them.
  EXPECT_NE(WithReferencesRead(page).find("Caf\u00e9 \u20ac\ufffd\ufffd \u00ff\ufffd"),
            std::string::npos);
  EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
}

// Every page is ASCII, whatever bytes the files hold: a browser decodes
// such a page on its fast path, and one character above 127 anywhere (a
// dot between counts, a dash for a missing date, the time factor's times
// sign, an accent in a message or a group's name) would make it decode the
// whole page, a fifth of a second for a long journal, the slow way.
TEST(AarPage, EveryPageIsAscii) {
  const std::string start =
      "1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 04:30:00, Scenario=A";
  const struct {
    const char* what;
    std::vector<std::string> lines;
  } cases[] = {
      {"counts, losses and time factors",
       {start, "1942-06-04 04:31:00 | 00100060 | MESSAGE    | contact",
        "1942-06-04 04:31:00 | 00100060 | SINKING    | 00100060: GroupID=TF-16, UnitID=03, "
        "Sinking",
        "1942-06-04 04:32:00 | 00100120 | TIMEFACTOR | 00100120: TimeFactor=15"}},
      {"more than ten lines left out", std::vector<std::string>(12, "an older layout")},
      {"a battle without a start date",
       {"no start date       | 00100000 | SCENARIO   | Start=none, Scenario=Undated",
        "no start date       | 00100300 | MESSAGE    | ashore"}},
      {"failures", {start, "1942-06-04 10:44:00 | 00100840 | FAILURE    | journal: not flushed"}},
      {"several battles", {start, start, "1942-06-04 04:31:00 | 00100060 | MESSAGE    | again"}},
      {"accents and bytes the code page leaves out, in every place a text goes",
       {"1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 04:30:00, "
        "Scenario=Op\xE9ration \x80\x81",
        "1942-06-04 04:31:00 | 00100060 | MESSAGE    | Caf\xE9 cr\xE8me \x9D\x01",
        "1942-06-04 04:31:00 | 00100060 | SINKING    | 00100060: GroupID=Escadre l\xE9g\xE8re "
        "du Nord tr\xE8s loin, UnitID=03, Sinking",
        "1942-06-04 04:32:00 | 00100120 | FAILURE    | journal: not flushed: \xAB\xA0"
        "full\xBB",
        "1942-06-04 04:33:00 | 00100180 | MESSAGE    | " + std::string(5000, '\xE9')}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> lines = c.lines;
    if (lines.size() == 12)
      lines.insert(lines.begin(), start);
    const std::string page = PageOfJournal(lines);
    const auto high = std::find_if(
        page.begin(), page.end(), [](char byte) { return static_cast<unsigned char>(byte) > 127; });
    EXPECT_EQ(high, page.end()) << page.substr(
        static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, high - page.begin() - 60)), 80);
  }
}

// The log's rows as the script reads them from its <noscript> blocks: each
// from its "<tr" to the next row or its group's "</tbody", holding neither a
// closing tag nor a line break; a date of the time of day alone is on the
// day of the last whole date of its group. Over two midnights, six groups
// and three blocks, every row's date read that way is the date of its line,
// and the log says how many rows it holds.
TEST(AarPage, LogRowsGiveBackEveryDate) {
  std::vector<std::string> lines = {
      "1942-06-04 23:50:00 | 00100000 | SCENARIO   | Start=1942-06-04 23:50:00, Scenario=A"};
  std::vector<std::string> dates;
  const std::int64_t start = *DateSeconds("1942-06-04 23:50:00");
  for (int i = 0; i < 2700; ++i) {
    // Across midnight in the second group (row 600) and the third (1120).
    const std::int64_t t = 100000 + (i < 1000 ? i : 85880 + i);
    const std::string date = DateText(start + t - 100000);
    const std::string game_time = "00" + std::to_string(t);
    const std::string kind =
        i % 100 == 7   ? "SINKING    | " + game_time + ": GroupID=TF-16, UnitID=03, Sinking"
        : i % 100 == 8 ? "TIMEFACTOR | " + game_time + ": TimeFactor=4"
                       : "MESSAGE    | contact " + std::to_string(i);
    lines.push_back(date + " | " + game_time + " | " + kind);
    dates.push_back(date);
  }
  const std::string page = PageOfJournal(lines);
  // The blocks' groups, one after the other, as the script joins them.
  std::string joined;
  std::size_t blocks = 0;
  for (std::size_t block = page.find("<noscript><table class=\"events"); block != std::string::npos;
       block = page.find("<noscript><table class=\"events", block + 1)) {
    const std::size_t from = page.find("<tbody", block);
    joined += page.substr(from, page.rfind("</tbody>", page.find("</noscript>", block)) + 8 - from);
    ++blocks;
  }
  const std::string_view rows = joined;
  // The first page, the next 2,000 rows, the last 200; the script follows
  // the first page, so that it shows it while the rest loads.
  EXPECT_EQ(blocks, 3u);
  const std::size_t script = page.find("<script>\n(function");
  EXPECT_GT(script, page.find("</noscript>"));
  EXPECT_LT(script, page.find("<noscript><table class=\"events more"));
  EXPECT_NE(page.find("data-rows=\"2700\""), std::string::npos);

  std::vector<std::string> read;
  std::string day;
  std::size_t whole = 0;
  for (std::size_t at = rows.find("<tr", rows.find("<tbody")); at != std::string_view::npos;) {
    const std::size_t next = rows.find("<tr", at + 3);
    const std::string_view row = rows.substr(at, std::min(next, rows.find("</tbody", at)) - at);
    EXPECT_EQ(row.find("</tr>"), std::string_view::npos) << row;
    EXPECT_EQ(row.find('\n'), std::string_view::npos) << row;
    const std::size_t cell = row.find("<td>") + 4;
    const std::string date(row.substr(cell, row.find("<td>", cell) - cell));
    if (rows.substr(at > 0 ? rows.rfind("<t", at - 1) : 0, 6) == "<tbody")
      day.clear();  // a group begins
    if (date.size() == 8) {
      EXPECT_FALSE(day.empty()) << "row " << read.size() << " has no day to go by";
      read.push_back(day + " " + date);
    } else {
      ++whole;
      day = date.substr(0, 10);
      read.push_back(date);
    }
    at = next;
  }
  EXPECT_EQ(read, dates);
  // Whole dates where a group begins (every 500 rows) or a day does.
  EXPECT_EQ(whole, 8u);
}

TEST(AarPage, SaysHowManyJournalLinesWereLeftOut) {
  const std::string page = PageOfJournal({
      "1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 04:30:00, Scenario=A",
      "1942-06-04 04:31:00 | 00100060 | SINKING    | 00100060: GroupID=Esc",
      "an older layout",
      "1942-06-04 04:31:00 | 00100060 | MESSAGE    | kept",
  });
  EXPECT_NE(page.find("2 journal lines were left out"), std::string::npos);
  EXPECT_NE(page.find("(lines 2, 3)"), std::string::npos);
}

TEST(AarPage, EmptyAndUndatedBattlesMakeASoundPage) {
  const std::string page = PageOfJournal({
      "1942-06-04 04:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 04:30:00, Scenario=Empty",
      "no start date       | 00100000 | SCENARIO   | Start=none, Scenario=Undated",
      "no start date       | 00100300 | MESSAGE    | ashore",
      "no start date       | 00100300 | SINKING    | 00100300: GroupID=, UnitID=04, Sinking",
  });
  // The empty battle has no timeline; the undated one is placed by game time.
  EXPECT_NE(page.find("No events were recorded in this battle."), std::string::npos);
  EXPECT_EQ(Occurrences(page, "<svg"), 1u);
  EXPECT_NE(page.find(">game time</text>"), std::string::npos);
  EXPECT_NE(page.find("(no group)"), std::string::npos);
  EXPECT_EQ(Occurrences(page, "<td><td>"), 1u);
  EXPECT_EQ(page.find("nan"), std::string::npos);
}

// A run of report failures that ends, and a journal failure that does not:
// each a notice at the battle's top with the game's HH:MM, and rows of
// their own kind in the log.
TEST(AarPage, FailuresAreNoticesAndRowsOfTheirOwn) {
  const std::string failed =
      "report: not written: another program held it (EFCreateError: Unable to create file)";
  const std::string page = PageOfJournal({
      "1942-06-04 10:30:00 | 00100000 | SCENARIO   | Start=1942-06-04 10:30:00, Scenario=A",
      "1942-06-04 10:42:00 | 00100720 | FAILURE    | " + failed,
      "1942-06-04 10:43:00 | 00100780 | FAILURE    | " + failed,
      "1942-06-04 10:44:00 | 00100840 | FAILURE    | journal: not flushed: the disk was full "
      "(EWriteError: no room)",
      "1942-06-04 10:45:30 | 00100930 | FAILURE    | journal: not flushed: the disk was full "
      "(EWriteError: no room)",
      "1942-06-04 10:47:00 | 00101020 | FAILURE    | report: written again",
      "1942-06-04 10:50:00 | 00101200 | MESSAGE    | carry on",
  });
  EXPECT_NE(page.find("The report could not be written</strong> from 10:42 to 10:47: another "
                      "program held it."),
            std::string::npos);
  EXPECT_NE(page.find("The journal could not be flushed</strong> from 10:44 on: the disk was "
                      "full. The last attempt that failed was at 10:45"),
            std::string::npos);
  EXPECT_EQ(Occurrences(page, "class=\"k-fail\"><td>"), 5u);
  EXPECT_NE(page.find("<a href=\"#b1-e0\">In the log</a>"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"#b1-e2\">In the log</a>"), std::string::npos);
}

// Labels are short, and still tell groups apart: squadrons 10 and 4 share
// their first eighteen bytes.
TEST(AarPage, GroupLabelsNeverReadTheSame) {
  std::vector<Sinking> sinkings;
  const std::vector<std::string> names = {"Destroyer Squadron 10",
                                          "Destroyer Squadron 4",
                                          "Destroyer Squadron 14",
                                          "Cruiser Division 5 (heavy) North",
                                          "Cruiser Division 5 (light) North",
                                          "TF-16",
                                          "",
                                          std::string(2000, 'x') + "a",
                                          std::string(2000, 'x') + "b"};
  for (const std::string& name : names)
    sinkings.push_back({{}, name, "01"});
  const std::map<std::string, std::string> labels = GroupLabels(sinkings);
  std::map<std::string, std::string> group_of;
  for (const std::string& name : names) {
    const std::string& label = labels.at(name);
    EXPECT_TRUE(group_of.emplace(label, name).second)
        << "\"" << name << "\" and \"" << group_of[label] << "\" both read " << label;
  }
  EXPECT_EQ(labels.at("TF-16"), "TF-16");
  EXPECT_LE(labels.at("Destroyer Squadron 10").size(), 18u);
  EXPECT_LT(labels.at(names[7]).size(), 100u);
}

// Five thousand messages and sixty sinkings within two minutes, eighteen
// of them in one second: every message is in the log, the ticks are one
// per slot, and losses too close to tell apart share a marker that counts
// them, so no loss is without a marker or a link.
TEST(AarPage, TheTimelineMergesCrowdedLossesAndCountsThem) {
  Battle battle;
  battle.scenario = "Crowded";
  battle.start = {"1942-06-04 04:30:00", 100000};
  const std::int64_t start = *DateSeconds(battle.start.date);
  for (int i = 0; i < 5000; ++i)
    battle.messages.push_back({{DateText(start + i % 3600), 100000 + i % 3600}, "m"});
  for (int i = 0; i < 18; ++i)
    battle.sinkings.push_back({{"1942-06-04 04:31:00", 100060}, "Escort Group Nine", "12"});
  for (int i = 0; i < 42; ++i)
    battle.sinkings.push_back({{DateText(start + 600 + i * 70), 100600 + i * 70}, "TF-16", "03"});
  battle.first = battle.start;
  battle.last = {"1942-06-04 05:29:59", 103599};
  ArrangeLog(battle);

  std::string svg;
  const std::size_t unlabelled = AppendTimeline(svg, battle, 1, true);
  // Markers 1.2 % of the width apart at 70 s of the hour: all 42 apart;
  // the eighteen in one second share one, which says so.
  EXPECT_EQ(Occurrences(svg, "class=\"sink\""), 43u);
  EXPECT_NE(svg.find(">18 lost</text>"), std::string::npos);
  EXPECT_NE(svg.find("18 units lost from 1942-06-04 04:31:00"), std::string::npos);
  EXPECT_EQ(Occurrences(svg, "<a href=\"#b1-e"), 43u);
  const std::size_t labels = Occurrences(svg, "class=\"sink-label");
  EXPECT_EQ(labels + unlabelled, 43u);
  const std::size_t path = svg.find("class=\"ticks\" d=\"");
  ASSERT_NE(path, std::string::npos);
  const std::size_t ticks = Occurrences(svg.substr(path, svg.find("\"/>", path) - path), "M");
  EXPECT_GE(ticks, 100u);
  EXPECT_LE(ticks, 433u);

  AfterAction after;
  after.battles.push_back(battle);
  const std::string page = RenderPage(after);
  EXPECT_EQ(Occurrences(page, "<td><td>"), 5000u);
  // Every loss, in the losses table too, links to its row of the log.
  EXPECT_EQ(Occurrences(page, "<td>Loss<td>"), 60u);
  for (std::size_t i = 0; i < battle.sinkings.size(); ++i) {
    const std::string id = "b1-e" + std::to_string(battle.sinking_rows[i]);
    ASSERT_EQ(Occurrences(page, "<tr id=\"" + id + "\" class=\"k-loss\">"), 1u) << id;
    EXPECT_GE(Occurrences(page, "href=\"#" + id + "\""), 1u) << id;
  }
}

// No two labels of one lane come closer than the gap, and a label left out
// had no lane free.
TEST(AarPage, LabelLanesNeverOverlap) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<LabelSpan> spans(random() % 40);
    for (LabelSpan& span : spans) {
      span.left = random() % 10000;
      span.right = span.left + 200 + random() % 1500;
    }
    const int lanes = 1 + static_cast<int>(random() % 4);
    const std::vector<int> assigned = AssignLanes(spans, lanes, 40);
    ASSERT_EQ(assigned.size(), spans.size());
    auto clash = [&](std::size_t a, std::size_t b) {
      const LabelSpan& first = spans[a].left <= spans[b].left ? spans[a] : spans[b];
      const LabelSpan& second = spans[a].left <= spans[b].left ? spans[b] : spans[a];
      return first.right + 40 > second.left;
    };
    for (std::size_t a = 0; a < spans.size(); ++a) {
      for (std::size_t b = a + 1; b < spans.size(); ++b) {
        if (assigned[a] >= 0 && assigned[a] == assigned[b]) {
          EXPECT_FALSE(clash(a, b)) << "round " << round;
        }
      }
      if (assigned[a] >= 0)
        continue;
      for (int lane = 0; lane < lanes; ++lane) {
        bool taken = false;
        for (std::size_t b = 0; b < spans.size(); ++b)
          taken = taken || (assigned[b] == lane && clash(a, b));
        EXPECT_TRUE(taken) << "round " << round << ": lane " << lane << " was free";
      }
    }
  }
}

}  // namespace
}  // namespace tarveld::aar
