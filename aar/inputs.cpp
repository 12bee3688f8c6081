#include "aar/inputs.h"

#include "aar/html_page.h"
#include "aar/os.h"
#include "platform/platform.h"
#include "report/exceptions.h"

namespace tarveld::aar {
namespace {

enum class Presence { kMissing, kFile, kDirectory };

Presence PresenceOf(const std::string& path) {
  if (platform::Current().IsExistingFile(path))
    return Presence::kFile;
  return IsDirectory(path) ? Presence::kDirectory : Presence::kMissing;
}

std::string CannotRead(const std::string& path, const std::string& reason) {
  return "cannot read " + path + ": " + reason;
}

// The reason the seam gives for `path`, asked once more after the store
// failed to open it: the store's own message says only that it failed.
std::string ReasonOfFailedRead(const std::string& path) {
  std::string ignored;
  const platform::IoResult result = platform::Current().ReadFile(path, ignored);
  return result.ok() ? "it could not be opened" : SystemErrorText(result.os_error);
}

}  // namespace

bool HasInputs(const std::string& directory) {
  return PresenceOf(JoinPath(directory, kReportFileName)) != Presence::kMissing ||
         PresenceOf(JoinPath(directory, kJournalFileName)) != Presence::kMissing;
}

bool ReadInputs(const std::string& directory, Inputs& inputs, std::string& error) {
  inputs.report_path = JoinPath(directory, kReportFileName);
  inputs.journal_path = JoinPath(directory, kJournalFileName);

  switch (PresenceOf(inputs.report_path)) {
    case Presence::kMissing:
      break;
    case Presence::kDirectory:
      error = CannotRead(inputs.report_path, "it is a folder");
      return false;
    case Presence::kFile:
      try {
        inputs.report = ReadReportFile(inputs.report_path);
      } catch (const EFOpenError&) {
        error = CannotRead(inputs.report_path, ReasonOfFailedRead(inputs.report_path));
        return false;
      }
      break;
  }

  switch (PresenceOf(inputs.journal_path)) {
    case Presence::kMissing:
      break;
    case Presence::kDirectory:
      error = CannotRead(inputs.journal_path, "it is a folder");
      return false;
    case Presence::kFile: {
      std::string bytes;
      const platform::IoResult result = platform::Current().ReadFile(inputs.journal_path, bytes);
      if (!result.ok()) {
        error = CannotRead(inputs.journal_path, SystemErrorText(result.os_error));
        return false;
      }
      inputs.journal = ReadJournal(bytes);
      break;
    }
  }
  return true;
}

}  // namespace tarveld::aar
