#include "report/ini_index.h"

#include <limits>
#include <stdexcept>

#include "report/ascii_case.h"
#include "report/ini_text.h"

namespace tarveld {
namespace {

bool IsFindable(std::string_view name) {
  return !name.empty() && !IsComment(name);
}

}  // namespace

template <typename NameOf>
std::size_t FirstNameTable::Find(std::string_view name, const NameOf& name_of) const {
  if (slots_.empty())
    return npos;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(FoldedHash(name)) & mask;; i = (i + 1) & mask) {
    const std::uint32_t slot = slots_[i];
    if (slot == 0)
      return npos;
    if (NamesMatch(name_of(slot - 1), name))
      return slot - 1;
  }
}

template <typename NameOf>
void FirstNameTable::Add(std::string_view name, std::size_t position, const NameOf& name_of) {
  if (position >= std::numeric_limits<std::uint32_t>::max())
    throw std::length_error("too many names in one list");
  // At most half full, so that a probe ends soon at an empty slot.
  if ((count_ + 1) * 2 > slots_.size())
    Grow(name_of);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(FoldedHash(name)) & mask;; i = (i + 1) & mask) {
    std::uint32_t& slot = slots_[i];
    if (slot == 0) {
      slot = static_cast<std::uint32_t>(position + 1);
      ++count_;
      return;
    }
    if (NamesMatch(name_of(slot - 1), name))
      return;
  }
}

template <typename NameOf>
void FirstNameTable::Grow(const NameOf& name_of) {
  std::vector<std::uint32_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 8 : old.size() * 2, 0);
  const std::size_t mask = slots_.size() - 1;
  for (const std::uint32_t slot : old) {
    if (slot == 0)
      continue;
    std::size_t i = static_cast<std::size_t>(FoldedHash(name_of(slot - 1))) & mask;
    while (slots_[i] != 0)
      i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

KeyLine ReadKeyLine(std::string_view trimmed) {
  if (IsComment(trimmed))
    return {true, trimmed, {}};
  const std::size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos)
    return {false, {}, trimmed};
  return {false, Trim(trimmed.substr(0, eq)), Trim(trimmed.substr(eq + 1))};
}

bool ReadHeader(std::string_view trimmed, std::string_view& name) {
  if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']')
    return false;
  name = trimmed.substr(1, trimmed.size() - 2);
  return true;
}

std::string_view IniTextIndex::LineAt(std::string_view text, std::size_t offset) {
  const std::size_t end = text.find('\r', offset);
  return text.substr(offset, end == std::string_view::npos ? std::string_view::npos : end - offset);
}

std::string_view IniTextIndex::SectionName(std::string_view text, std::size_t s) const {
  std::string_view name;
  return ReadHeader(Trim(LineAt(text, sections_[s].begin)), name) ? name : std::string_view();
}

std::string_view IniTextIndex::KeyName(std::string_view text, std::size_t s, std::size_t k) const {
  const KeyLine key = ReadKeyLine(Trim(LineAt(text, KeyOffset(s, k))));
  return key.comment ? std::string_view() : key.name;
}

bool IniTextIndex::Assign(std::string_view text) {
  const auto fail = [this] {
    sections_.clear();
    section_names_ = FirstNameTable();
    untrimmed_.clear();
    return false;
  };
  fail();
  bool in_comment_block = false;  // the open section is the leading comment block
  bool blank = false;             // an empty line ended the open section
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos || text[end] != '\r' || end + 1 == text.size() ||
        text[end + 1] != '\n') {
      return fail();
    }
    const std::string_view line = text.substr(pos, end - pos);
    const std::string_view trimmed = Trim(line);
    const std::size_t size = line.size() + 2;
    std::string_view name;
    if (line.empty()) {
      // One empty line parts two sections; the comment block is not parted.
      if (sections_.empty() || blank || in_comment_block)
        return fail();
      blank = true;
    } else if (ReadHeader(trimmed, name)) {
      // A header naming a comment is written back as a bare comment line.
      if (trimmed.size() != line.size() || IsComment(name) ||
          (!sections_.empty() && !blank && !in_comment_block)) {
        return fail();
      }
      AppendSection(text, pos, size);
      in_comment_block = false;
      blank = false;
    } else if (sections_.empty()) {
      // A line before the first header vanishes at load, unless it is the
      // comment that opens the comment block.
      if (!IsComment(line) || trimmed.size() != line.size())
        return fail();
      sections_.push_back({pos, size, {}, {}});
      in_comment_block = true;
    } else {
      const KeyLine key = ReadKeyLine(trimmed);
      // A bare line is written back as "=line", and one after an empty
      // line goes up into the section before it.
      if (blank || (!key.comment && trimmed.find('=') == std::string_view::npos))
        return fail();
      AppendKey(text, sections_.size() - 1, size);
      // Written back, a key line is "name=value", both trimmed. The store
      // itself leaves one line so, the last it wrote; a text with many is
      // laid out anew instead.
      const std::size_t settled =
          key.comment ? key.name.size() : key.name.size() + 1 + key.value.size();
      if (settled != line.size()) {
        if (untrimmed_.size() == kMostUntrimmed)
          return fail();
        untrimmed_.push_back({sections_.size() - 1, sections_.back().keys.size() - 1});
      }
    }
    pos = end + 2;
  }
  return blank ? fail() : true;
}

std::size_t IniTextIndex::FindSection(std::string_view text, std::string_view name) const {
  if (!IsFindable(name))
    return npos;
  return section_names_.Find(name, [&](std::size_t s) { return SectionName(text, s); });
}

std::size_t IniTextIndex::FindKey(std::string_view text, std::size_t section,
                                  std::string_view name) const {
  if (!IsFindable(name))
    return npos;
  return sections_[section].key_names.Find(
      name, [&](std::size_t k) { return KeyName(text, section, k); });
}

void IniTextIndex::AppendSection(std::string_view text, std::size_t begin, std::size_t size) {
  sections_.push_back({begin, size, {}, {}});
  const std::size_t s = sections_.size() - 1;
  if (const std::string_view name = SectionName(text, s); IsFindable(name))
    section_names_.Add(name, s, [&](std::size_t other) { return SectionName(text, other); });
}

void IniTextIndex::AppendKey(std::string_view text, std::size_t section, std::size_t size) {
  IndexedSection& place = sections_[section];
  place.keys.push_back(place.size);
  Resize(section, place.keys.size() - 1, static_cast<std::ptrdiff_t>(size));
  const std::size_t k = place.keys.size() - 1;
  if (const std::string_view name = KeyName(text, section, k); IsFindable(name))
    place.key_names.Add(name, k, [&](std::size_t other) { return KeyName(text, section, other); });
}

void IniTextIndex::Resize(std::size_t section, std::size_t key, std::ptrdiff_t delta) {
  if (delta == 0)
    return;
  const auto moved = [delta](std::size_t offset) {
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(offset) + delta);
  };
  IndexedSection& place = sections_[section];
  for (std::size_t i = key + 1; i < place.keys.size(); ++i)
    place.keys[i] = moved(place.keys[i]);
  place.size = moved(place.size);
  for (std::size_t i = section + 1; i < sections_.size(); ++i)
    sections_[i].begin = moved(sections_[i].begin);
}

}  // namespace tarveld
