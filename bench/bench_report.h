// The report both benchmarks start from, made as the plug-in writes it
// after some play: the two small sections, then `keys` "log" entries of
// about forty bytes each at game times a minute apart.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace tarveld::bench {

inline constexpr std::int32_t kFirstLogTime = 100060;
inline constexpr std::int32_t kLogStep = 60;

inline std::int32_t LogTime(std::int64_t i) {
  return kFirstLogTime + static_cast<std::int32_t>(i) * kLogStep;
}

// A host message of about forty bytes that varies with `i`.
inline std::string Message(std::int64_t i) {
  static const char* const kTexts[] = {
      "Contact: destroyer group bearing %03d, range %d nm",
      "Air strike launched against task force %d at %d",
      "Submerged contact lost at depth %d m, sector %d",
      "Merchant sunk by torpedo, convoy %d position %d",
  };
  char text[96];
  std::snprintf(text, sizeof text, kTexts[i % 4], static_cast<int>(i % 360),
                static_cast<int>(i % 97 + 3));
  return text;
}

inline constexpr char kReportHead[] =
    "[Initial Start]\r\nActual Date=3/7/24 21:05:03\r\n\r\n"
    "[Session Start]\r\nGame Date=1942-05-04 06:00:00\r\nGame Time=100000\r\n"
    "Scenario=Convoy/Scen#1\r\n\r\n";

// The "log" section of `keys` entries: the end of the report.
inline std::string LogSection(std::int64_t keys) {
  std::string text = "[log]\r\n";
  for (std::int64_t i = 0; i < keys; ++i)
    text += std::to_string(LogTime(i)) + "=" + Message(i) + "\r\n";
  return text;
}

inline std::string PreparedReport(std::int64_t keys) {
  return kReportHead + LogSection(keys);
}

// False when the file could not be written whole.
inline bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace tarveld::bench
