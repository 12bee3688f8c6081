#include "report/ini_text.h"

#include <cstddef>
#include <cstdint>

#include "report/ascii_case.h"

namespace tarveld {
namespace {

bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

// A name given to a lookup finds nothing when it is empty or a comment, so
// comment lines held as sections or keys are never written to.
bool IsFindable(std::string_view name) {
  return !name.empty() && !IsComment(name);
}

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

bool HasLineBreak(std::string_view text) {
  return text.find('\r') != std::string_view::npos || text.find('\n') != std::string_view::npos;
}

// Appends `text` to `out` with each line break turned into one space. A
// value (a host message, say) may hold breaks; written verbatim they would
// become lines of their own and restructure the file at its next load.
void AppendFlattened(std::string& out, std::string_view text) {
  for (;;) {
    std::size_t run = 0;
    while (run < text.size() && !IsLineBreak(text[run]))
      ++run;
    out.append(text.data(), run);
    if (run == text.size())
      return;
    out += ' ';
    const bool crlf = text[run] == '\r' && run + 1 < text.size() && text[run + 1] == '\n';
    text.remove_prefix(run + (crlf ? 2 : 1));
  }
}

}  // namespace

std::string_view Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin]))
    ++begin;
  while (end > begin && IsTrimmed(text[end - 1]))
    --end;
  return text.substr(begin, end - begin);
}

bool NamesMatch(std::string_view a, std::string_view b) {
  return EqualIgnoringAsciiCase(a, b);
}

std::string_view SkipByteOrderMark(std::string_view bytes) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  if (bytes.starts_with(kMark))
    bytes.remove_prefix(kMark.size());
  return bytes;
}

std::vector<std::string_view> SplitLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.push_back(bytes.substr(pos));
      break;
    }
    lines.push_back(bytes.substr(pos, end - pos));
    pos = end;
    if (bytes[pos] == '\r')
      ++pos;
    if (pos < bytes.size() && bytes[pos] == '\n')
      ++pos;
  }
  return lines;
}

TIniFileSectionList ParseLines(std::span<const std::string_view> lines) {
  TIniFileSectionList sections;
  TIniFileSection* current = nullptr;
  auto open_section = [&](std::string_view name) {
    sections.push_back(std::make_unique<TIniFileSection>(TIniFileSection{std::string(name), {}}));
    current = sections.back().get();
  };
  auto add_key = [&](std::string_view name, std::string_view value) {
    current->Keys.push_back(
        std::make_unique<TIniFileKey>(TIniFileKey{std::string(name), std::string(value)}));
  };

  for (const std::string_view line : lines) {
    const std::string_view s = Trim(line);
    if (s.empty())
      continue;
    if (IsComment(s) && current == nullptr) {
      open_section(s);  // the leading comment block
    } else if (s.size() >= 2 && s.front() == '[' && s.back() == ']') {
      open_section(s.substr(1, s.size() - 2));
    } else if (current == nullptr) {
      // A non-comment line before the first header has no place in the model.
    } else if (IsComment(s)) {
      add_key(s, {});
    } else if (const std::size_t eq = s.find('='); eq == std::string_view::npos) {
      add_key({}, s);
    } else {
      add_key(Trim(s.substr(0, eq)), Trim(s.substr(eq + 1)));
    }
  }
  return sections;
}

void BuildFileText(const TIniFileSectionList& sections, std::string& text) {
  text.clear();
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const TIniFileSection& section = *sections[i];
    const bool comment_block = IsComment(section.Name);
    if (comment_block) {
      AppendFlattened(text, section.Name);
    } else {
      text += '[';
      AppendFlattened(text, section.Name);
      text += ']';
    }
    text += "\r\n";
    for (const auto& key : section.Keys) {
      AppendFlattened(text, key->Name);
      if (!IsComment(key->Name)) {
        text += '=';
        AppendFlattened(text, key->Value);
      }
      text += "\r\n";
    }
    if (i + 1 < sections.size() && !comment_block)
      text += "\r\n";
  }
}

bool IsSettled(const TIniFileSectionList& sections) {
  auto trimmed = [](std::string_view text) { return Trim(text).size() == text.size(); };
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const TIniFileSection& section = *sections[i];
    if (HasLineBreak(section.Name))
      return false;
    // A comment line opens a section only before the first header, and
    // comes back trimmed.
    if (IsComment(section.Name) && (i != 0 || !trimmed(section.Name)))
      return false;
    for (const auto& key : section.Keys) {
      const std::string_view n = key->Name;
      const std::string_view v = key->Value;
      if (HasLineBreak(n) || !trimmed(n))
        return false;
      if (IsComment(n)) {
        if (!v.empty())  // the value of a comment key is never written
          return false;
        continue;
      }
      if (HasLineBreak(v) || !trimmed(v) || n.find('=') != std::string_view::npos)
        return false;
      if (!n.empty() && n.front() == '[' && !v.empty() && v.back() == ']')
        return false;  // "[...=...]" reads back as a header
    }
  }
  return true;
}

std::string FlattenLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendFlattened(out, text);
  return out;
}

std::size_t NameIndex::FoldedHash::operator()(std::string_view name) const noexcept {
  return static_cast<std::size_t>(tarveld::FoldedHash(name));
}

std::size_t NameIndex::Find(std::string_view name) const {
  if (!IsFindable(name))
    return npos;
  const auto found = first_.find(name);
  return found == first_.end() ? npos : found->second;
}

void NameIndex::Append(std::string_view name, std::size_t position) {
  // An earlier item of the same name keeps the entry: lookups find it first.
  if (IsFindable(name) && first_.find(name) == first_.end())
    first_.emplace(std::string(name), position);
}

void NameIndex::RenameLast(std::string_view old_name, std::string_view new_name,
                           std::size_t position) {
  // No later item can bear the old name, so none takes the entry over.
  if (const auto found = first_.find(old_name); found != first_.end() && found->second == position)
    first_.erase(found);
  Append(new_name, position);
}

}  // namespace tarveld
