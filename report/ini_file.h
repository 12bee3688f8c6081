// The INI store: an ordered model of one INI file's sections and keys. Every
// write changes the model, rewrites the whole file from it and rebuilds the
// model from the lines just written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/ini_text.h"
#include "report/report_output.h"

namespace tarveld {

class TCustomIniFile {
 public:
  TCustomIniFile(std::string file_name, bool line_continuation);
  virtual ~TCustomIniFile();

  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  // Sets the key's value (adding section and key when missing, named
  // exactly as handed in), then rewrites the file. An empty section or key
  // name leaves the model as it is but still rewrites. Raises EFCreateError
  // or EWriteError when the file cannot be replaced; the model then keeps
  // the change as handed in, and the next successful write writes it too.
  virtual void PutText(std::string_view section, std::string_view key, std::string_view value) = 0;

  // PutText with the value's decimal text.
  void PutInteger(std::string_view section, std::string_view key, std::int32_t value);

  // Replaces the whole file with the model's text, then rebuilds the model
  // from the lines written (so names and values come back trimmed).
  virtual void RewriteFile() = 0;

  const std::string& FileName() const { return file_name_; }
  const TIniFileSectionList& Sections() const { return sections_; }
  bool LineContinuation() const { return line_continuation_; }

 protected:
  std::string file_name_;
  TIniFileSectionList sections_;
  bool line_continuation_;
};

// The bytes a store on `file_name` starts from: what `output` still holds
// of it, else the file on disk; none for an absent file or a directory.
// EFOpenError when the file exists but cannot be read.
std::string ReadStoreFile(const std::string& file_name, ReportOutput& output);

class TIniFile : public TCustomIniFile {
 public:
  // Opens the store on `file_name`: parses the newest text of the file,
  // which is what `output` still holds of it or else the file on disk
  // (EFOpenError when it exists but cannot be opened); an absent file, or a
  // directory, gives an empty store. Every rewrite goes to `output`.
  explicit TIniFile(std::string file_name, bool line_continuation = false,
                    ReportOutput& output = DirectOutput());
  // Opens the store on `file_name` from `bytes`, that file's content as
  // read by ReadStoreFile.
  TIniFile(std::string file_name, std::string_view bytes, ReportOutput& output);

  void PutText(std::string_view section, std::string_view key, std::string_view value) override;
  void RewriteFile() override;

  // The file's text as the last rewrite handed it to the output (after
  // opening, the model's own).
  const std::string& Text() const { return text_; }

 private:
  // A write patched into text_, for the rewrite to settle without a
  // rebuild: the key it handed in (and its section, when new) is the only
  // item whose rebuilt form can differ, and that form is known in advance.
  struct Change {
    std::size_t section;
    std::size_t key;
    std::size_t written_size;  // bytes of the key's line as written, less CR LF
    TIniFileKey rebuilt;
  };

  // Puts the change PutText just made to the model into text_, as written.
  // The key is the one at `key` in section `section`; `old_value_size` is
  // the length of a replaced value, npos for a new key.
  Change PatchText(std::size_t section, std::size_t key, bool new_section,
                   std::size_t old_value_size, TIniFileKey rebuilt);
  // Turns the written change into its rebuilt form in the model, and
  // leaves what it changes in text_ for CatchUpText.
  void Settle(const Change& change);
  // Brings text_, still the text of the last rewrite, to the model's own.
  void CatchUpText();
  // Makes the model what `bytes`, a file's content, describe.
  void Load(std::string_view bytes);
  // Replaces the model with what the lines of text_ read back as.
  void Rebuild();
  // Indexes the whole model; when it is settled, lays out text_ for it,
  // now or at the next change.
  void Prepare(bool lay_out_now);
  // Moves every line after key `key` of section `section` by `delta` bytes.
  void Shift(std::size_t section, std::size_t key, std::ptrdiff_t delta);

  // Where every rewrite goes, and where the newest text is asked for first.
  ReportOutput* output_;

  // The report only grows, and the host's thread pays for every write's
  // model and text, so a write must cost little beside copying the text.
  // While the model is settled (IsSettled: rebuilding it from its own lines
  // gives it back), text_ holds exactly its file text and layout_ where
  // each line of that stands; a write patches the line it changes, and the
  // rebuild touches only what that write handed in. Otherwise (a foreign file, a write that would
  // restructure the model, a change left by a failed write) text_ is built
  // afresh and the model rebuilt whole from it. Lookups go through the
  // indexes, which always follow the model.
  NameIndex section_index_;
  std::vector<NameIndex> key_indexes_;  // one per section
  std::string text_;
  std::vector<SectionLayout> layout_;
  bool settled_ = false;
  std::optional<Change> change_;

  // text_ stays the text of the last rewrite, as it went to the output,
  // until the next change: a writer that writes later writes what the
  // store produced. Then the rebuilt form of the rewrite's key line
  // replaces the line as written, or a rebuilt model lays text_ out anew.
  struct TextFix {
    std::size_t section;
    std::size_t key;
    std::size_t written_size;
    std::string line;
  };
  std::optional<TextFix> text_fix_;
  bool relayout_ = false;
};

}  // namespace tarveld
