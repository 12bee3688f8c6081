// tarveld-aar end to end: the real plug-in, driven by the real replay host,
// writes its report and journal; the real program turns them into the page;
// headless Chromium loads the page and dumps the document its script left.
// What the page must show is worked out from the journal's own lines.
//
// Chromium runs as the tests do (root, in a container), so without its
// sandbox, and with its background networking off: this network refuses
// every connection it would make.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "host_process.h"
#include "support/text_count.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;

// A second play with a hostile scenario name, group and messages: were any
// of them markup, the browser would set data-pwned on the root element.
constexpr char kHostileSession[] = R"(record start = 1942-08-07 05:00:00 extra 0
DLLInit 0
ScenLoad 0 -1 "<b>Bold</b> & \"quoted\"" 0 "ignored" 0 100000 0 start
GameTime 100300 0
MsgLog "<script>document.documentElement.setAttribute('data-pwned','1')</script>"
MsgLog "<img src=x onerror=\"document.documentElement.setAttribute('data-pwned','2')\">"
MsgLog "Caf\xE9 \x80 sighted"
UnitSink 7 "<i>Group</i>"
DLLFree
)";

std::optional<std::string> FindChromium() {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path != nullptr ? path : "/usr/bin");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    for (const char* name : {"chromium", "chromium-browser"}) {
      const fs::path candidate = fs::path(directory) / name;
      if (::access(candidate.c_str(), X_OK) == 0)
        return candidate.string();
    }
  }
  return std::nullopt;
}

// What the journal says of one battle, read with nothing but string splits.
struct Expected {
  std::size_t rows = 0;  // of the log: every line but the SCENARIO one
  std::vector<std::string> messages;
  std::multimap<std::string, std::string> losses;  // group, unit
};

std::vector<Expected> ExpectedBattles(const std::string& journal) {
  std::vector<Expected> battles;
  std::stringstream lines(journal);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const std::size_t kind_at = line.find(" | ", line.find(" | ") + 3) + 3;
    const std::size_t text_at = line.find(" | ", kind_at) + 3;
    const std::string kind = line.substr(kind_at, line.find(' ', kind_at) - kind_at);
    const std::string text = line.substr(text_at);
    if (kind == "SCENARIO") {
      battles.emplace_back();
      continue;
    }
    ++battles.back().rows;
    if (kind == "MESSAGE") {
      battles.back().messages.push_back(text);
    } else if (kind == "SINKING") {
      const std::size_t group_at = text.find("GroupID=") + 8;
      const std::size_t unit_at = text.rfind(", UnitID=");
      battles.back().losses.emplace(
          text.substr(group_at, unit_at - group_at),
          text.substr(unit_at + 9, text.rfind(", Sinking") - unit_at - 9));
    }
  }
  return battles;
}

// `dom` without its <noscript> blocks: where scripts run, the browser keeps
// them as text, and the rows in them are not shown.
std::string WithoutNoscript(std::string dom) {
  for (std::size_t begin = dom.find("<noscript>"); begin != std::string::npos;
       begin = dom.find("<noscript>", begin))
    dom.erase(begin, dom.find("</noscript>", begin) + 11 - begin);
  return dom;
}

