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

namespace {

// A text the output holds and has not put on disk yet is the newest: the
// disk would give an older report, which the next rewrite would bring
// back. Otherwise the file; an absent one, or a directory, gives an empty
// store, and the first write creates the file. True when the newest text
// is `known`'s, `bytes` then left empty.
bool ReadNewest(const std::string& file_name, ReportOutput& output, const std::string_view* known,
                std::string& bytes) {
  platform::Platform& os = platform::Current();
  bytes.clear();
  bool same = false;
  if (output.NewestText(file_name, bytes) || !os.IsExistingFile(file_name)) {
    same = known != nullptr && bytes == *known;
  } else {
    const platform::IoResult read = known != nullptr
                                        ? os.ReadFileUnlessSame(file_name, *known, bytes, same)
                                        : os.ReadFile(file_name, bytes);
    if (!read.ok())
      throw EFOpenError("Unable to open file \"" + file_name + "\"", read.os_error);
  }
  if (same)
    bytes.clear();
  return same;
}

}  // namespace

std::string ReadStoreFile(const std::string& file_name, ReportOutput& output) {
  std::string bytes;
  ReadNewest(file_name, output, nullptr, bytes);
  return bytes;
}

bool ReadStoreFileUnlessSame(const std::string& file_name, ReportOutput& output,
                             std::string_view known, std::string& bytes) {
  return ReadNewest(file_name, output, &known, bytes);
}

TIniFile::TIniFile(std::string file_name, bool line_continuation, ReportOutput& output)
    : TCustomIniFile(std::move(file_name), line_continuation), output_(&output) {
  Load(ReadStoreFile(file_name_, output));
}

TIniFile::TIniFile(std::string file_name, std::string&& bytes, ReportOutput& output)
    : TCustomIniFile(std::move(file_name), false), output_(&output) {
  Load(std::move(bytes));
}

namespace {

constexpr std::size_t npos = IniTextIndex::npos;

// The key line BuildFileText writes for a key named `name` holding `value`.
std::string KeyLineText(std::string_view name, std::string_view value) {
  std::string line = FlattenLineBreaks(name);
  if (!IsComment(name)) {
    line += '=';
    line += FlattenLineBreaks(value);
  }
  line += "\r\n";
  return line;
}

// A line that reads as a header moves every key after it to a new section.
bool ReadsAsHeader(std::string_view line) {
  std::string_view name;
  return ReadHeader(Trim(line), name);
}

}  // namespace

void TIniFile::Load(std::string bytes) {
  parsed_.reset();
  text_ = std::move(bytes);
  // The store's own text, and any text in its form, is its model's text
  // already, but for the key line its last write left as handed, trimmed
  // here (a session that ended on ScenLoad leaves "Scenario =..."). Any
  // other text (another program's, or one with a byte-order mark, which
  // left in place would hide the first header and drop the keys under it)
  // is read into its model and laid out from that.
  if (index_.Assign(text_)) {
    indexed_ = true;
    for (const IniTextIndex::KeyPlace& place : index_.Untrimmed())
      TrimLine(place.section, place.key);
    return;
  }
  Adopt(ParseLines(SplitLines(SkipByteOrderMark(text_))));
}

void TIniFile::Adopt(TIniFileSectionList model) {
  BuildFileText(model, text_);
  fix_.reset();
  refresh_ = false;
  if (IsSettled(model) && index_.Assign(text_)) {
    indexed_ = true;
    model_.reset();
    return;
  }
  indexed_ = false;
  section_index_.Assign(model);
  key_indexes_.assign(model.size(), {});
  for (std::size_t i = 0; i < model.size(); ++i)
    key_indexes_[i].Assign(model[i]->Keys);
  model_ = std::move(model);
}

const TIniFileSectionList& TIniFile::Sections() const {
  if (model_)
    return *model_;
  if (!parsed_)
    parsed_ = ParseLines(SplitLines(text_));
  return *parsed_;
}

void TIniFile::PutText(std::string_view section, std::string_view key, std::string_view value) {
  Write(section, key, value);
}

void TIniFile::RewriteFile() {
  Write({}, {}, {});
}

void TIniFile::CatchUpText() {
  if (refresh_) {
    Adopt(ParseLines(SplitLines(text_)));
    return;
  }
  if (fix_) {
    TrimLine(fix_->section, fix_->key);
    fix_.reset();
  }
}

void TIniFile::TrimLine(std::size_t section, std::size_t key) {
  const std::size_t at = index_.KeyOffset(section, key);
  const std::string_view line = IniTextIndex::LineAt(text_, at);
  const KeyLine read = ReadKeyLine(Trim(line));
  std::string trimmed(read.name);
  if (!read.comment) {
    trimmed += '=';
    trimmed += read.value;
  }
  const std::size_t old_size = line.size();
  text_.replace(at, old_size, trimmed);
  index_.Resize(
      section, key,
      static_cast<std::ptrdiff_t>(trimmed.size()) - static_cast<std::ptrdiff_t>(old_size));
}

void TIniFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  CatchUpText();
  parsed_.reset();
  if (!indexed_) {
    WriteModel(section, key, value);
    return;
  }
  std::optional<Change> change;
  if (!section.empty() && !key.empty())
    change = Patch(section, key, value);
  // The file is replaced whole (new file beside it, renamed over), never
  // truncated and rewritten in place: a crash or a full disk mid-write
  // would otherwise lose the report. An output that fails at once leaves
  // the old file standing and the model with its change as handed in for
  // the next write; one that writes later has taken the text.
  try {
    output_->Replace(file_name_, text_);
  } catch (...) {
    if (change && !ReadsBackAsHanded(*change)) {
      KeepAsHanded(*change);
    } else if (change) {
      Follow(*change);
    }
    throw;
  }
  if (change)
    Follow(*change);
}

