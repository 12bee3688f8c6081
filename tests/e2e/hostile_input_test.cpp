// The real host and plug-in fed everything a host can pass: null for every
// text, texts of a mebibyte, texts that look like report lines or hold
// line breaks, control bytes and bytes above 127, extreme game times and
// every kind of narrow-argument slot. Over three runs of the host on one
// report, each run must end normally with no failure, and a fresh store
// must read the report back into exactly the sections and keys the calls
// made, every earlier entry included.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/script.h"
#include "host_process.h"
#include "report/ini_file.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// A value as the report keeps it: each line break (CR LF, a lone CR, a lone
// LF) one blank, then the bytes 0 to 32 gone from both ends.
std::string AsKept(std::string_view text) {
  std::string flat;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      flat += ' ';
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else {
      flat += text[i];
    }
  }
  std::size_t begin = 0;
  std::size_t end = flat.size();
  while (begin < end && static_cast<unsigned char>(flat[begin]) <= 32)
    ++begin;
  while (end > begin && static_cast<unsigned char>(flat[end - 1]) <= 32)
    --end;
  return flat.substr(begin, end - begin);
}

// Stands for the date and time "Initial Start" records, whatever it is.
constexpr char kAnyDate[] = "<the date the report was begun>";

struct Entry {
  std::string name;
  std::string value;
  bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
  return out << "{" << host::QuoteText(entry.name) << ", "
             << host::QuoteText(entry.value.substr(0, 200))
             << (entry.value.size() > 200 ? "..." : "") << " (" << entry.value.size() << " bytes)}";
}

// Writes a script and keeps, beside it, what the report must hold once it
// has run: the calls here and the report's rules side by side.
class Session {
 public:
  std::ostringstream script;

  void Record(const std::string& name, std::int32_t year, std::int32_t month, std::int32_t day,
              std::int32_t hour, std::int32_t minute, std::int32_t second) {
    if (!defined_.contains(name)) {
      script << "record " << name << " = 1-1-1 0:0:0\n";
      defined_.insert(name);
    }
    const std::int32_t fields[] = {year, month, day, hour, minute, second};
    const char* names[] = {"Year", "Month", "Day", "Hour", "Minute", "Second"};
    for (int i = 0; i < 6; ++i)
      script << "set " << name << "." << names[i] << " = " << fields[i] << "\n";
    records_[name] = {year, month, day, hour, minute, second};
  }

  void Init() {
    script << "DLLInit 0\n";
    has_report_ = true;
  }

  // `name` and `series` as script texts ("null" or quoted); `record` a
  // record name or "null".
  void Scenario(std::uint32_t slot, const char* name, const char* series, std::int32_t time,
                const std::string& record) {
    script << "ScenLoad 0 " << slot << " " << Text(name) << " 0 " << Text(series) << " 0 " << time
           << " 0 " << record << "\n";
    clock_ = time;
    const std::int16_t number = static_cast<std::int16_t>(slot & 0xFFFF);
    const std::string scenario =
        number == -1 ? std::string(name ? name : "")
                     : std::string(series ? series : "") + "/Scen#" + std::to_string(number + 1);
    const std::vector<std::int32_t> d =
        record == "null" ? std::vector<std::int32_t>(6, 0) : records_.at(record);
    char date[128];
    std::snprintf(date, sizeof date, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", d[0], d[1], d[2], d[3], d[4],
                  d[5]);
    session_start_.push_back({"Game Date", date});
    session_start_.push_back({"Game Time", std::to_string(time)});
    session_start_.push_back({"Scenario", AsKept(scenario)});
  }

  void Time(std::int32_t time) {
    script << "GameTime " << time << " " << -std::int64_t{time} << "\n";
    clock_ = time;
  }

  void Message(const char* text) {
    script << "MsgLog " << Text(text) << "\n";
    const std::string key = std::to_string(clock_);
    const std::string value = AsKept(text ? text : "");
    for (Entry& entry : log_) {
      if (entry.name == key) {
        entry.value = value;
        return;
      }
    }
    log_.push_back({key, value});
  }

  void Factor(std::int32_t factor) { script << "TimeFactor " << factor << "\n"; }
  void Sink(std::uint32_t slot, const char* group) {
    script << "UnitSink " << slot << " " << Text(group) << "\n";
  }
  void Free() { script << "DLLFree\n"; }

  // What the report must read back as: Initial Start (its date is checked
  // elsewhere), Session Start and log.
  std::vector<std::pair<std::string, std::vector<Entry>>> Expected() const {
    std::vector<std::pair<std::string, std::vector<Entry>>> sections;
    if (has_report_)
      sections.push_back({"Initial Start", {{"Actual Date", kAnyDate}}});
    if (!session_start_.empty())
      sections.push_back({"Session Start", session_start_});
    if (!log_.empty())
      sections.push_back({"log", log_});
    return sections;
  }

  std::string TakeScript() {
    std::string text = script.str();
    script.str("");
    defined_.clear();  // records belong to one run of the host
    return text;
  }

 private:
  static std::string Text(const char* text) {
    return text == nullptr ? "null" : host::QuoteText(text);
  }

  std::set<std::string> defined_;
  std::map<std::string, std::vector<std::int32_t>> records_;
  bool has_report_ = false;
  std::int32_t clock_ = 0;
  std::vector<Entry> session_start_;
  std::vector<Entry> log_;
};

// Every byte from 1 to 255 but CR and LF, and a long run of them.
std::string AllBytes() {
  std::string bytes;
  for (int c = 1; c < 256; ++c) {
    if (c != '\r' && c != '\n')
      bytes += static_cast<char>(c);
  }
  return bytes;
}

