// The page's style sheet and scripts, kept apart from the code that writes
// the page so that each reads as what it is.
#pragma once

#include <string_view>

namespace tarveld::aar {

// The style sheet: screen and print.
extern const std::string_view kPageStyle;

// Runs first, in the head: notes every script error the page meets in the
// attribute data-script-errors of the root element, so that a browser test
// sees one in the document it dumps.
extern const std::string_view kErrorRecorderScript;

// Runs last: shows each message log a page of rows at a time, from the
// rows its <noscript> block holds, with a filter box; for printing, every
// matching row. It reads the first page's rows before the page is shown,
// and the rest while the browser is idle, or at once when something needs
// them all. The page is complete without it. When done it sets
// data-script="ready" on the root element, and data-shown (the rows that
// match) on each log. A query "?filter=words" fills every filter box, so a
// search can be bookmarked (and tested).
extern const std::string_view kPageScript;

}  // namespace tarveld::aar