TIniFile::Change TIniFile::Patch(std::string_view section, std::string_view key,
                                 std::string_view value) {
  Change change{section, key, value, index_.FindSection(text_, section), npos, 0, 0, {}, 0, 0, 0};
  if (change.section != npos)
    change.key = index_.FindKey(text_, change.section, key);

  std::string inserted;
  if (change.section == npos) {
    // A new last section. The one before it is no longer the last: an
    // empty line now follows it, unless it is the comment block.
    const std::size_t count = index_.SectionCount();
    if (count > 0 && !IsComment(IniTextIndex::LineAt(text_, index_.Section(count - 1).begin)))
      inserted += "\r\n";
    change.header_at = text_.size() + inserted.size();
    if (IsComment(section)) {
      inserted += FlattenLineBreaks(section);
    } else {
      inserted += '[';
      inserted += FlattenLineBreaks(section);
      inserted += ']';
    }
    inserted += "\r\n";
    change.header_size = text_.size() + inserted.size() - change.header_at;
    change.at = text_.size();
    change.line_at = change.at + inserted.size();
    inserted += KeyLineText(key, value);
  } else if (change.key == npos) {
    const IndexedSection& place = index_.Section(change.section);
    change.at = place.begin + place.size;
    change.line_at = change.at;
    inserted = KeyLineText(key, value);
  } else {
    // A replaced value. The name stands in the line as the model has it.
    change.line_at = index_.KeyOffset(change.section, change.key);
    const std::string_view line = IniTextIndex::LineAt(text_, change.line_at);
    const std::size_t name_size = ReadKeyLine(line).name.size();
    change.at = change.line_at + name_size + 1;
    change.removed = line.substr(name_size + 1);
    inserted = FlattenLineBreaks(value);
  }
  text_.replace(change.at, change.removed.size(), inserted);
  change.inserted = inserted.size();
  return change;
}

void TIniFile::Follow(const Change& change) {
  std::size_t s = change.section;
  if (s == npos) {
    if (IsComment(change.section_name)) {
      refresh_ = true;  // a bare comment line, no header: the keys above it gain it
      return;
    }
    index_.AppendSection(text_, change.header_at, change.header_size);
    s = index_.SectionCount() - 1;
  }
  const std::string_view line = IniTextIndex::LineAt(text_, change.line_at);
  if (ReadsAsHeader(line)) {
    refresh_ = true;
    return;
  }
  std::size_t k = change.key;
  if (k == npos) {
    index_.AppendKey(text_, s, line.size() + 2);
    k = index_.Section(s).keys.size() - 1;
  } else {
    index_.Resize(s, k,
                  static_cast<std::ptrdiff_t>(change.inserted) -
                      static_cast<std::ptrdiff_t>(change.removed.size()));
  }
  // Read back, the line comes trimmed; the next change writes it so.
  const KeyLine key = ReadKeyLine(Trim(line));
  const std::size_t settled_size =
      key.comment ? key.name.size() : key.name.size() + 1 + key.value.size();
  if (settled_size != line.size())
    fix_ = Fix{s, k};
}

bool TIniFile::ReadsBackAsHanded(const Change& change) const {
  if (change.section == npos &&
      (IsComment(change.section_name) || change.section_name.find_first_of("\r\n") != npos)) {
    return false;
  }
  const std::string_view line = IniTextIndex::LineAt(text_, change.line_at);
  if (ReadsAsHeader(line))
    return false;
  const KeyLine key = ReadKeyLine(Trim(line));
  if (change.key == npos &&
      (key.comment != IsComment(change.key_name) || key.name != change.key_name)) {
    return false;
  }
  return key.value == change.value;
}

void TIniFile::KeepAsHanded(const Change& change) {
  // The model before the change is what the text without it reads as.
  const std::string inserted = text_.substr(change.at, change.inserted);
  text_.replace(change.at, change.inserted, change.removed);
  TIniFileSectionList model = ParseLines(SplitLines(text_));
  text_.replace(change.at, change.removed.size(), inserted);

  std::size_t s = change.section;
  if (s == npos) {
    s = model.size();
    model.push_back(
        std::make_unique<TIniFileSection>(TIniFileSection{std::string(change.section_name), {}}));
  }
  TIniFileKeyList& keys = model[s]->Keys;
  if (change.key == npos) {
    keys.push_back(std::make_unique<TIniFileKey>(
        TIniFileKey{std::string(change.key_name), std::string(change.value)}));
  } else {
    keys[change.key]->Value = change.value;
  }
  const std::string written = std::move(text_);
  Adopt(std::move(model));
  text_ = written;  // as it went to the output
}

void TIniFile::WriteModel(std::string_view section, std::string_view key, std::string_view value) {
  TIniFileSectionList& model = *model_;
  if (!section.empty() && !key.empty()) {
    std::size_t s = section_index_.Find(section);
    if (s == NameIndex::npos) {
      s = model.size();
      model.push_back(std::make_unique<TIniFileSection>(TIniFileSection{std::string(section), {}}));
      section_index_.Append(section, s);
      key_indexes_.emplace_back();
    }
    TIniFileKeyList& keys = model[s]->Keys;
    const std::size_t k = key_indexes_[s].Find(key);
    if (k == NameIndex::npos) {
      keys.push_back(
          std::make_unique<TIniFileKey>(TIniFileKey{std::string(key), std::string(value)}));
      key_indexes_[s].Append(key, keys.size() - 1);
    } else {
      keys[k]->Value = value;
    }
  }
  BuildFileText(model, text_);
  output_->Replace(file_name_, text_);
  // Written: the model is what the lines written read back as.
  model_.reset();
  refresh_ = true;
}

}  // namespace tarveld
