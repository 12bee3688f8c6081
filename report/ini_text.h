// The INI store's model and the pure text work on it: splitting file bytes
// into lines, parsing lines into the model, and building lines and file text
// back from it. Nothing here touches a file.
//
// Texts are 8-bit byte strings; nothing is converted or validated, and every
// comparison works on bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarveld {

struct TIniFileKey {
  std::string Name;
  std::string Value;
};

using TIniFileKeyList = std::vector<std::unique_ptr<TIniFileKey>>;

struct TIniFileSection {
  std::string Name;
  TIniFileKeyList Keys;
};

// Sections in file order. Names need not be unique: nothing is ever merged.
using TIniFileSectionList = std::vector<std::unique_ptr<TIniFileSection>>;

// `text` without the bytes 0 to 32 at either end; inner bytes and bytes
// above 32 (127 and everything above it included) are kept.
std::string_view Trim(std::string_view text);

// A comment is a text whose first byte is ";".
inline bool IsComment(std::string_view text) {
  return !text.empty() && text.front() == ';';
}

// Equal length and equal bytes once the ASCII letters a-z are folded to A-Z.
// No other byte folds, so names differing above byte 127 never match.
bool NamesMatch(std::string_view a, std::string_view b);

// `bytes` without a UTF-8 byte-order mark (EF BB BF) at its very start.
std::string_view SkipByteOrderMark(std::string_view bytes);

// Splits file bytes into lines: CR LF, a lone CR and a lone LF each end one
// line (LF CR ends two); a final line without a break is a line, a final
// break starts none. The views point into `bytes`.
std::vector<std::string_view> SplitLines(std::string_view bytes);

// The model that `lines` describe. Blank lines vanish; names and values come
// out trimmed, section names being the untrimmed text between the brackets
// of a trimmed header line; comments before the first header open a leading
// comment block, comments after it become keys with an empty value.
TIniFileSectionList ParseLines(std::span<const std::string_view> lines);

// Makes `text` the file's text for `sections`, reusing its storage: per
// section a header line (or the bare name of a comment-named section), its
// keys as "Name=Value" lines (or the bare name of a comment key), and an
// empty line after each section but the last and but the comment-named
// ones; every line ends in CR LF, the last one included. Every line break
// inside a name or value becomes one space, so each built line is exactly
// one line of the file.
void BuildFileText(const TIniFileSectionList& sections, std::string& text);

// True when ParseLines on the lines of BuildFileText gives `sections` back
// unchanged, so that the store can be kept as that text: no name or value
// holds a line break, keys read back as themselves, comment keys are
// trimmed and hold no value, and the only comment-named section is a
// trimmed first one.
bool IsSettled(const TIniFileSectionList& sections);

// `text` with each line break (CR LF, lone CR, lone LF) replaced by one
// space; LF CR counts as two breaks.
std::string FlattenLineBreaks(std::string_view text);

// Lookups in a section or key list without a scan. Every name that a
// lookup can find (neither empty nor a comment) maps to the position of the
// first item bearing it (NamesMatch), the one a scan in list order would
// come to first; an empty or comment name finds nothing. The owner keeps it
// in step with the list.
class NameIndex {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  template <typename Item>
  void Assign(const std::vector<std::unique_ptr<Item>>& items) {
    first_.clear();
    first_.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
      Append(items[i]->Name, i);
  }

  // The position of the first item matching `name`, or npos.
  std::size_t Find(std::string_view name) const;

  // The list's new last item, at `position`, is named `name`.
  void Append(std::string_view name, std::size_t position);

  // The list's last item, at `position`, was renamed from `old_name`.
  void RenameLast(std::string_view old_name, std::string_view new_name, std::size_t position);

 private:
  struct FoldedHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept;
  };
  struct FoldedEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept {
      return NamesMatch(a, b);
    }
  };
  std::unordered_map<std::string, std::size_t, FoldedHash, FoldedEqual> first_;
};

}  // namespace tarveld
