// Where the page may go. The page is written by replacing a file, so an
// --out that names the report or the journal (spelled another way, through
// a link, or as a second hard link) would put the page in place of the
// battle's record; one that names a device or a FIFO would have the
// replacement turn it into a plain file. Either is refused before anything
// is written.
#pragma once

#include <string>
#include <vector>

namespace tarveld::aar {

// True when the page may be written to `out`; otherwise false with `error`
// saying why ("--out PATH is the journal Tarveld.log: ...").
bool CheckOutputPath(const std::string& out, const std::vector<std::string>& inputs,
                     std::string& error);

}  // namespace tarveld::aar