std::string Mebibyte() {
  std::string text;
  const std::string bytes = AllBytes();
  while (text.size() < (1u << 20)) {
    text += bytes;
    text += "\r\n[log]\r\n100000=forged\n;";
  }
  text.resize(1u << 20);
  text.back() = 'Z';
  return text;
}

const std::vector<std::string>& HostileTexts() {
  static const std::vector<std::string> texts = {
      "",
      "a\rb",
      "a\nb",
      "a\r\nb",
      "\n\r",
      "\r\n[log]\r\n100000=forged\r\n",
      "[log]",
      "[Session Start]",
      "[",
      "]",
      "=",
      "==x==",
      ";",
      "; looks like a comment",
      "key=value",
      "  \t blanks and a tab around \t  ",
      "\x01\x02\x1F control bytes \x7F",
      AllBytes(),
      "\xEF\xBB\xBF[Initial Start]",
      std::string(100000, '\xFF'),
      Mebibyte(),
  };
  return texts;
}

class HostileInput : public ::testing::Test {
 protected:
  HostRun Run(const std::string& script) {
    WriteBytes(scratch_.path() / "s.session", script);
    return RunProgram(TARVELD_REPLAY, {"--dir", OutDir().string(), "s.session"}, scratch_.path());
  }
  fs::path OutDir() const { return scratch_.path() / "out"; }

  // The report, read by a fresh store, against what the calls made.
  void ExpectReport(const Session& session) {
    const TIniFile store((OutDir() / "Tarveld.txt").string());
    const auto expected = session.Expected();
    ASSERT_EQ(store.Sections().size(), expected.size());
    for (std::size_t s = 0; s < expected.size(); ++s) {
      const TIniFileSection& section = *store.Sections()[s];
      SCOPED_TRACE(section.Name);
      EXPECT_EQ(section.Name, expected[s].first);
      std::vector<Entry> keys;
      for (const auto& key : section.Keys) {
        const bool date = section.Name == "Initial Start" && !key->Value.empty();
        keys.push_back({key->Name, date ? std::string(kAnyDate) : key->Value});
      }
      EXPECT_EQ(keys, expected[s].second);
    }
  }

  TempDir scratch_;
};

TEST_F(HostileInput, ReportKeepsItsStructureAndEveryEntryOverThreeRuns) {
  Session session;
  const std::vector<std::string>& texts = HostileTexts();
  int hostile_calls = 0;

  // First run: null for every text, then every hostile text as a message,
  // a scenario name and a series name, at extreme game times.
  session.Record("start", 1942, 6, 4, 4, 30, 0);
  session.Init();
  session.Scenario(0xFFFF, nullptr, "ignored", 100000, "start");
  session.Scenario(0, "ignored", nullptr, 100000, "start");
  session.Scenario(0, nullptr, nullptr, kMin, "null");
  session.Message(nullptr);
  session.Sink(3, nullptr);
  session.Factor(kMin);
  hostile_calls += 6;
  const std::int32_t times[] = {kMin, kMin + 1, -1, 0, 99999, 100000, kMax - 1, kMax};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    session.Time(i < std::size(times) ? times[i] : 200000 + static_cast<std::int32_t>(i));
    session.Message(texts[i].c_str());
    session.Sink(static_cast<std::uint32_t>(i), texts[i].c_str());
    session.Factor(i % 2 ? kMax : kMin);
    hostile_calls += 3;
  }
  session.Free();
  HostRun run = Run(session.TakeScript());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ExpectReport(session);

  // Second run: every narrow-argument slot pattern, hostile scenario and
  // series names, a start record at the ends of every range, and sinkings
  // carried to the far ends of the clock.
  session.Init();
  const std::uint32_t slots[] = {0,      1,       0x7FFF,     0x8000,     0xFFFE,
                                 0xFFFF, 0x10000, 0x12345603, 0xFFFFFFFF, 0x8000FFFF};
  const std::size_t names[] = {5, 6, 12, 17, 18};
  for (std::size_t i = 0; i < std::size(slots); ++i) {
    const std::string& text = texts[names[i % std::size(names)]];
    session.Record("start", i % 2 ? kMax : kMin, i % 3 ? 13 : kMin, i % 2 ? kMax : 0, kMax, kMin,
                   60);
    session.Scenario(slots[i], text.c_str(), text.c_str(), i % 2 ? kMax : kMin, "start");
    for (const std::int32_t time : {kMin, 100000, kMax}) {
      session.Time(time);
      session.Sink(slots[i], text.c_str());
    }
    session.Message(text.c_str());  // replaces the value at kMax
    hostile_calls += 8;
  }
  session.Scenario(0, "", "", 0, "null");
  session.Sink(0xFFFFFFFF, nullptr);  // no start record to carry
  session.Free();
  hostile_calls += 2;
  run = Run(session.TakeScript());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ExpectReport(session);

  // Third run: play calls before any scenario, and messages that replace
  // the first run's values at the same game times.
  session.Init();
  session.Factor(7);
  session.Sink(0x12345603, "before any scenario");
  session.Time(kMin);
  session.Message("replaces the first message at the smallest game time");
  session.Time(kMax);
  session.Message(texts.back().c_str());
  session.Time(-1);
  session.Message(nullptr);
  session.Free();
  hostile_calls += 5;
  run = Run(session.TakeScript());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ExpectReport(session);

  std::printf("hostile input: %d hostile calls over three runs, %zu hostile texts\n", hostile_calls,
              texts.size());
}

}  // namespace
}  // namespace tarveld::testing
