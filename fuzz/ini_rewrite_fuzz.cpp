// The INI store on a report file of any bytes.
//
// Input: three texts (section, key and value, each a length byte and its
// bytes), then the file's bytes. Three stores in turn open the file, make
// the same PutText and leave the file to the next:
//
//   file 0 --store 1--> file 1 --store 2--> file 2 --store 3--> file 3
//
// Properties, besides no crash and no sanitizer report:
//   - A store that has written holds the model a new store reads from its
//     file: its next PutText writes the same bytes as the next store's.
//     Line breaks inside names and values are written as blanks, so every
//     built line is one line of the file and this holds for every input.
//   - Every file written is empty or ends with CR LF, holds no CR or LF
//     outside a CR LF, and no blank line but the one between two sections;
//     every name and value of a rebuilt model is trimmed and holds no line
//     break.
//   - When the write is repeatable, file 2 equals file 3 and the key holds
//     the value as written, flattened and trimmed. A write is repeatable
//     when the key it writes comes back from the file as that same key:
//     the section and key names are no comments and hold no line break,
//     the key name is trimmed and holds no "=", and the key line does not
//     read as a header ("[" at its start, "]" at the end of the value). A
//     write with an empty section or key name only normalises, which is
//     repeatable as well. File 1 may still differ from file 2: a header
//     whose name is a comment is written as a bare comment line, which the
//     next store reads as a key of the section before it.
//     Any other write appends a new section or key at every repetition,
//     so file 3 is longer than file 2.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/memory_platform.h"
#include "report/ini_file.h"

namespace {

using tarveld::TIniFile;
using tarveld::fuzz::MemoryPlatform;

constexpr const char* kReport = "/fuzz/Tarveld.txt";

// The rules below are restated here rather than taken from the store, so
// that the target checks the store against them instead of against itself.

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsTrimmedAway(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsTrimmedAway(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsTrimmedAway(text.back()))
    text.remove_suffix(1);
  return text;
}

// Each CR LF, lone CR and lone LF as one blank.
std::string Flattened(std::string_view text) {
  std::string flat;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsLineBreak(text[i])) {
      flat += text[i];
      continue;
    }
    flat += ' ';
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
  }
  return flat;
}

char Folded(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool NamesMatch(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Folded(a[i]) != Folded(b[i]))
      return false;
  }
  return true;
}

bool IsComment(std::string_view text) {
  return !text.empty() && text.front() == ';';
}

bool Repeatable(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() || key.empty())
    return true;
  if (IsComment(section) || HasLineBreak(section))
    return false;
  if (IsComment(key) || HasLineBreak(key) || Trimmed(key) != key ||
      key.find('=') != std::string_view::npos)
    return false;
  const std::string flat = Flattened(value);
  const std::string_view written = Trimmed(flat);
  return !(key.front() == '[' && !written.empty() && written.back() == ']');
}

// The value the store reads for (section, key): the first matching key of
// the first matching section; nullptr when there is none.
const std::string* Lookup(const TIniFile& store, std::string_view section, std::string_view key) {
  for (const auto& s : store.Sections()) {
    if (!NamesMatch(s->Name, section))
      continue;
    for (const auto& k : s->Keys) {
      if (NamesMatch(k->Name, key))
        return &k->Value;
    }
    return nullptr;
  }
  return nullptr;
}

void CheckFileText(std::string_view text) {
  if (text.empty())
    return;
  FUZZ_CHECK(text.ends_with("\r\n"));
  FUZZ_CHECK(!text.starts_with("\r\n"));
  FUZZ_CHECK(text.find("\r\n\r\n\r\n") == std::string_view::npos);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r')
      FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
    if (text[i] == '\n')
      FUZZ_CHECK(i > 0 && text[i - 1] == '\r');
  }
}

void CheckModel(const TIniFile& store) {
  for (const auto& section : store.Sections()) {
    FUZZ_CHECK(!HasLineBreak(section->Name));
    for (const auto& key : section->Keys) {
      FUZZ_CHECK(Trimmed(key->Name) == key->Name && !HasLineBreak(key->Name));
      FUZZ_CHECK(Trimmed(key->Value) == key->Value && !HasLineBreak(key->Value));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static MemoryPlatform os;
  tarveld::platform::Install(&os);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto& os = static_cast<MemoryPlatform&>(tarveld::platform::Current());
  tarveld::fuzz::FuzzInput input(data, size);
  const std::string_view section = input.Text();
  const std::string_view key = input.Text();
  const std::string_view value = input.Text();
  os.files.clear();
  os.files[kReport] = std::string(input.Rest());

  const bool repeatable = Repeatable(section, key, value);
  const std::string flat_value = Flattened(value);
  const std::string_view written_value = Trimmed(flat_value);
  std::string files[4];
  std::string again[3];  // what each store writes when it makes the write once more

  for (int i = 1; i <= 3; ++i) {
    TIniFile store(kReport);
    store.PutText(section, key, value);
    files[i] = os.files.at(kReport);
    CheckFileText(files[i]);
    CheckModel(store);
    if (repeatable && !section.empty() && !key.empty()) {
      const std::string* stored = Lookup(store, section, key);
      FUZZ_CHECK(stored != nullptr && *stored == written_value);
    }
    store.PutText(section, key, value);
    again[i - 1] = os.files.at(kReport);
    os.files[kReport] = files[i];  // the next store opens what this one wrote first
  }

  FUZZ_CHECK(again[0] == files[2]);
  FUZZ_CHECK(again[1] == files[3]);
  // Repeatable or not, nothing in between: every other write adds a line.
  if (repeatable)
    FUZZ_CHECK(files[2] == files[3]);
  else
    FUZZ_CHECK(files[3].size() > files[2].size());
  return 0;
}
