// The session script: a text that lists, one per line, the calls a replay
// makes into the plug-in, and the date records the replay owns.
//
//   # a comment; blank lines are ignored
//   record start = 1942-06-04 04:30:00 extra 0
//   DLLInit 0
//   ScenLoad 0 2 null 0 "Convoy" 0 100000 0 start
//   MsgLog "Contact\r\nbearing 270"
//   set start.Hour = 5
//
// Reading is pure: text in, checked steps or a list of errors out, no file
// or library touched. Every argument is checked against the entry point's
// table here, so a replay of a script that reads cleanly cannot fail on its
// shape. docs/session-script.md is the full reference of the format.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarveld::host {

enum class EntryPoint {
  kDLLVer,
  kDLLVerInt,
  kDLLDesc,
  kDLLInit,
  kDLLFree,
  kGameTime,
  kScenLoad,
  kMsgLog,
  kTimeFactor,
  kUnitSink,
};
inline constexpr int kEntryPointCount = 10;

// What one argument slot takes in the script.
enum class ArgKind {
  kInteger,  // decimal or 0x hex, kept as the raw 32-bit slot
  kText,     // "..." with escapes, or null
  kRecord,   // the name of a record, or null
};

struct Parameter {
  ArgKind kind;
  std::string_view name;  // for messages: "scenario number"
};

// The exported name of `entry` and its parameters in calling order.
std::string_view EntryPointName(EntryPoint entry);
std::span<const Parameter> EntryPointParameters(EntryPoint entry);
// The entry point called `name` exactly (names are case-sensitive, as the
// loader's lookup is); nullopt for none.
std::optional<EntryPoint> FindEntryPoint(std::string_view name);

struct Argument {
  ArgKind kind = ArgKind::kInteger;
  std::uint32_t slot = 0;           // kInteger
  std::optional<std::string> text;  // kText; nullopt is a null pointer
  int record = -1;                  // kRecord: index into Script::records; -1 is null
};

struct Call {
  EntryPoint entry = EntryPoint::kDLLVer;
  std::vector<Argument> arguments;  // one per parameter, in order
};

// The fields of a date record, in memory order.
inline constexpr int kRecordFieldCount = 7;
inline constexpr std::array<std::string_view, kRecordFieldCount> kRecordFieldNames = {
    "Year", "Month", "Day", "Hour", "Minute", "Second", "Extra"};

// Sets some fields of one record; a `record` definition and a `set` both
// become one of these, in script order, so a field changed between two
// calls is seen by the second.
struct RecordAssignment {
  int record = -1;
  std::array<std::optional<std::int32_t>, kRecordFieldCount> fields;
};

struct Step {
  int line = 0;        // 1-based line of the script
  std::string source;  // the line as written, less leading blanks, for traces
  std::variant<Call, RecordAssignment> action;
};

struct Script {
  std::vector<std::string> records;  // names, in order of definition
  std::vector<Step> steps;
};

struct ScriptError {
  int line = 0;    // 1-based
  int column = 0;  // 1-based byte column
  std::string message;
};

struct ReadResult {
  Script script;
  std::vector<ScriptError> errors;  // in line order; empty when the script is good

  bool ok() const { return errors.empty(); }
};

// Reads a whole script. Each bad line gives one error (its first), and
// reading goes on so that one run shows every bad line.
ReadResult ReadScript(std::string_view text);

// "FILE:LINE:COLUMN: message".
std::string FormatError(std::string_view file_name, const ScriptError& error);

// A text as the script would write it: in double quotes, with the escapes
// the reader accepts for quote, backslash, tab, CR, LF and other bytes
// below 32 or equal to 127. Bytes above 127 are kept as they are.
std::string QuoteText(std::string_view text);

}  // namespace tarveld::host