// The part of a page or document that belongs to battle `number`.
std::string BattlePart(const std::string& dom, int number) {
  const std::size_t begin = dom.find("id=\"battle-" + std::to_string(number) + "\"");
  if (begin == std::string::npos)
    return {};
  const std::size_t end = dom.find("id=\"battle-" + std::to_string(number + 1) + "\"", begin);
  return dom.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// The table of every loss as the browser has it: group and unit of every
// row (its third and fourth cells).
std::multimap<std::string, std::string> ListedLosses(const std::string& battle) {
  std::multimap<std::string, std::string> losses;
  for (std::size_t row = battle.find("<tr class=\"loss\""); row != std::string::npos;
       row = battle.find("<tr class=\"loss\"", row + 1)) {
    const std::string cells = battle.substr(row, battle.find("</tr>", row) - row);
    std::vector<std::string> texts;
    for (std::size_t cell = cells.find("<td>"); cell != std::string::npos;
         cell = cells.find("<td>", cell + 1))
      texts.push_back(cells.substr(cell + 4, cells.find("</td>", cell) - cell - 4));
    if (texts.size() == 4)
      losses.emplace(texts[2], texts[3]);
  }
  return losses;
}

// The text of a journal message as the document holds it: the page reads
// it as Windows-1252 and the browser writes the markup characters back as
// references.
std::string AsInDocument(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Without Chromium the browser checks cannot run: a skip on a developer's
// machine, a failure in CI, where scripts/setup installs it.
#define REQUIRE_CHROMIUM()                                                      \
  do {                                                                          \
    if (!HasChromium()) {                                                       \
      if (std::getenv("CI") != nullptr)                                         \
        FAIL() << "chromium is not installed (scripts/setup --test-tools)";     \
      GTEST_SKIP() << "chromium is not installed (scripts/setup --test-tools)"; \
    }                                                                           \
  } while (false)

class AarEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::error_code error;
    const fs::path base =
        fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
    scratch_ = new fs::path(base / ("tarveld-aar-" + std::to_string(std::random_device{}())));
    fs::create_directories(*scratch_ / "game");
    const fs::path hostile = *scratch_ / "hostile.session";
    WriteBytes(hostile.string(), kHostileSession);
    for (const fs::path& session :
         {fs::path(TARVELD_EXAMPLES) / "long-engagement.session", hostile}) {
      const HostRun replay =
          RunProgram(TARVELD_REPLAY, {"--dir", Game().string(), session.string()}, *scratch_);
      if (replay.status != 0)
        throw std::runtime_error("replay of " + session.string() + " failed: " + replay.err);
    }
    run_ = new HostRun(RunProgram(TARVELD_AAR, {Game().string()}, *scratch_));
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(*scratch_, ignored);
    delete scratch_;
    delete run_;
  }

  static fs::path Game() { return *scratch_ / "game"; }
  static fs::path Page() { return Game() / "Tarveld-AAR.html"; }

  // The document Chromium makes of `page` once its scripts have run, or
  // without scripts: then the page is loaded in a frame that may run none
  // (a sandbox without allow-scripts), and a frame around it copies in the
  // document the frame made, since --dump-dom needs scripts itself.
  static std::string DumpDom(const fs::path& page, const std::string& query = "",
                             bool scripts = true) {
    const std::optional<std::string> chromium = FindChromium();
    const fs::path profile = *scratch_ / ("profile-" + std::to_string(profiles_++));
    fs::path load = page;
    if (!scripts) {
      load = page.parent_path() / "without-scripts.html";
      WriteBytes(load.string(),
                 "<!DOCTYPE html><html><body><iframe sandbox=\"allow-same-origin\" src=\"" +
                     page.filename().string() +
                     "\" onload=\"document.body.appendChild(document.importNode("
                     "this.contentDocument.documentElement, true))\"></iframe></body></html>");
    }
    const HostRun run = RunProgram(
        "/usr/bin/timeout",
        {"120", *chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--allow-file-access-from-files", "--user-data-dir=" + profile.string(),
         "--dump-dom", "file://" + load.string() + query},
        *scratch_);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }

  void SetUp() override { ASSERT_EQ(run_->status, 0) << run_->err; }

  static bool HasChromium() { return FindChromium().has_value(); }

  static fs::path* scratch_;
  static HostRun* run_;
  static int profiles_;
};

fs::path* AarEndToEnd::scratch_ = nullptr;
HostRun* AarEndToEnd::run_ = nullptr;
int AarEndToEnd::profiles_ = 0;

TEST_F(AarEndToEnd, WritesThePageBesideTheFilesAndPrintsItsPath) {
  EXPECT_EQ(run_->out, fs::canonical(Page()).string() + "\n");
  EXPECT_EQ(run_->err, "");
}

TEST_F(AarEndToEnd, TheBrowserShowsEveryLossAndAPageOfMessages) {
  REQUIRE_CHROMIUM();
  const std::string dom = DumpDom(Page());
  EXPECT_NE(dom.find("data-script=\"ready\""), std::string::npos);
  EXPECT_EQ(dom.find("data-script-errors=\""), std::string::npos);

  const std::vector<Expected> expected =
      ExpectedBattles(ReadBytes((Game() / "Tarveld.log").string()));
  ASSERT_EQ(expected.size(), 2u);
  for (int number = 1; number <= 2; ++number) {
    SCOPED_TRACE("battle " + std::to_string(number));
    const Expected& battle = expected[number - 1];
    const std::string part = WithoutNoscript(BattlePart(dom, number));
    // The log shows its first page, of at most 500 rows, and counts them
    // all: messages and losses (and the time-factor changes, counted apart).
    const std::size_t rows = Occurrences(part, "<tr><td>") + Occurrences(part, "<td>Loss</td>") +
                             Occurrences(part, "<td>Time factor</td>");
    EXPECT_EQ(rows, std::min<std::size_t>(500, battle.rows));
    EXPECT_NE(part.find("data-shown=\"" + std::to_string(battle.rows) + "\""), std::string::npos);
    std::multimap<std::string, std::string> losses;
    for (const auto& [group, unit] : battle.losses)
      losses.emplace(AsInDocument(group), unit);
    EXPECT_EQ(ListedLosses(part), losses);
  }
}

