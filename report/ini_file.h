// The INI store: an ordered model of one INI file's sections and keys. Every
// write changes the model, rewrites the whole file from it and rebuilds the
// model from the lines just written.
//
// The store is kept as its file's text: a report of a million keys costs
// its text and an index of a few bytes a key (ini_index.h), and a write
// patches the line it changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/ini_index.h"
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

  // The model: sections and keys in file order. It stays valid until the
  // next write.
  virtual const TIniFileSectionList& Sections() const = 0;

  const std::string& FileName() const { return file_name_; }
  bool LineContinuation() const { return line_continuation_; }

 protected:
  std::string file_name_;
  bool line_continuation_;
};

// The bytes a store on `file_name` starts from: what `output` still holds
// of it, else the file on disk; none for an absent file or a directory.
// EFOpenError when the file exists but cannot be read.
std::string ReadStoreFile(const std::string& file_name, ReportOutput& output);

// ReadStoreFile for a store that holds `known`, the text it last wrote to
// `file_name`: true, with `bytes` left empty, when that is still the
// newest text, found without a second copy of it; otherwise false, with
// `bytes` as ReadStoreFile gives them.
bool ReadStoreFileUnlessSame(const std::string& file_name, ReportOutput& output,
                             std::string_view known, std::string& bytes);

class TIniFile : public TCustomIniFile {
 public:
  // Opens the store on `file_name`: parses the newest text of the file,
  // which is what `output` still holds of it or else the file on disk
  // (EFOpenError when it exists but cannot be opened); an absent file, or a
  // directory, gives an empty store. Every rewrite goes to `output`.
  explicit TIniFile(std::string file_name, bool line_continuation = false,
                    ReportOutput& output = DirectOutput());
  // Opens the store on `file_name` from `bytes`, that file's content as
  // read by ReadStoreFile; a text in the store's own form is kept as it is,
  // not copied.
  TIniFile(std::string file_name, std::string&& bytes, ReportOutput& output);

  void PutText(std::string_view section, std::string_view key, std::string_view value) override;
  void RewriteFile() override;
  const TIniFileSectionList& Sections() const override;

  // The file's text as the last rewrite handed it to the output (after
  // opening, the model's own).
  const std::string& Text() const { return text_; }

  // Whether the next write patches the text rather than building it from a
  // model (tests that must cover both ways).
  bool KeptAsTextForTesting() const { return indexed_ && !refresh_; }

 private:
  // A write's change of text_: `inserted` bytes at `at` where `removed`
  // stood; the key line it wrote starts at `line_at`.
  struct Change {
    std::string_view section_name, key_name, value;  // as handed in
    std::size_t section, key;                        // npos when new
    std::size_t at, inserted;
    std::string removed;
    std::size_t header_at, header_size;  // a new section's header line
    std::size_t line_at;
  };

  void Load(std::string bytes);
  void Write(std::string_view section, std::string_view key, std::string_view value);
  // Makes `model` the store's, and text_ its text: indexed when that text
  // reads back as the model, otherwise the model is kept as a model.
  void Adopt(TIniFileSectionList model);
  // Brings text_, still the text of the last rewrite, to the model's own.
  void CatchUpText();
  // Puts key line `key` of `section` in its trimmed form, as written back.
  void TrimLine(std::size_t section, std::size_t key);
  // Puts the change into the indexed text_, as BuildFileText would write it.
  Change Patch(std::string_view section, std::string_view key, std::string_view value);
  // The index follows the written change.
  void Follow(const Change& change);
  // Whether the model the text reads as holds the change as handed in.
  bool ReadsBackAsHanded(const Change& change) const;
  // A failed write of a change that reads back otherwise: the model keeps
  // the change as handed in, as a model.
  void KeepAsHanded(const Change& change);
  // A write while the store is kept as a model.
  void WriteModel(std::string_view section, std::string_view key, std::string_view value);

  // Where every rewrite goes, and where the newest text is asked for first.
  ReportOutput* output_;

  // text_ is the file's text; while the store is indexed, the model is
  // what ParseLines reads from it, and index_ says where each of its
  // sections and keys stands. After a write text_ stays exactly as it went
  // to the output until the next change: a writer that writes later
  // writes what the store produced. Then the key line it handed in is put
  // in its trimmed form (fix_), or, when the write restructured the model
  // (a line that reads as a header, say), text_ is laid out anew from the
  // model it reads as (refresh_).
  std::string text_;
  IniTextIndex index_;
  bool indexed_ = false;
  struct Fix {
    std::size_t section;
    std::size_t key;
  };
  std::optional<Fix> fix_;
  bool refresh_ = false;

  // Rarely, the model is not what its own text reads back as: a foreign
  // file whose model does not survive a rewrite, or a failed write that
  // leaves a change as it was handed in. It is then kept as a model,
  // looked up through name indexes, and the whole text built from it at
  // each write, until one succeeds.
  std::optional<TIniFileSectionList> model_;
  NameIndex section_index_;
  std::vector<NameIndex> key_indexes_;  // one per section of model_

  // Sections() of an indexed store, read from the text when asked for.
  mutable std::optional<TIniFileSectionList> parsed_;
};

}  // namespace tarveld
