// Counting what a page or a file holds.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarveld::testing {

// How many times `what` stands in `text`, without overlaps.
inline std::size_t Occurrences(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + what.size()))
    ++count;
  return count;
}

}  // namespace tarveld::testing
