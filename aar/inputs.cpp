#include "aar/inputs.h"

#include <utility>

#include "aar/os.h"
#include "platform/platform.h"
#include "plugin/file_names.h"
#include "report/exceptions.h"

namespace tarveld::aar {
namespace {

std::string Megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB";
}

// Why a path that is there is no file to read, or empty when it is one.
std::string NotAFile(const FileFacts& facts) {
  switch (facts.kind) {
    case FileKind::kDirectory:
      return "it is a folder";
    case FileKind::kOther:
      return "it is not a regular file";
    case FileKind::kMissing:
    case FileKind::kRegular:
      break;
  }
  return {};
}

std::string CannotRead(const std::string& path, const std::string& reason) {
  return "cannot read " + path + ": " + reason;
}

}  // namespace

bool HasInputs(const std::string& directory) {
  return FactsOf(JoinPath(directory, kReportFileName)).kind != FileKind::kMissing ||
         FactsOf(JoinPath(directory, kJournalFileName)).kind != FileKind::kMissing;
}

bool ReadInputs(const std::string& directory, Inputs& inputs, std::string& error) {
  inputs.report_path = JoinPath(directory, kReportFileName);
  inputs.journal_path = JoinPath(directory, kJournalFileName);

  const FileFacts report = FactsOf(inputs.report_path);
  const FileFacts journal = FactsOf(inputs.journal_path);
  for (const auto& [path, facts] :
       {std::pair{&inputs.report_path, &report}, std::pair{&inputs.journal_path, &journal}}) {
    if (!NotAFile(*facts).empty()) {
      error = CannotRead(*path, NotAFile(*facts));
      return false;
    }
  }
  if (journal.size > kLargestJournal) {
    error = CannotRead(inputs.journal_path, "it is " + Megabytes(journal.size) +
                                                ", and this program reads journals of up to " +
                                                Megabytes(kLargestJournal));
    return false;
  }

  if (report.kind == FileKind::kRegular) {
    try {
      inputs.report = ReadReportFile(inputs.report_path);
    } catch (const EFOpenError& failure) {
      error =
          CannotRead(inputs.report_path, failure.OsError() != 0 ? SystemErrorText(failure.OsError())
                                                                : "it could not be opened");
      return false;
    }
  }
  if (journal.kind == FileKind::kRegular) {
    std::string bytes;
    const platform::IoResult result = platform::Current().ReadFile(inputs.journal_path, bytes);
    if (!result.ok()) {
      error = CannotRead(inputs.journal_path, SystemErrorText(result.os_error));
      return false;
    }
    inputs.journal = ReadJournal(bytes);
  }
  return true;
}

}  // namespace tarveld::aar
