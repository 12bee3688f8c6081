// Texts from the game's files, put into the page. Every byte that reaches
// the page from a file goes through here: nothing in a message, a scenario
// or a group name can open a tag, end an attribute or break the encoding.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarveld::aar {

// Appends `bytes` (Windows-1252) as ASCII: & < > " ' and every character
// above 127 written as character references, safe as element text and as a
// quoted attribute value alike. CR and LF become spaces, so a text never
// breaks a line of the page, and tab is kept.
void AppendHtml(std::string& out, std::string_view bytes);

// AppendHtml of at most the first `limit` bytes, with "…" when cut. The
// code page has one byte per character, so a cut never splits one.
void AppendHtmlShortened(std::string& out, std::string_view bytes, std::size_t limit);

}  // namespace tarveld::aar
