// The sample report in README.md ("What the report holds") against the
// report a replay of the example it names really leaves. A sample no run
// produces teaches a newcomer the wrong layout; this keeps the two equal,
// all but the moment the report was begun.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "host_process.h"

namespace tarveld::testing {
namespace {

namespace fs = std::filesystem;

// The section of `readme` under the heading `heading`, up to the next
// heading of the same level; empty when there is none.
std::string Section(const std::string& readme, const std::string& heading) {
  const std::size_t start = readme.find("\n" + heading + "\n");
  if (start == std::string::npos)
    return "";
  const std::size_t end = readme.find("\n## ", start + 1);
  return readme.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The text inside the first ``` fence of `section`, lines ended by LF.
std::string FirstBlock(const std::string& section) {
  const std::size_t open = section.find("\n```\n");
  if (open == std::string::npos)
    return "";
  const std::size_t body = open + 5;
  const std::size_t close = section.find("\n```\n", body - 1);
  return close == std::string::npos ? "" : section.substr(body, close + 1 - body);
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n')
      out += '\r';
    out += c;
  }
  return out;
}

// `report` with its Actual Date value, which must have the shape of the
// local date and time in the C locale's picture (m/d/yy h:nn:ss, the time
// left out at midnight), replaced by a mark; `report` unchanged when no
// line has that shape, so the comparison then fails on it.
std::string WithoutActualDate(const std::string& report) {
  static const std::regex kValue(
      "(\\r?\\nActual Date=)\\d{1,2}/\\d{1,2}/\\d{2}(?: \\d{1,2}:\\d{2}:\\d{2})?(\\r?\\n)");
  return std::regex_replace(report, kValue, "$1<date>$2", std::regex_constants::format_first_only);
}

TEST(ReadmeSample, ReportBlockIsWhatItsExampleLeaves) {
  const std::string section = Section(ReadBytes(TARVELD_README), "## What the report holds");
  ASSERT_FALSE(section.empty()) << "README.md has no section \"What the report holds\"";
  std::smatch named;
  ASSERT_TRUE(std::regex_search(section, named, std::regex("examples/([A-Za-z0-9_-]+\\.session)")))
      << "the section names no example";
  const std::string block = FirstBlock(section);
  ASSERT_FALSE(block.empty()) << "the section has no sample block";

  TempDir scratch;
  const fs::path out = scratch.path() / "out";
  const HostRun run = RunProgram(
      TARVELD_REPLAY, {"--dir", out.string(), std::string(TARVELD_EXAMPLES) + "/" + named.str(1)},
      scratch.path());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string report = ReadBytes((out / "Tarveld.txt").string());

  const std::string expected = WithoutActualDate("\n" + WithCrLf(block));
  const std::string actual = WithoutActualDate("\n" + report);
  EXPECT_NE(expected.find("Actual Date=<date>\r\n"), std::string::npos)
      << "the sample's Actual Date has not the shape of a real one:\n"
      << block;
  EXPECT_NE(actual.find("Actual Date=<date>\r\n"), std::string::npos) << report;
  EXPECT_EQ(actual, expected) << "README.md's sample differs from the report of " << named.str(1);
}

}  // namespace
}  // namespace tarveld::testing
