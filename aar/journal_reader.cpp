#include "aar/journal_reader.h"

#include "aar/game_dates.h"
#include "report/ini_text.h"

namespace tarveld::aar {
namespace {

namespace layout = journal_format;

std::string_view StripTrailingBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

bool AllDigits(std::string_view text) {
  if (text.empty())
    return false;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return false;
  }
  return true;
}

// A signed decimal number of at most eighteen digits, the whole of `text`.
bool ReadInteger(std::string_view text, std::int64_t& value) {
  const std::optional<std::int64_t> read = ReadDecimal(text, false);
  if (read)
    value = *read;
  return read.has_value();
}

// A game time as the plug-in writes it: an optional minus sign and at least
// kGameTimeDigits digits. Eighteen digits at most keeps the value inside 64
// bits.
bool ReadGameTime(std::string_view text, std::int64_t& value) {
  const std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  return text.size() >= sign + layout::kGameTimeDigits && ReadInteger(text, value);
}

// The game-time prefix of a time-factor or sinking text, "00100183: ";
// returns what follows it, or false.
bool SkipTimePrefix(std::string_view& text) {
  const std::size_t colon = text.find(": ");
  std::int64_t ignored = 0;
  if (colon == std::string_view::npos || !ReadGameTime(text.substr(0, colon), ignored))
    return false;
  text.remove_prefix(colon + 2);
  return true;
}

// "Start=1942-06-04 04:30:00, Scenario=Convoy/Scen#3", or "Start=none, ...".
// The start date holds no comma, so the first ", Scenario=" ends it; the
// name may hold anything.
bool ReadScenarioText(std::string_view text, JournalEntry& entry) {
  constexpr std::string_view kStart = layout::kScenarioStart;
  constexpr std::string_view kScenario = layout::kScenarioName;
  if (text.substr(0, kStart.size()) != kStart)
    return false;
  const std::size_t cut = text.find(kScenario);
  if (cut == std::string_view::npos)
    return false;
  const std::string_view start = text.substr(kStart.size(), cut - kStart.size());
  const bool none = start == layout::kNoScenarioStart;
  if (!none && !IsDateShaped(start))
    return false;
  entry.start_date = none ? std::string() : std::string(start);
  entry.text = text.substr(cut + kScenario.size());
  return true;
}

// "00100123: TimeFactor=4".
bool ReadTimeFactorText(std::string_view text, JournalEntry& entry) {
  constexpr std::string_view kFactor = "TimeFactor=";
  if (!SkipTimePrefix(text) || text.substr(0, kFactor.size()) != kFactor)
    return false;
  return ReadInteger(text.substr(kFactor.size()), entry.time_factor);
}

// "00100183: GroupID=Escort 2, UnitID=03, Sinking". The group's name may
// hold anything, so the unit is found from the end; a text cut short lacks
// the ", Sinking" that ends it.
bool ReadSinkingText(std::string_view text, JournalEntry& entry) {
  constexpr std::string_view kGroup = "GroupID=";
  constexpr std::string_view kUnit = ", UnitID=";
  constexpr std::string_view kEnd = ", Sinking";
  if (!SkipTimePrefix(text) || text.substr(0, kGroup.size()) != kGroup)
    return false;
  if (text.size() < kEnd.size() || text.substr(text.size() - kEnd.size()) != kEnd)
    return false;
  text.remove_suffix(kEnd.size());
  const std::size_t cut = text.rfind(kUnit);
  if (cut == std::string_view::npos || cut < kGroup.size())
    return false;
  const std::string_view unit = text.substr(cut + kUnit.size());
  if (unit.size() < 2 || unit.size() > 3 || !AllDigits(unit))
    return false;
  entry.group = text.substr(kGroup.size(), cut - kGroup.size());
  entry.unit = unit;
  return true;
}

// One of the reasons the plug-in names: "another program held it", "access
// was denied", "the disk was full" or "system error N".
bool IsFailureReason(std::string_view reason) {
  constexpr std::string_view kSystemError = "system error ";
  if (reason == "another program held it" || reason == "access was denied" ||
      reason == "the disk was full")
    return true;
  return reason.substr(0, kSystemError.size()) == kSystemError &&
         AllDigits(reason.substr(kSystemError.size()));
}

// "report: not written: REASON (CLASS: MESSAGE)", "report: written again",
// and the journal's "not flushed" and "flushed again". The message may
// hold anything, parentheses too, so the reason ends at the first " (" and
// the text at its last ')'.
bool ReadFailureText(std::string_view text, JournalEntry& entry) {
  static constexpr struct {
    std::string_view file, failed, again;
    FailedFile which;
  } kFiles[] = {{"report: ", "not written: ", "written again", FailedFile::kReport},
                {"journal: ", "not flushed: ", "flushed again", FailedFile::kJournal}};
  for (const auto& file : kFiles) {
    if (text.substr(0, file.file.size()) != file.file)
      continue;
    std::string_view rest = text.substr(file.file.size());
    entry.failed_file = file.which;
    entry.text = text;
    if (rest == file.again) {
      entry.recovered = true;
      return true;
    }
    if (rest.substr(0, file.failed.size()) != file.failed)
      return false;
    rest.remove_prefix(file.failed.size());
    const std::size_t open = rest.find(" (");
    if (open == std::string_view::npos || rest.back() != ')' ||
        rest.find(": ", open) == std::string_view::npos || !IsFailureReason(rest.substr(0, open)))
      return false;
    entry.reason = rest.substr(0, open);
    return true;
  }
  return false;
}

bool ReadKind(std::string_view word, JournalKind& kind) {
  for (const layout::EventWord& known : layout::kEventWords) {
    if (word == known.word) {
      kind = known.event;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ReadJournalLine(std::string_view line, JournalEntry& entry) {
  // Three separators split off the date, the game time and the kind; the
  // text is the rest, separators and all.
  std::string_view fields[3];
  std::string_view rest = line;
  for (std::string_view& field : fields) {
    const std::size_t cut = rest.find(layout::kSeparator);
    if (cut == std::string_view::npos)
      return false;
    field = rest.substr(0, cut);
    rest.remove_prefix(cut + layout::kSeparator.size());
  }
  const std::string_view date = StripTrailingBlanks(fields[0]);
  if (date != layout::kNoStartDate && !IsDateShaped(date))
    return false;
  if (!ReadGameTime(fields[1], entry.game_time) ||
      !ReadKind(StripTrailingBlanks(fields[2]), entry.kind))
    return false;
  entry.date = date == layout::kNoStartDate ? std::string() : std::string(date);

  switch (entry.kind) {
    case JournalKind::kMessage:
      entry.text = rest;
      return true;
    case JournalKind::kScenario:
      return ReadScenarioText(rest, entry);
    case JournalKind::kTimeFactor:
      return ReadTimeFactorText(rest, entry);
    case JournalKind::kSinking:
      return ReadSinkingText(rest, entry);
    case JournalKind::kFailure:
      return ReadFailureText(rest, entry);
  }
  return false;
}

JournalRead ReadJournal(std::string_view bytes) {
  JournalRead read;
  bytes = SkipByteOrderMark(bytes);
  // One entry a line: counted first, so the list is made once, not grown
  // by doubling past the journal's own size.
  std::size_t breaks = 0;
  for (std::size_t at = bytes.find('\n'); at != std::string_view::npos;
       at = bytes.find('\n', at + 1))
    ++breaks;
  read.entries.reserve(breaks);
  std::size_t begin = 0;
  while (begin < bytes.size()) {
    const std::size_t end = bytes.find('\n', begin);
    ++read.lines;
    std::string_view line = bytes.substr(begin, end == std::string_view::npos ? end : end - begin);
    // Without its line break the last line may have been cut short anywhere,
    // even inside a message; it is never trusted.
    const bool whole = end != std::string_view::npos;
    begin = whole ? end + 1 : bytes.size();
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.empty())
      continue;
    JournalEntry entry;
    if (whole && ReadJournalLine(line, entry)) {
      entry.line = read.lines;
      read.entries.push_back(std::move(entry));
      continue;
    }
    ++read.skipped;
    if (read.skipped_lines.size() < kSkippedLinesKept)
      read.skipped_lines.push_back(read.lines);
  }
  return read;
}

}  // namespace tarveld::aar
