// The store against the plain implementation in support/reference_ini.h, on
// random starting files and random write sequences: the bytes of every
// rewrite and the model after every write must be the same, failed writes
// included. Names and values are drawn from bytes that matter to the format
// (blanks, controls, line breaks, ";", "[", "]", "=", letters that fold,
// bytes above 127), so that writes often restructure the report.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "report/exceptions.h"
#include "report/ini_file.h"
#include "report/ini_index.h"
#include "report/ini_text.h"
#include "support/fake_platform.h"
#include "support/reference_ini.h"

namespace tarveld::testing {
namespace {

using platform::IoResult;
using platform::IoStatus;

// The report file in memory, with replacements that fail on demand.
class MemoryPlatform : public FakePlatform {
 public:
  std::optional<std::string> file;  // nothing: no file
  std::optional<IoStatus> fail_next;
  std::optional<std::string> written;  // the bytes of the latest replacement asked for

  bool IsExistingFile(const std::string&) override { return file.has_value(); }
  IoResult ReadFile(const std::string&, std::string& bytes) override {
    bytes = file.value_or("");
    return {};
  }
  IoResult ReplaceFile(const std::string&, std::string_view bytes) override {
    written = std::string(bytes);
    if (fail_next) {
      const IoStatus status = *fail_next;
      fail_next.reset();
      return {status, 5};
    }
    file = std::string(bytes);
    return {};
  }
};

::testing::AssertionResult SameModel(const TIniFileSectionList& store,
                                     const reference::Model& expected) {
  auto show = [](std::string_view text) { return ::testing::PrintToString(std::string(text)); };
  if (store.size() != expected.size()) {
    return ::testing::AssertionFailure()
           << store.size() << " sections, expected " << expected.size();
  }
  for (std::size_t i = 0; i < store.size(); ++i) {
    const TIniFileSection& section = *store[i];
    const reference::Section& want = expected[i];
    if (section.Name != want.name) {
      return ::testing::AssertionFailure() << "section " << i << " named " << show(section.Name)
                                           << ", expected " << show(want.name);
    }
    if (section.Keys.size() != want.keys.size()) {
      return ::testing::AssertionFailure() << "section " << i << " has " << section.Keys.size()
                                           << " keys, expected " << want.keys.size();
    }
    for (std::size_t j = 0; j < want.keys.size(); ++j) {
      const TIniFileKey& key = *section.Keys[j];
      if (key.Name != want.keys[j].name || key.Value != want.keys[j].value) {
        return ::testing::AssertionFailure()
               << "key " << j << " of section " << i << " is " << show(key.Name) << "="
               << show(key.Value) << ", expected " << show(want.keys[j].name) << "="
               << show(want.keys[j].value);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// The index takes a text as the store's own exactly when building the
// model it reads as gives that text back, but for a few key lines not yet
// trimmed; a store opened on it then holds the model's own text, and the
// index finds every name where a scan of the model in order would.
::testing::AssertionResult IndexedExactlyWhenOwnText(const std::string& text) {
  const TIniFileSectionList model = ParseLines(SplitLines(text));
  std::string built;
  BuildFileText(model, built);
  const bool own = built == text && IsSettled(model);
  IniTextIndex index;
  const bool taken = index.Assign(text);
  if (own != (taken && index.Untrimmed().empty())) {
    return ::testing::AssertionFailure()
           << (own ? "own text refused: " : "other text taken: ") << ::testing::PrintToString(text);
  }
  if (!taken)
    return ::testing::AssertionSuccess();
  const TIniFile opened("Tarveld.txt", std::string(text), DirectOutput());
  if (opened.Text() != built) {
    return ::testing::AssertionFailure() << "opened as " << ::testing::PrintToString(opened.Text())
                                         << ", built " << ::testing::PrintToString(built);
  }
  const auto first = [](const auto& items, const std::string& name) {
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (NamesMatch(items[i]->Name, name))
        return i;
    }
    return IniTextIndex::npos;
  };
  for (std::size_t s = 0; s < model.size(); ++s) {
    const std::string& name = model[s]->Name;
    const std::size_t want =
        IsComment(name) || name.empty() ? IniTextIndex::npos : first(model, name);
    if (index.FindSection(text, name) != want)
      return ::testing::AssertionFailure() << "section " << s << " found elsewhere";
    for (std::size_t k = 0; k < model[s]->Keys.size(); ++k) {
      const std::string& key = model[s]->Keys[k]->Name;
      const std::size_t at =
          IsComment(key) || key.empty() ? IniTextIndex::npos : first(model[s]->Keys, key);
      if (want == s && index.FindKey(text, s, key) != at) {
        return ::testing::AssertionFailure()
               << "key " << k << " of section " << s << " found elsewhere";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  bool Chance(int percent) { return Below(100) < percent; }

  // Bytes that the format treats specially, and some that it does not.
  std::string Tricky(int max_size) {
    static constexpr char kBytes[] = {' ', '\t', '\r',   '\n',   ';',    '[',    ']',    '=',   'a',
                                      'A', 'b',  'B',    'z',    'Z',    '0',    '1',    '{',   '@',
                                      '`', '\0', '\x1f', '\x7f', '\x80', '\xe9', '\xc9', '\xff'};
    std::string text;
    const int size = Below(max_size + 1);
    for (int i = 0; i < size; ++i)
      text += kBytes[Below(sizeof kBytes)];
    return text;
  }

  // A name that may well match one of `used`: as stored, with its letters'
  // case changed, with a blank at one end, or another name entirely.
  std::string Name(const std::vector<std::string>& used) {
    static const char* const kCommon[] = {
        "log",  "Session Start", "Game Date ", "100060", "100120", "Scenario ",
        " log", "LOG",           "[x",         "k",      ";note",  "a=b"};
    const int kind = Below(100);
    if (kind < 5)
      return "";
    if (kind < 55 && !used.empty()) {
      std::string name = used[static_cast<std::size_t>(Below(static_cast<int>(used.size())))];
      if (Chance(30)) {
        for (char& c : name) {
          if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
          else if (c >= 'A' && c <= 'Z' && Chance(50))
            c = static_cast<char>(c + 32);
        }
      }
      if (Chance(10))
        name = Chance(50) ? " " + name : name + " ";
      return name;
    }
    if (kind < 75)
      return kCommon[Below(sizeof kCommon / sizeof kCommon[0])];
    return Tricky(6);
  }

  std::string Value() {
    static const char* const kCommon[] = {"M1", " v ", "x]", "a=b", "Contact\r\nlost", "", "1"};
    return Chance(50) ? std::string(kCommon[Below(sizeof kCommon / sizeof kCommon[0])]) : Tricky(8);
  }

  // A file as another tool, or an earlier run, may have left it.
  std::optional<std::string> File() {
    const int kind = Below(100);
    if (kind < 10)
      return std::nullopt;
    if (kind < 15)
      return "";
    static const char* const kBreaks[] = {"\r\n", "\r\n", "\n", "\r", "\n\r"};
    std::string text = Chance(10) ? "\xEF\xBB\xBF" : "";
    const int lines = Below(25);
    for (int i = 0; i < lines; ++i) {
      const std::string pad = Chance(20) ? Tricky(2) : "";
      switch (Below(5)) {
        case 0:
          text += pad + "[" + Tricky(5) + "]" + pad;
          break;
        case 1:
          text += pad + ";" + Tricky(5);
          break;
        case 2:
        case 3:
          text += pad + Tricky(4) + "=" + Tricky(6) + pad;
          break;
        default:
          text += Tricky(8);
          break;
      }
      if (i + 1 < lines || Chance(70))
        text += kBreaks[Below(5)];
    }
    return text;
  }

 private:
  std::mt19937 random_;
};

std::vector<std::string> SectionNames(const reference::Model& model) {
  std::vector<std::string> names;
  for (const reference::Section& section : model)
    names.push_back(section.name);
  return names;
}

std::vector<std::string> KeyNames(const reference::Model& model) {
  std::vector<std::string> names;
  for (const reference::Section& section : model) {
    for (const reference::Key& key : section.keys)
      names.push_back(key.name);
  }
  return names;
}

TEST(IniDifferentialTest, RandomWritesMatchThePlainStore) {
  MemoryPlatform os;
  ScopedPlatform installed(os);
  int writes = 0;
  int patched = 0;  // writes made on the store kept as its text, not as a model

  for (std::uint32_t round = 0; round < 1000; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Generator random(round);
    os.file = random.File();
    std::optional<TIniFile> store(std::in_place, "Tarveld.txt");
    std::optional<reference::Store> expected(std::in_place, os.file);
    ASSERT_TRUE(SameModel(store->Sections(), expected->model())) << "after opening";
    if (os.file) {
      ASSERT_TRUE(IndexedExactlyWhenOwnText(*os.file));
    }

    const int steps = round % 10 == 0 ? 300 : 40;
    for (int step = 0; step < steps; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      if (random.Chance(4)) {
        // A new store, as at the next scenario load.
        store.emplace("Tarveld.txt");
        expected.emplace(os.file);
        ASSERT_TRUE(SameModel(store->Sections(), expected->model())) << "after reopening";
        continue;
      }
      const std::string section = random.Name(SectionNames(expected->model()));
      const std::string key = random.Name(KeyNames(expected->model()));
      std::string value = random.Value();
      const int operation = random.Below(100);  // PutText, PutInteger below 10, RewriteFile below 3
      const auto number = static_cast<std::int32_t>(random.Below(2001) - 1000);
      if (operation < 10 && operation >= 3)
        value = std::to_string(number);
      const bool fails = random.Chance(8);
      if (fails)
        os.fail_next = random.Chance(50) ? IoStatus::kCreateFailed : IoStatus::kWriteFailed;
      if (store->KeptAsTextForTesting())
        ++patched;

      const std::string want =
          operation < 3 ? expected->Text() : expected->Put(section, key, value);
      os.written.reset();
      try {
        if (operation < 3) {
          store->RewriteFile();
        } else if (operation < 10) {
          store->PutInteger(section, key, number);
        } else {
          store->PutText(section, key, value);
        }
        ASSERT_FALSE(fails) << "the injected failure was not raised";
      } catch (const EStreamError& error) {
        ASSERT_TRUE(fails) << error.ClassName() << ": " << error.Message();
      }
      ++writes;
      ASSERT_TRUE(os.written.has_value());
      ASSERT_EQ(*os.written, want)
          << "section " << ::testing::PrintToString(section) << " key "
          << ::testing::PrintToString(key) << " value " << ::testing::PrintToString(value);
      if (!fails) {
        expected->Rebuild();
        ASSERT_TRUE(IndexedExactlyWhenOwnText(*os.file));
      }
      ASSERT_TRUE(SameModel(store->Sections(), expected->model()));
    }
  }
  // Most writes patch the text; the comparison above must have covered
  // that way, not only the model's.
  EXPECT_GT(patched, writes / 2) << writes << " writes";
}

}  // namespace
}  // namespace tarveld::testing
