// Where a store's rewrites go: straight to the file, or to something that
// puts them there later (the plug-in's report writer). A store asks its
// output for the newest text of its file before it reads the disk, so a
// text handed over and not yet written is never read past.
#pragma once

#include <string>
#include <string_view>

namespace tarveld {

class ReportOutput {
 public:
  virtual ~ReportOutput() = default;

  // True, with the text in `newest`, when a text handed to Replace for
  // `path` may not be on disk yet; false when the disk holds the newest.
  virtual bool NewestText(const std::string& path, std::string& newest) = 0;

  // Makes `text` the whole content of `path`, now or later, the way the
  // platform's ReplaceFile does: old or new, never a part. An output that
  // writes at once raises EFCreateError or EWriteError when it cannot.
  virtual void Replace(const std::string& path, std::string_view text) = 0;
};

// Writes at once on the calling thread through the platform, and raises
// the store's exceptions on failure; it never holds a text back.
ReportOutput& DirectOutput();

}  // namespace tarveld
