// Reading the two files of one game folder: the report Tarveld.txt through
// the INI store, the journal Tarveld.log through the platform seam. Either
// may be missing; one that is there but cannot be read (locked by another
// program, no permission, a folder of that name) is an error the player is
// told about with the file's path and the system's reason, never a page
// made without it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "aar/journal_reader.h"
#include "aar/report_reader.h"

namespace tarveld::aar {

struct Inputs {
  std::string report_path;
  std::string journal_path;
  std::optional<ReportRead> report;    // nothing when the file is missing
  std::optional<JournalRead> journal;  // nothing when the file is missing
};

// The largest journal read. Making the page holds the journal's bytes, its
// lines read and the page at once: under wine the 32-bit program peaked at
// 3.7 times a journal of 312 MB, and ran out of memory reading one of
// 350 MB, whose bytes and room to grow find no free block that large in
// 2 GB of address space. It reads up to 300 MB, and says so of a larger
// journal before it tries. Elsewhere memory is the limit, and running out
// of it is a failure named like any other.
inline constexpr std::uint64_t kLargestJournal =
    sizeof(void*) == 4 ? std::uint64_t{300} << 20 : std::uint64_t{16} << 30;

// True when `directory` holds either file (or something by its name).
bool HasInputs(const std::string& directory);

// Reads both files from `directory`. False with `error` set ("cannot read
// PATH: reason") when one is there but cannot be read.
bool ReadInputs(const std::string& directory, Inputs& inputs, std::string& error);

}  // namespace tarveld::aar
