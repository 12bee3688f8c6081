// tarveld-aar on any journal and report bytes: the readers, the battle
// model and the page writer, as the program runs them.
//
// Input: one byte saying which files there are (bit 0 the journal, bit 1
// the report), two bytes of the journal's length, the journal's bytes, and
// the rest as the report's.
//
// Properties, besides no crash and no sanitizer report:
//   - the page is ASCII: every character of a file above 127 written as a
//     reference, so that a browser decodes the page on its fast path;
//   - it holds the page's own two script elements and no other;
//   - every text is escaped: outside those scripts every '<' opens a tag
//     the page writes, and every tag is a name and attributes of known
//     names with double-quoted values, so no byte of a file opened a tag,
//     ended a value or added an attribute.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "aar/battle.h"
#include "aar/html_page.h"
#include "aar/journal_reader.h"
#include "aar/report_reader.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "report/ini_text.h"

namespace {

bool IsAscii(std::string_view bytes) {
  for (const char byte : bytes) {
    if (static_cast<unsigned char>(byte) > 127)
      return false;
  }
  return true;
}

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

const std::set<std::string_view> kTags = {
    "html",    "head",  "meta",   "title",   "script",  "style", "body",  "header", "main",
    "footer",  "h1",    "h2",     "h3",      "p",       "ul",    "li",    "code",   "section",
    "span",    "div",   "dl",     "dt",      "dd",      "small", "a",     "table",  "caption",
    "thead",   "tbody", "tfoot",  "tr",      "th",      "td",    "strong", "figure", "figcaption",
    "svg",     "desc",  "text",   "line",    "path",    "circle", "button", "input", "label",
    "fieldset", "legend", "noscript", "colgroup", "col", "details", "summary"};

const std::set<std::string_view> kAttributes = {
    "lang",  "charset", "name",  "content", "class",   "id",       "href",    "style",  "colspan",
    "scope", "type",    "value", "checked", "hidden",  "placeholder", "role", "viewBox", "x",
    "y",     "x1",      "y1",    "x2",      "y2",      "cx",       "cy",      "r",      "d"};

// The tag at `at` (a '<'): its name known, its attributes known and their
// values double-quoted. Returns where it ends, or npos.
std::size_t CheckTag(std::string_view page, std::size_t at) {
  std::size_t i = at + 1;
  if (page.substr(i, 9) == "!DOCTYPE ")
    return page.find('>', i);
  if (i < page.size() && page[i] == '/')
    ++i;
  const std::size_t name_at = i;
  while (i < page.size() && IsNameChar(page[i]))
    ++i;
  FUZZ_CHECK(kTags.contains(page.substr(name_at, i - name_at)));
  while (i < page.size()) {
    if (page[i] == '>')
      return i;
    if (page.substr(i, 2) == "/>")
      return i + 1;
    FUZZ_CHECK(page[i] == ' ');
    ++i;
    const std::size_t attribute_at = i;
    while (i < page.size() && IsNameChar(page[i]))
      ++i;
    const std::string_view attribute = page.substr(attribute_at, i - attribute_at);
    FUZZ_CHECK(kAttributes.contains(attribute) || attribute.starts_with("data-") ||
               attribute.starts_with("aria-"));
    if (i < page.size() && page[i] == '=') {
      FUZZ_CHECK(i + 1 < page.size() && page[i + 1] == '"');
      const std::size_t end = page.find('"', i + 2);
      FUZZ_CHECK(end != std::string_view::npos);
      FUZZ_CHECK(page.substr(i + 2, end - i - 2).find('<') == std::string_view::npos);
      i = end + 1;
    }
  }
  return std::string_view::npos;
}

void CheckPage(std::string_view page) {
  FUZZ_CHECK(IsAscii(page));
  std::size_t scripts = 0;
  for (std::size_t at = page.find('<'); at != std::string_view::npos; at = page.find('<', at)) {
    const std::size_t end = CheckTag(page, at);
    FUZZ_CHECK(end != std::string_view::npos);
    if (page.substr(at, 8) == "<script>") {
      // The page's own script: its text is code, not file text.
      ++scripts;
      const std::size_t close = page.find("</script>", end);
      FUZZ_CHECK(close != std::string_view::npos);
      at = close + 9;
      continue;
    }
    at = end + 1;
  }
  FUZZ_CHECK(scripts == 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarveld::fuzz::FuzzInput input(data, size);
  const std::uint8_t files = input.Byte();
  const std::string_view journal_bytes = input.Take(input.Raw<std::uint16_t>());
  const std::string_view report_bytes = input.Rest();

  std::optional<tarveld::aar::JournalRead> journal;
  if ((files & 1) != 0)
    journal = tarveld::aar::ReadJournal(journal_bytes);
  std::optional<tarveld::aar::ReportRead> report;
  if ((files & 2) != 0) {
    const std::vector<std::string_view> lines = tarveld::SplitLines(report_bytes);
    report = tarveld::aar::ReadReportSections(tarveld::ParseLines(lines));
  }
  const tarveld::aar::AfterAction after =
      tarveld::aar::BuildAfterActionFrom(std::move(journal), report ? &*report : nullptr);
  CheckPage(tarveld::aar::RenderPage(after));
  return 0;
}
