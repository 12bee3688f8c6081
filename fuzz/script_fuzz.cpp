// The replay host's script reader on any bytes.
//
// Errors are expected; what is checked is that reading ends, that a script
// read cleanly is one the replay can run without further checks (every
// call has its entry point's arguments of the right kinds, every record
// reference names a record defined before), that errors point into the
// script, and that every text the script holds reads back unchanged from
// QuoteText's spelling.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "fuzz/fuzz_check.h"
#include "host/script.h"

namespace host = tarveld::host;

namespace {

void CheckText(const std::string& text) {
  const host::ReadResult again = host::ReadScript("MsgLog " + host::QuoteText(text));
  FUZZ_CHECK(again.ok() && again.script.steps.size() == 1);
  const auto& call = std::get<host::Call>(again.script.steps[0].action);
  FUZZ_CHECK(call.arguments.size() == 1 && call.arguments[0].text == text);
}

void CheckScript(const host::Script& script, std::size_t lines) {
  int previous_line = 0;
  for (const host::Step& step : script.steps) {
    FUZZ_CHECK(step.line > previous_line && static_cast<std::size_t>(step.line) <= lines);
    previous_line = step.line;
    if (const auto* assignment = std::get_if<host::RecordAssignment>(&step.action)) {
      FUZZ_CHECK(assignment->record >= 0 &&
                 static_cast<std::size_t>(assignment->record) < script.records.size());
      continue;
    }
    const auto& call = std::get<host::Call>(step.action);
    const auto parameters = host::EntryPointParameters(call.entry);
    FUZZ_CHECK(call.arguments.size() == parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
      const host::Argument& argument = call.arguments[i];
      FUZZ_CHECK(argument.kind == parameters[i].kind);
      if (argument.kind == host::ArgKind::kRecord) {
        FUZZ_CHECK(argument.record >= -1 &&
                   argument.record < static_cast<int>(script.records.size()));
      }
      if (argument.kind == host::ArgKind::kText && argument.text) {
        FUZZ_CHECK(argument.text->find('\0') == std::string::npos);
        CheckText(*argument.text);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Lines as the reader counts them: LF ends a line; a last line needs none.
  std::size_t lines = 1;
  for (char c : text)
    lines += c == '\n' ? 1 : 0;

  const host::ReadResult result = host::ReadScript(text);
  if (result.ok()) {
    CheckScript(result.script, lines);
    return 0;
  }
  int previous_line = 0;
  for (const host::ScriptError& error : result.errors) {
    FUZZ_CHECK(error.line > previous_line && static_cast<std::size_t>(error.line) <= lines);
    FUZZ_CHECK(error.column >= 1 && !error.message.empty());
    previous_line = error.line;
    const std::string line = host::FormatError("s", error);
    FUZZ_CHECK(line.starts_with("s:" + std::to_string(error.line) + ":"));
  }
  return 0;
}
