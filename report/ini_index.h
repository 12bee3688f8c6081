// Where each section and key of a store's text stands, and lookups by name
// on it. Names and values are read from the text itself when asked for, so
// a report of a million keys costs its text and a few bytes a key, not a
// copy of every name and value.
//
// The index holds only for a text in the form BuildFileText gives its own
// model, but for a few key lines not yet trimmed: every line ends in CR LF,
// headers are trimmed, key lines are "name=value" (or a bare comment), a
// comment block opens only the first section, and one empty line follows
// each section but the last and the comment block. The store writes a
// key line as it was handed and trims it at its next write, so the report
// it left may hold one such line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarveld {

// The position of the first item bearing a name (NamesMatch), among items
// whose names the owner reads on demand. Open addressing over positions,
// so a key costs a few bytes whatever its name's length.
class FirstNameTable {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  // `name_of(position)` gives the name of the item at a position held here.
  template <typename NameOf>
  std::size_t Find(std::string_view name, const NameOf& name_of) const;

  // The item at `position` is named `name`; an earlier one of the same
  // name keeps its place.
  template <typename NameOf>
  void Add(std::string_view name, std::size_t position, const NameOf& name_of);

 private:
  template <typename NameOf>
  void Grow(const NameOf& name_of);

  std::vector<std::uint32_t> slots_;  // position + 1; 0 is an empty slot
  std::size_t count_ = 0;
};

struct IndexedSection {
  std::size_t begin = 0;          // offset of its header line in the text
  std::size_t size = 0;           // bytes of its lines, the empty one after it not counted
  std::vector<std::size_t> keys;  // each key line's offset from `begin`
  FirstNameTable key_names;
};

// The key that a line of the text reads as: a comment (the whole line, no
// value) or a name and a value, both trimmed.
struct KeyLine {
  bool comment = false;
  std::string_view name;
  std::string_view value;
};

class IniTextIndex {
 public:
  static constexpr std::size_t npos = FirstNameTable::npos;

  struct KeyPlace {
    std::size_t section;
    std::size_t key;
  };
  // Key lines beyond this many not yet trimmed make a text another's.
  static constexpr std::size_t kMostUntrimmed = 16;

  // Indexes `text`; false, leaving the index empty, when the text is not
  // in the form above.
  bool Assign(std::string_view text);
  // The key lines of the indexed text not yet in their trimmed form.
  const std::vector<KeyPlace>& Untrimmed() const { return untrimmed_; }

  std::size_t SectionCount() const { return sections_.size(); }
  const IndexedSection& Section(std::size_t s) const { return sections_[s]; }

  // The first section or key of a name; a comment name or an empty one
  // finds nothing. `text` is the indexed text.
  std::size_t FindSection(std::string_view text, std::string_view name) const;
  std::size_t FindKey(std::string_view text, std::size_t section, std::string_view name) const;

  // A new last section whose header line, of `size` bytes with its break,
  // starts at `begin`; its name counts when it is not a comment.
  void AppendSection(std::string_view text, std::size_t begin, std::size_t size);
  // A new last key line of `size` bytes in `section`, at its end.
  void AppendKey(std::string_view text, std::size_t section, std::size_t size);
  // Key `key` of `section` now has `delta` bytes more (or fewer).
  void Resize(std::size_t section, std::size_t key, std::ptrdiff_t delta);

  // Where key `key` of `section` starts in the text, and its line.
  std::size_t KeyOffset(std::size_t section, std::size_t key) const {
    return sections_[section].begin + sections_[section].keys[key];
  }
  static std::string_view LineAt(std::string_view text, std::size_t offset);

 private:
  std::string_view SectionName(std::string_view text, std::size_t s) const;
  std::string_view KeyName(std::string_view text, std::size_t s, std::size_t k) const;

  std::vector<IndexedSection> sections_;
  FirstNameTable section_names_;
  std::vector<KeyPlace> untrimmed_;
};

// How ParseLines reads one trimmed, non-empty line that is not a header.
KeyLine ReadKeyLine(std::string_view trimmed);

// A header line "[name]", trimmed: true, with the name between the brackets.
bool ReadHeader(std::string_view trimmed, std::string_view& name);

}  // namespace tarveld