// Without scripts every message is there, as a row of its own.
TEST_F(AarEndToEnd, WithoutScriptsTheWholeLogShows) {
  REQUIRE_CHROMIUM();
  const std::string dom = DumpDom(Page(), "", false);
  ASSERT_NE(dom.find("<h1>After-action report</h1>"), std::string::npos);
  EXPECT_EQ(dom.find("data-script="), std::string::npos);
  const std::vector<Expected> expected =
      ExpectedBattles(ReadBytes((Game() / "Tarveld.log").string()));
  ASSERT_EQ(expected.size(), 2u);
  for (int number = 1; number <= 2; ++number) {
    const std::string part = BattlePart(dom, number);
    EXPECT_EQ(Occurrences(part, "<tr><td>"), expected[number - 1].messages.size());
  }
  for (const std::string& message : expected[0].messages)
    ASSERT_NE(dom.find("<td></td><td>" + AsInDocument(message) + "</td>"), std::string::npos)
        << message;
}

TEST_F(AarEndToEnd, HostileTextsAreShownAndNeverRun) {
  REQUIRE_CHROMIUM();
  const std::string dom = WithoutNoscript(DumpDom(Page()));
  const std::string battle = BattlePart(dom, 2);
  EXPECT_EQ(dom.find("data-pwned=\""), std::string::npos);
  EXPECT_NE(battle.find(
                "<td></td><td>&lt;script&gt;document.documentElement.setAttribute('data-pwned','1')"
                "&lt;/script&gt;</td>"),
            std::string::npos);
  EXPECT_NE(battle.find("&lt;img src=x onerror=\"document"), std::string::npos);
  EXPECT_NE(battle.find("&lt;b&gt;Bold&lt;/b&gt; &amp; \"quoted\""), std::string::npos);
  EXPECT_NE(battle.find("&lt;i&gt;Group&lt;/i&gt;"), std::string::npos);
  EXPECT_NE(battle.find("Caf\u00e9 \u20ac sighted"), std::string::npos);
  EXPECT_EQ(Occurrences(dom, "<script"), 2u);
}

TEST_F(AarEndToEnd, TheFilterNarrowsTheLog) {
  REQUIRE_CHROMIUM();
  const std::vector<Expected> expected =
      ExpectedBattles(ReadBytes((Game() / "Tarveld.log").string()));
  ASSERT_FALSE(expected.empty());
  std::size_t matching = 0;
  for (const std::string& message : expected[0].messages)
    matching += message.find("reports unit") != std::string::npos ? 1 : 0;
  ASSERT_GT(matching, 0u);

  const std::string battle =
      WithoutNoscript(BattlePart(DumpDom(Page(), "?filter=UNIT%20reports"), 1));
  EXPECT_NE(battle.find("data-shown=\"" + std::to_string(matching) + "\""), std::string::npos);
  EXPECT_EQ(Occurrences(battle, "<tr><td>"), matching);
}

// The check above for script errors can fail: an error planted in a copy
// of the page is seen.
TEST_F(AarEndToEnd, AScriptErrorIsSeen) {
  REQUIRE_CHROMIUM();
  std::string page = ReadBytes(Page().string());
  page.insert(page.rfind("</body>"), "<script>null.planted();</script>");
  const fs::path planted = *scratch_ / "planted.html";
  WriteBytes(planted.string(), page);
  const std::string dom = DumpDom(planted);
  EXPECT_NE(dom.find("data-script-errors=\""), std::string::npos);
}

