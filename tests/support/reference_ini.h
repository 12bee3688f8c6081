// The INI store done the plain way, as a yardstick for the real one: every
// write changes the model, builds every line, and the model is read back
// from all of them; lookups scan the lists. It keeps no state beyond the
// model and touches no file: the caller says whether the write succeeded.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarveld::testing::reference {

struct Key {
  std::string name;
  std::string value;
};

struct Section {
  std::string name;
  std::vector<Key> keys;
};

using Model = std::vector<Section>;

inline std::string_view Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
    ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
    --end;
  return text.substr(begin, end - begin);
}

inline bool IsComment(std::string_view text) {
  return !text.empty() && text[0] == ';';
}

inline bool NamesMatch(std::string_view a, std::string_view b) {
  auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i]))
      return false;
  }
  return true;
}

// The first item whose name matches, or nullptr; empty and comment names
// find nothing.
template <typename Item>
Item* Find(std::vector<Item>& items, std::string_view name) {
  if (name.empty() || IsComment(name))
    return nullptr;
  for (Item& item : items) {
    if (NamesMatch(item.name, name))
      return &item;
  }
  return nullptr;
}

inline std::vector<std::string_view> SplitLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
      ++end;
    lines.push_back(bytes.substr(pos, end - pos));
    pos = end;
    if (pos < bytes.size() && bytes[pos] == '\r')
      ++pos;
    if (pos < bytes.size() && bytes[pos] == '\n')
      ++pos;
  }
  return lines;
}

inline Model ParseLines(const std::vector<std::string_view>& lines) {
  Model model;
  bool have_section = false;
  for (const std::string_view line : lines) {
    const std::string_view s = Trim(line);
    if (s.empty())
      continue;
    if (IsComment(s) && !have_section) {
      model.push_back({std::string(s), {}});
      have_section = true;
    } else if (s.size() >= 2 && s.front() == '[' && s.back() == ']') {
      model.push_back({std::string(s.substr(1, s.size() - 2)), {}});
      have_section = true;
    } else if (!have_section) {
      continue;
    } else if (IsComment(s)) {
      model.back().keys.push_back({std::string(s), ""});
    } else if (const std::size_t eq = s.find('='); eq == std::string_view::npos) {
      model.back().keys.push_back({"", std::string(s)});
    } else {
      model.back().keys.push_back(
          {std::string(Trim(s.substr(0, eq))), std::string(Trim(s.substr(eq + 1)))});
    }
  }
  return model;
}

// Each line break (CR LF, lone CR, lone LF) becomes one blank.
inline std::string Flatten(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += ' ';
      if (i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else if (text[i] == '\n') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

inline std::vector<std::string> BuildLines(const Model& model) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < model.size(); ++i) {
    const Section& section = model[i];
    if (IsComment(section.name)) {
      lines.push_back(Flatten(section.name));
    } else {
      lines.push_back("[" + Flatten(section.name) + "]");
    }
    for (const Key& key : section.keys) {
      if (IsComment(key.name)) {
        lines.push_back(Flatten(key.name));
      } else {
        lines.push_back(Flatten(key.name) + "=" + Flatten(key.value));
      }
    }
    if (i + 1 < model.size() && !IsComment(section.name))
      lines.emplace_back();
  }
  return lines;
}

class Store {
 public:
  // A store on an absent file, or on one holding `bytes`.
  explicit Store(std::optional<std::string_view> bytes) {
    if (!bytes)
      return;
    std::string_view text = *bytes;
    if (text.starts_with("\xEF\xBB\xBF"))
      text.remove_prefix(3);
    model_ = ParseLines(SplitLines(text));
  }

  // Changes the model as a write does and returns the text it writes.
  std::string Put(std::string_view section, std::string_view key, std::string_view value) {
    if (!section.empty() && !key.empty()) {
      Section* target = Find(model_, section);
      if (target == nullptr) {
        model_.push_back({std::string(section), {}});
        target = &model_.back();
      }
      if (Key* found = Find(target->keys, key)) {
        found->value = value;
      } else {
        target->keys.push_back({std::string(key), std::string(value)});
      }
    }
    return Text();
  }

  // The text a rewrite writes for the model as it stands.
  std::string Text() const {
    std::string text;
    for (const std::string& line : BuildLines(model_))
      text += line + "\r\n";
    return text;
  }

  // After a successful rewrite: the model read back from the lines built,
  // each counting as one line.
  void Rebuild() {
    const std::vector<std::string> lines = BuildLines(model_);
    model_ = ParseLines(std::vector<std::string_view>(lines.begin(), lines.end()));
  }

  const Model& model() const { return model_; }

 private:
  Model model_;
};

}  // namespace tarveld::testing::reference
