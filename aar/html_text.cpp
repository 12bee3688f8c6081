#include "aar/html_text.h"

#include <cstdint>
#include <string>

#include "aar/windows_1252.h"

namespace tarveld::aar {

void AppendHtml(std::string& out, std::string_view bytes) {
  for (const char byte : bytes) {
    switch (byte) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\r':
      case '\n':
        // White space to a browser; kept out so that a line of the page
        // never ends inside a text.
        out += ' ';
        break;
      default:
        // Plain ASCII is most of every file: keep it off the table lookup.
        // Any other character is written as a reference: one byte above 127
        // anywhere puts the whole page on a browser's slow decoding path,
        // a fifth of a second for a long journal's page.
        if ((byte >= 0x20 && byte < 0x7F) || byte == '\t') {
          out += byte;
        } else {
          out += "&#";
          out += std::to_string(
              static_cast<std::uint32_t>(CharacterOfWindows1252(static_cast<unsigned char>(byte))));
          out += ';';
        }
    }
  }
}

void AppendHtmlShortened(std::string& out, std::string_view bytes, std::size_t limit) {
  if (bytes.size() <= limit) {
    AppendHtml(out, bytes);
    return;
  }
  AppendHtml(out, bytes.substr(0, limit));
  out += "&#8230;";
}

}  // namespace tarveld::aar