// Failures: a message naming the file, the exit status, and no page.
TEST(AarProgram, FailsClearlyAndWritesNothing) {
  TempDir dir;
  fs::create_directories(dir.path() / "empty");
  fs::create_directories(dir.path() / "journal-is-a-folder" / "Tarveld.log");
  WriteBytes(dir.File("journal-is-a-folder/Tarveld.txt"), "[log]\r\n100060=m\r\n");
  fs::create_directories(dir.path() / "fine");
  WriteBytes(dir.File("fine/Tarveld.txt"), "[log]\r\n100060=m\r\n");

  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string message;  // in standard error
  };
  const std::string missing_out = dir.File("no-such-folder/page.html");
  const std::vector<Case> cases = {
      {{dir.File("empty")}, 1, "nothing to read: neither " + dir.File("empty/Tarveld.txt")},
      {{dir.File("missing")}, 1, "nothing to read: there is no folder " + dir.File("missing")},
      {{dir.File("journal-is-a-folder")},
       1,
       "cannot read " + dir.File("journal-is-a-folder/Tarveld.log") + ": it is a folder"},
      {{"--out", missing_out, dir.File("fine")}, 1, "cannot write " + missing_out + ": "},
      {{"--bogus", dir.File("fine")}, 2, "unknown option --bogus"},
      {{dir.File("fine"), dir.File("empty")}, 2, "one folder only"},
      {{dir.File("fine"), "--out"}, 2, "--out needs a file name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    const HostRun run = RunProgram(TARVELD_AAR, c.arguments, dir.path());
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  for (const char* folder : {"empty", "journal-is-a-folder", "fine"})
    EXPECT_FALSE(fs::exists(dir.path() / folder / "Tarveld-AAR.html")) << folder;
}

// Help however a player asks for it, and never a folder called "/?".
TEST(AarProgram, EveryWayOfAskingForHelpPrintsTheUsage) {
  TempDir dir;
  for (const char* option : {"--help", "-h", "/?", "/h"}) {
    const HostRun run = RunProgram(TARVELD_AAR, {option}, dir.path());
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_TRUE(run.out.starts_with("usage: tarveld-aar [--out FILE] [--open] [DIR]\n"))
        << option << ": " << run.out;
    EXPECT_NE(run.out.find("Without DIR it reads"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "") << option;
  }
}

// Without a folder the player must still learn where it looked: the
// message names the folder in full, not the bare file names.
TEST(AarProgram, NothingToReadNamesTheFolderItLookedIn) {
  TempDir dir;
  fs::create_directories(dir.path() / "empty");
  const fs::path empty = fs::canonical(dir.path() / "empty");
  const struct {
    std::vector<std::string> arguments;
    fs::path workdir;
  } kCases[] = {
      {{}, empty},
      {{"empty"}, dir.path()},
      {{"--out", (dir.path() / "page.html").string()}, empty},
  };
  for (const auto& c : kCases) {
    const HostRun run = RunProgram(TARVELD_AAR, c.arguments, c.workdir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tarveld-aar: nothing to read: neither " + (empty / "Tarveld.txt").string() +
                           " nor " + (empty / "Tarveld.log").string() + " exists\n");
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(fs::exists(dir.path() / "page.html"));
}

// An --out that names an input, however spelled, or that is no regular
// file, is refused and nothing changes: the battle's record stays whole.
// An input that is a FIFO is named as not a regular file.
TEST(AarProgram, NeverWritesThePageOverItsInputs) {
  TempDir dir;
  const std::string journal = "1942-06-04 04:30:00 | 00100000 | MESSAGE    | kept\r\n";
  const std::string report = "[log]\r\n100060=m\r\n";
  fs::create_directories(dir.path() / "game");
  WriteBytes(dir.File("game/Tarveld.log"), journal);
  WriteBytes(dir.File("game/Tarveld.txt"), report);
  fs::create_symlink(dir.path() / "game" / "Tarveld.log", dir.path() / "link.html");
  fs::create_hard_link(dir.path() / "game" / "Tarveld.txt", dir.path() / "hard.html");
  fs::create_directories(dir.path() / "folder.html");
  ASSERT_EQ(::mkfifo(dir.File("fifo.html").c_str(), 0600), 0);
  fs::create_directories(dir.path() / "fifo-game");
  ASSERT_EQ(::mkfifo(dir.File("fifo-game/Tarveld.log").c_str(), 0600), 0);

  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::string game = dir.File("game");
  const std::vector<Case> cases = {
      {{"--out", dir.File("game/Tarveld.log"), game}, "which the page is made from"},
      {{"--out", dir.File("game/../game/Tarveld.txt"), game}, "which the page is made from"},
      {{"--out", dir.File("link.html"), game}, "which the page is made from"},
      {{"--out", dir.File("hard.html"), game}, "which the page is made from"},
      {{"--out", "/dev/null", game}, "/dev/null: it is not a regular file"},
      {{"--out", dir.File("fifo.html"), game}, "it is not a regular file"},
      {{"--out", dir.File("folder.html"), game}, "it is a folder"},
      {{dir.File("fifo-game")}, "Tarveld.log: it is not a regular file"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& argument : c.arguments)
      trace += argument + " ";
    SCOPED_TRACE(trace);
    const HostRun run = RunProgram(TARVELD_AAR, c.arguments, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(ReadBytes(dir.File("game/Tarveld.log")), journal);
  EXPECT_EQ(ReadBytes(dir.File("game/Tarveld.txt")), report);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.html"));
  EXPECT_FALSE(fs::exists(dir.path() / "game" / "Tarveld-AAR.html"));
}

}  // namespace
}  // namespace tarveld::testing
