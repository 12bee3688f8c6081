// The INI store: an ordered model of one INI file's sections and keys. Every
// write changes the model, rewrites the whole file from it and rebuilds the
// model from the lines just written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

using TIniFileSectionList = std::vector<std::unique_ptr<TIniFileSection>>;

class TCustomIniFile {
 public:
  TCustomIniFile(std::string file_name, bool line_continuation);
  virtual ~TCustomIniFile();

  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  // Sets the key's value (adding section and key when missing), then
  // rewrites the file. Raises EFCreateError or EWriteError when the file
  // cannot be replaced; the model then keeps the change.
  virtual void PutText(std::string_view section, std::string_view key, std::string_view value) = 0;

  // PutText with the value's decimal text.
  void PutInteger(std::string_view section, std::string_view key, std::int32_t value);

  virtual void RewriteFile() = 0;

  const std::string& FileName() const { return file_name_; }
  const TIniFileSectionList& Sections() const { return sections_; }

 protected:
  std::string file_name_;
  TIniFileSectionList sections_;
  bool line_continuation_;
};

class TIniFile : public TCustomIniFile {
 public:
  // Opens the store on `file_name`: reads and parses the file when it
  // exists (EFOpenError when it exists but cannot be opened); an absent
  // file, or a directory, gives an empty store.
  explicit TIniFile(std::string file_name, bool line_continuation = false);

  void PutText(std::string_view section, std::string_view key, std::string_view value) override;
  void RewriteFile() override;
};

}  // namespace tarveld
