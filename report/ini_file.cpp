#include "report/ini_file.h"

#include <memory>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "report/exceptions.h"
#include "report/format_values.h"

namespace tarveld {

TCustomIniFile::TCustomIniFile(std::string file_name, bool line_continuation)
    : file_name_(std::move(file_name)), line_continuation_(line_continuation) {}

TCustomIniFile::~TCustomIniFile() = default;

void TCustomIniFile::PutInteger(std::string_view section, std::string_view key,
                                std::int32_t value) {
  PutText(section, key, IntegerText(value));
}

namespace {

class PlatformOutput final : public ReportOutput {
 public:
  bool NewestText(const std::string&, std::string&) override { return false; }

  void Replace(const std::string& path, std::string_view text) override {
    const platform::IoResult result = platform::Current().ReplaceFile(path, text);
    if (result.ok())
      return;
    if (result.status == platform::IoStatus::kWriteFailed)
      throw EWriteError("Stream write error", result.os_error);
    throw EFCreateError("Unable to create file \"" + path + "\"", result.os_error);
  }
};

}  // namespace

ReportOutput& DirectOutput() {
  static PlatformOutput output;
  return output;
}

std::string ReadStoreFile(const std::string& file_name, ReportOutput& output) {
  // A text the output holds and has not put on disk yet is the newest: the
  // disk would give an older report, which the next rewrite would bring
  // back. Otherwise the file; an absent one, or a directory, gives an empty
  // store, and the first write creates the file.
  platform::Platform& os = platform::Current();
  std::string bytes;
  if (output.NewestText(file_name, bytes) || !os.IsExistingFile(file_name))
    return bytes;
  const platform::IoResult read = os.ReadFile(file_name, bytes);
  if (!read.ok())
    throw EFOpenError("Unable to open file \"" + file_name + "\"", read.os_error);
  return bytes;
}

TIniFile::TIniFile(std::string file_name, bool line_continuation, ReportOutput& output)
    : TCustomIniFile(std::move(file_name), line_continuation), output_(&output) {
  Load(ReadStoreFile(file_name_, output));
}

TIniFile::TIniFile(std::string file_name, std::string_view bytes, ReportOutput& output)
    : TCustomIniFile(std::move(file_name), false), output_(&output) {
  Load(bytes);
}

void TIniFile::Load(std::string_view bytes) {
  // A byte-order mark left in place would hide the first header and drop
  // the keys under it at the next rewrite. None is ever written back.
  sections_ = ParseLines(SplitLines(SkipByteOrderMark(bytes)));
  Prepare(true);
}

void TIniFile::PutText(std::string_view section, std::string_view key, std::string_view value) {
  CatchUpText();
  if (!section.empty() && !key.empty()) {
    std::size_t s = section_index_.Find(section);
    const bool new_section = s == NameIndex::npos;
    std::size_t k = new_section ? NameIndex::npos : key_indexes_[s].Find(key);
    const bool new_key = k == NameIndex::npos;

    // The line this write hands in must read back as one key of the same
    // section, and a new section's header as that section; anything else
    // restructures the model, which is then rebuilt whole.
    std::optional<TIniFileKey> rebuilt;
    if (settled_ && !(new_section && IsComment(section))) {
      const std::string_view name = new_key ? key : std::string_view(sections_[s]->Keys[k]->Name);
      if (!IsComment(name))
        rebuilt = RebuiltKey(name, value);
    }

    if (new_section) {
      s = sections_.size();
      sections_.push_back(
          std::make_unique<TIniFileSection>(TIniFileSection{std::string(section), {}}));
      section_index_.Append(section, s);
      key_indexes_.emplace_back();
    }
    TIniFileKeyList& keys = sections_[s]->Keys;
    std::size_t old_value_size = NameIndex::npos;
    if (new_key) {
      k = keys.size();
      keys.push_back(
          std::make_unique<TIniFileKey>(TIniFileKey{std::string(key), std::string(value)}));
      key_indexes_[s].Append(key, k);
    } else {
      old_value_size = keys[k]->Value.size();
      keys[k]->Value = value;
    }

    if (rebuilt) {
      change_ = PatchText(s, k, new_section, old_value_size, std::move(*rebuilt));
    } else {
      settled_ = false;
    }
  }
  RewriteFile();
}

void TIniFile::RewriteFile() {
  CatchUpText();
  // Until a change is settled the model is not; should anything below
  // fail, the next write builds the text afresh and rebuilds the model.
  const std::optional<Change> change = std::exchange(change_, std::nullopt);
  const bool patched = settled_;
  if (change)
    settled_ = false;
  if (!patched)
    BuildFileText(sections_, text_);
  // The file is replaced whole (new file beside it, renamed over), never
  // truncated and rewritten in place: a crash or a full disk mid-write
  // would otherwise lose the report. An output that fails at once leaves
  // the old file standing and the model with its untrimmed change for the
  // next write; one that writes later has taken the text and settles it.
  output_->Replace(file_name_, text_);
  if (!patched) {
    Rebuild();
  } else if (change) {
    Settle(*change);
    settled_ = true;
  }
}

void TIniFile::CatchUpText() {
  if (text_fix_) {
    const TextFix fix = std::move(*text_fix_);
    text_fix_.reset();
    const std::size_t line_at = layout_[fix.section].begin + layout_[fix.section].keys[fix.key];
    text_.replace(line_at, fix.written_size, fix.line);
    Shift(fix.section, fix.key,
          static_cast<std::ptrdiff_t>(fix.line.size()) -
              static_cast<std::ptrdiff_t>(fix.written_size));
  }
  if (relayout_) {
    relayout_ = false;
    BuildFileText(sections_, text_, &layout_);
  }
}

TIniFile::Change TIniFile::PatchText(std::size_t section, std::size_t key, bool new_section,
                                     std::size_t old_value_size, TIniFileKey rebuilt) {
  const TIniFileKey& written = *sections_[section]->Keys[key];
  if (new_section) {
    // The section before it is no longer the last one: an empty line now
    // follows it, unless it is a comment block.
    if (section > 0 && !IsComment(sections_[section - 1]->Name))
      text_ += "\r\n";
    const std::size_t begin = text_.size();
    text_ += '[';
    text_ += FlattenLineBreaks(sections_[section]->Name);
    text_ += "]\r\n";
    layout_.push_back({begin, text_.size() - begin, {}});
  }
  SectionLayout& place = layout_[section];
  if (old_value_size == NameIndex::npos) {
    std::string line = FlattenLineBreaks(written.Name);
    line += '=';
    line += FlattenLineBreaks(written.Value);
    const std::size_t written_size = line.size();
    line += "\r\n";
    text_.insert(place.begin + place.size, line);
    place.keys.push_back(place.size);
    place.size += line.size();
    for (std::size_t i = section + 1; i < layout_.size(); ++i)
      layout_[i].begin += line.size();
    return {section, key, written_size, std::move(rebuilt)};
  }
  // A replaced value; the name is settled, so it stands in the line as it is.
  const std::string value = FlattenLineBreaks(written.Value);
  const std::size_t value_at = place.begin + place.keys[key] + written.Name.size() + 1;
  text_.replace(value_at, old_value_size, value);
  Shift(section, key,
        static_cast<std::ptrdiff_t>(value.size()) - static_cast<std::ptrdiff_t>(old_value_size));
  return {section, key, written.Name.size() + 1 + value.size(), std::move(rebuilt)};
}

void TIniFile::Settle(const Change& change) {
  TIniFileSection& section = *sections_[change.section];
  TIniFileKey& key = *section.Keys[change.key];
  if (key.Name != change.rebuilt.Name || key.Value != change.rebuilt.Value) {
    std::string line = change.rebuilt.Name;
    line += '=';
    line += change.rebuilt.Value;
    text_fix_ = TextFix{change.section, change.key, change.written_size, std::move(line)};
  }
  if (key.Name != change.rebuilt.Name) {
    key_indexes_[change.section].RenameLast(key.Name, change.rebuilt.Name, change.key);
    key.Name = change.rebuilt.Name;
  }
  key.Value = change.rebuilt.Value;
  // A new section's header was written flattened, and reads back so.
  if (section.Name.find_first_of("\r\n") != std::string::npos) {
    std::string flat = FlattenLineBreaks(section.Name);
    section_index_.RenameLast(section.Name, flat, change.section);
    section.Name = std::move(flat);
  }
}

void TIniFile::Shift(std::size_t section, std::size_t key, std::ptrdiff_t delta) {
  if (delta == 0)
    return;
  const auto moved = [delta](std::size_t offset) {
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(offset) + delta);
  };
  SectionLayout& place = layout_[section];
  for (std::size_t i = key + 1; i < place.keys.size(); ++i)
    place.keys[i] = moved(place.keys[i]);
  place.size = moved(place.size);
  for (std::size_t i = section + 1; i < layout_.size(); ++i)
    layout_[i].begin = moved(layout_[i].begin);
}

void TIniFile::Rebuild() {
  // Rebuilt from the lines as built, not from the file; they hold no line
  // breaks, so this is also what the next load of the file will see.
  const std::vector<std::string_view> lines = SplitLines(text_);
  sections_ = ParseLines(lines);
  Prepare(false);
}

void TIniFile::Prepare(bool lay_out_now) {
  section_index_.Assign(sections_);
  key_indexes_.resize(sections_.size());
  for (std::size_t i = 0; i < sections_.size(); ++i)
    key_indexes_[i].Assign(sections_[i]->Keys);
  settled_ = IsSettled(sections_);
  if (settled_ && lay_out_now)
    BuildFileText(sections_, text_, &layout_);
  relayout_ = settled_ && !lay_out_now;
}

}  // namespace tarveld
