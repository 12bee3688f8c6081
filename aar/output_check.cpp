#include "aar/output_check.h"

#include "aar/os.h"

namespace tarveld::aar {

bool CheckOutputPath(const std::string& out, const std::vector<std::string>& inputs,
                     std::string& error) {
  const FileKind kind = FactsOf(out).kind;
  if (kind == FileKind::kMissing)
    return true;
  if (kind != FileKind::kRegular) {
    error = "will not write the page to " + out + ": it is " +
            (kind == FileKind::kDirectory ? "a folder" : "not a regular file") +
            "; nothing was changed";
    return false;
  }
  for (const std::string& input : inputs) {
    if (SameFile(out, input)) {
      error = "will not write the page to " + out + ": it is " + input +
              ", which the page is made from; nothing was changed";
      return false;
    }
  }
  return true;
}

}  // namespace tarveld::aar
