// Reading session scripts.
//
// Map of this file:
//   - the entry-point table (names and parameters, in calling order)
//   - LineCursor: a position in one line and the small readers over it
//   - ReadCall: one call line, split into tokens (ReadTokens) and then
//     matched to the entry point's parameters (MatchArguments);
//     ReadRecordLine: `record` and `set` lines
//   - ReadScript: splits the text into lines and collects steps and errors
//   - QuoteText: the way back from a text to script syntax
#include "host/script.h"

#include <cstdio>
#include <map>
#include <utility>

#include "report/ascii_case.h"

namespace tarveld::host {
namespace {

constexpr Parameter kDLLInitParameters[] = {{ArgKind::kInteger, "unused"}};
constexpr Parameter kGameTimeParameters[] = {{ArgKind::kInteger, "game time"},
                                             {ArgKind::kInteger, "second clock value"}};
constexpr Parameter kScenLoadParameters[] = {
    {ArgKind::kInteger, "unused"},          {ArgKind::kInteger, "scenario number"},
    {ArgKind::kText, "scenario name"},      {ArgKind::kInteger, "unused"},
    {ArgKind::kText, "series name"},        {ArgKind::kInteger, "unused"},
    {ArgKind::kInteger, "game time"},       {ArgKind::kInteger, "second clock value"},
    {ArgKind::kRecord, "start date record"}};
constexpr Parameter kMsgLogParameters[] = {{ArgKind::kText, "message"}};
constexpr Parameter kTimeFactorParameters[] = {{ArgKind::kInteger, "time factor"}};
constexpr Parameter kUnitSinkParameters[] = {{ArgKind::kInteger, "unit number"},
                                             {ArgKind::kText, "group"}};

struct EntryPointInfo {
  std::string_view name;
  std::span<const Parameter> parameters;
};

// Indexed by EntryPoint.
const EntryPointInfo kEntryPoints[kEntryPointCount] = {
    {"DLLVer", std::span<const Parameter>()},  {"DLLVerInt", std::span<const Parameter>()},
    {"DLLDesc", std::span<const Parameter>()}, {"DLLInit", kDLLInitParameters},
    {"DLLFree", std::span<const Parameter>()}, {"GameTime", kGameTimeParameters},
    {"ScenLoad", kScenLoadParameters},         {"MsgLog", kMsgLogParameters},
    {"TimeFactor", kTimeFactorParameters},     {"UnitSink", kUnitSinkParameters},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || IsDigit(c);
}

int HexValue(char c) {
  if (IsDigit(c))
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// One byte as a message shows it: printable bytes as they are, others as \xHH.
std::string ByteText(char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte >= 33 && byte < 127)
    return std::string(1, c);
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\x%02X", byte);
  return buffer;
}

// A piece of the script as a message shows it, in single quotes.
std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text)
    out += ByteText(c);
  return out + "'";
}

// Reads a 32-bit slot: decimal from -2147483648 to 4294967295, or 0x hex up
// to 0xFFFFFFFF. Negative numbers are kept in two's complement, so -1 and
// 4294967295 give the same slot. nullopt with `error` set when `word` is no
// such integer.
std::optional<std::uint32_t> ParseSlot(std::string_view word, std::string& error) {
  std::string_view digits = word;
  bool negative = false;
  int base = 10;
  if (!digits.empty() && digits.front() == '-') {
    negative = true;
    digits.remove_prefix(1);
  } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty()) {
    error = "bad integer " + Quoted(word);
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (char c : digits) {
    int digit = base == 16 ? HexValue(c) : (IsDigit(c) ? c - '0' : -1);
    if (digit < 0) {
      error = "bad integer " + Quoted(word);
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFu)
      break;  // keeps the product small; out of range anyway
  }
  const std::uint64_t limit = negative ? 0x80000000u : 0xFFFFFFFFu;
  if (value > limit) {
    error = "integer " + Quoted(word) + " does not fit 32 bits";
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(negative ? (0u - value) : value);
}

// A position in one line, and readers that move it. Columns are 1-based
// byte positions. A reader that fails sets `error` and returns false; the
// first error of the line is the one reported.
class LineCursor {
 public:
  explicit LineCursor(std::string_view line) : line_(line) {}

  int column() const { return static_cast<int>(pos_) + 1; }
  std::size_t pos() const { return pos_; }
  char peek() const { return pos_ < line_.size() ? line_[pos_] : '\0'; }

  void SkipBlanks() {
    while (pos_ < line_.size() && IsBlank(line_[pos_]))
      ++pos_;
  }
  // True at the end of the line or at a comment.
  bool AtEnd() const { return pos_ >= line_.size() || line_[pos_] == '#'; }
  // True where a token may end: a blank, a comment or the end.
  bool AtBoundary() const { return AtEnd() || IsBlank(line_[pos_]); }

  // The run of bytes up to the next blank, comment or end.
  std::string_view Word() {
    std::size_t start = pos_;
    while (!AtBoundary())
      ++pos_;
    return line_.substr(start, pos_ - start);
  }

  // A name: [A-Za-z_][A-Za-z0-9_]*.
  bool Name(std::string_view& name) {
    std::size_t start = pos_;
    if (!IsNameStart(peek()))
      return Fail(start, "expected a name");
    while (pos_ < line_.size() && IsNameChar(line_[pos_]))
      ++pos_;
    name = line_.substr(start, pos_ - start);
    return true;
  }

  // A text in double quotes, the cursor on its opening quote.
  bool Text(std::string& text) {
    const std::size_t open = pos_++;
    text.clear();
    while (pos_ < line_.size()) {
      const char c = line_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '\0')
        return Fail(pos_, "a text cannot hold byte 0");
      if (c != '\\') {
        text += c;
        ++pos_;
        continue;
      }
      const std::size_t escape = pos_;
      if (escape + 1 >= line_.size())
        break;
      const char kind = line_[escape + 1];
      pos_ = escape + 2;
      switch (kind) {
        case 'n':
          text += '\n';
          break;
        case 'r':
          text += '\r';
          break;
        case 't':
          text += '\t';
          break;
        case '"':
          text += '"';
          break;
        case '\\':
          text += '\\';
          break;
        case 'x': {
          const int high = pos_ < line_.size() ? HexValue(line_[pos_]) : -1;
          const int low = pos_ + 1 < line_.size() ? HexValue(line_[pos_ + 1]) : -1;
          if (high < 0 || low < 0)
            return Fail(escape, "'\\x' needs two hex digits");
          if (high == 0 && low == 0)
            return Fail(escape, "a text cannot hold byte 0");
          text += static_cast<char>(high * 16 + low);
          pos_ += 2;
          break;
        }
        default:
          return Fail(escape, "unknown escape " + Quoted(line_.substr(escape, 2)));
      }
    }
    return Fail(open, "unterminated text");
  }

  // A 32-bit slot (see ParseSlot).
  bool Slot(std::uint32_t& slot) {
    const std::size_t start = pos_;
    std::string error;
    auto value = ParseSlot(Word(), error);
    if (!value)
      return Fail(start, error);
    slot = *value;
    return true;
  }

  // Digits only, fitting a 32-bit signed integer: a part of a date.
  bool DatePart(std::int32_t& value, const char* what) {
    const std::size_t start = pos_;
    std::uint64_t number = 0;
    while (pos_ < line_.size() && IsDigit(line_[pos_])) {
      number = number * 10 + (line_[pos_] - '0');
      if (number > 0x7FFFFFFF)
        return Fail(start, std::string(what) + " does not fit 32 bits");
      ++pos_;
    }
    if (pos_ == start)
      return Fail(start, "expected a date and time as YYYY-MM-DD HH:MM:SS");
    value = static_cast<std::int32_t>(number);
    return true;
  }

  bool Expect(char c, const char* message) {
    if (peek() != c)
      return Fail(pos_, message);
    ++pos_;
    return true;
  }

  // Demands a boundary after a token.
  bool EndOfToken() {
    if (AtBoundary())
      return true;
    return Fail(pos_, "unexpected " + Quoted(std::string_view(&line_[pos_], 1)) +
                          "; a blank must separate arguments");
  }

  bool Fail(std::size_t pos, std::string message) {
    error_ = ScriptError{0, static_cast<int>(pos) + 1, std::move(message)};
    return false;
  }
  const ScriptError& error() const { return error_; }

 private:
  std::string_view line_;
  std::size_t pos_ = 0;
  ScriptError error_;
};

// A call argument as written, before it is matched with its parameter.
struct Token {
  enum Kind { kInteger, kText, kNull, kName } kind = kInteger;
  int column = 0;
  std::uint32_t slot = 0;
  std::string text;  // kText: the bytes; kName: the name
};

struct ReaderState {
  Script& script;
  std::map<std::string, int, std::less<>> record_index;  // name -> index
  std::vector<int> record_lines;                         // line of each definition
};

std::string CountText(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The entry point a call line names, the cursor on the name; an unknown
// name fails, suggesting the entry point it differs from only in case.
bool ReadEntryPoint(LineCursor& cursor, std::string_view& name, EntryPoint& entry) {
  const int name_column = cursor.column();
  name = cursor.Word();
  if (const std::optional<EntryPoint> found = FindEntryPoint(name)) {
    entry = *found;
    return true;
  }
  std::string message = "unknown call " + Quoted(name);
  for (const EntryPointInfo& info : kEntryPoints) {
    if (EqualIgnoringAsciiCase(info.name, name)) {
      message += " (did you mean '" + std::string(info.name) + "'?)";
    }
  }
  return cursor.Fail(name_column - 1, message);
}

// One argument as written, the cursor on its first byte: a text, a slot, or
// a name (null among them).
bool ReadToken(LineCursor& cursor, Token& token) {
  token.column = cursor.column();
  const char first = cursor.peek();
  if (first == '"') {
    token.kind = Token::kText;
    if (!cursor.Text(token.text))
      return false;
  } else if (IsDigit(first) || first == '-') {
    if (!cursor.Slot(token.slot))
      return false;
  } else if (IsNameStart(first)) {
    std::string_view word;
    cursor.Name(word);
    token.kind = word == "null" ? Token::kNull : Token::kName;
    token.text = word;
  } else {
    return cursor.Fail(cursor.pos(), "unexpected " + Quoted(std::string_view(&first, 1)));
  }
  return cursor.EndOfToken();
}

// The rest of the line split into tokens, blanks between them. `last_end`
// is where the last token ended, or the cursor's position when there is
// none: where a missing argument is reported.
bool ReadTokens(LineCursor& cursor, std::vector<Token>& tokens, std::size_t& last_end) {
  last_end = cursor.pos();
  for (cursor.SkipBlanks(); !cursor.AtEnd(); cursor.SkipBlanks()) {
    Token token;
    if (!ReadToken(cursor, token))
      return false;
    last_end = cursor.pos();
    tokens.push_back(std::move(token));
  }
  return true;
}

// The argument that `token` gives `parameter`; `where` names the argument
// in the message of a token of the wrong kind.
bool MatchArgument(LineCursor& cursor, const ReaderState& state, const Token& token,
                   const Parameter& parameter, const std::string& where, Argument& argument) {
  argument.kind = parameter.kind;
  switch (parameter.kind) {
    case ArgKind::kInteger:
      if (token.kind != Token::kInteger) {
        return cursor.Fail(token.column - 1, where + " takes an integer");
      }
      argument.slot = token.slot;
      return true;
    case ArgKind::kText:
      if (token.kind == Token::kText) {
        argument.text = token.text;
      } else if (token.kind != Token::kNull) {
        return cursor.Fail(token.column - 1, where + " takes a text in double quotes or null");
      }
      return true;
    case ArgKind::kRecord:
      if (token.kind == Token::kName) {
        auto found = state.record_index.find(token.text);
        if (found == state.record_index.end()) {
          return cursor.Fail(token.column - 1, "unknown record " + Quoted(token.text));
        }
        argument.record = found->second;
      } else if (token.kind != Token::kNull) {
        return cursor.Fail(token.column - 1, where + " takes a record name or null");
      }
      return true;
  }
  return true;
}

// `tokens` matched one by one to the parameters of `entry`, named `name` as
// written: first their number, then each one's kind, in order.
bool MatchArguments(LineCursor& cursor, const ReaderState& state, std::string_view name,
                    EntryPoint entry, const std::vector<Token>& tokens, std::size_t last_end,
                    Call& call) {
  const std::span<const Parameter> parameters = EntryPointParameters(entry);
  if (tokens.size() != parameters.size()) {
    const std::string expected = parameters.empty()
                                     ? std::string("no arguments")
                                     : CountText(parameters.size(), "argument", "arguments");
    const std::size_t column =
        tokens.size() > parameters.size() ? tokens[parameters.size()].column - 1 : last_end;
    return cursor.Fail(column, std::string(name) + " takes " + expected + ", got " +
                                   std::to_string(tokens.size()));
  }

  call.entry = entry;
  call.arguments.clear();
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Parameter& parameter = parameters[i];
    const std::string where = std::string(name) + " argument " + std::to_string(i + 1) + " (" +
                              std::string(parameter.name) + ")";
    Argument argument;
    if (!MatchArgument(cursor, state, tokens[i], parameter, where, argument))
      return false;
    call.arguments.push_back(std::move(argument));
  }
  return true;
}

// A call line, the cursor on the entry point's name: the whole line is
// split into tokens before any is matched to a parameter, so an error in
// the line's syntax is reported before a wrong argument.
bool ReadCall(LineCursor& cursor, ReaderState& state, Call& call) {
  std::string_view name;
  EntryPoint entry{};
  std::vector<Token> tokens;
  std::size_t last_end = 0;
  return ReadEntryPoint(cursor, name, entry) && ReadTokens(cursor, tokens, last_end) &&
         MatchArguments(cursor, state, name, entry, tokens, last_end, call);
}

// "YYYY-MM-DD HH:MM:SS" and an optional "extra N": the six date fields, and
// Extra when given.
bool ReadDate(LineCursor& cursor, RecordAssignment& assignment) {
  const char* const kShape = "expected a date and time as YYYY-MM-DD HH:MM:SS";
  std::int32_t parts[6];
  static const char* const kNames[6] = {"year", "month", "day", "hour", "minute", "second"};
  for (int i = 0; i < 6; ++i) {
    if (i == 3) {
      if (!IsBlank(cursor.peek()))
        return cursor.Fail(cursor.pos(), kShape);
      cursor.SkipBlanks();
    } else if (i > 0 && !cursor.Expect(i < 3 ? '-' : ':', kShape)) {
      return false;
    }
    if (!cursor.DatePart(parts[i], kNames[i]))
      return false;
  }
  if (!cursor.EndOfToken())
    return false;
  for (int i = 0; i < 6; ++i)
    assignment.fields[i] = parts[i];

  cursor.SkipBlanks();
  if (cursor.AtEnd())
    return true;
  const std::size_t keyword_pos = cursor.pos();
  if (cursor.Word() != "extra") {
    return cursor.Fail(keyword_pos, "expected 'extra' or the end of the line");
  }
  cursor.SkipBlanks();
  if (cursor.AtEnd())
    return cursor.Fail(cursor.pos(), "expected an integer after 'extra'");
  std::uint32_t extra;
  if (!cursor.Slot(extra))
    return false;
  assignment.fields[6] = static_cast<std::int32_t>(extra);
  return true;
}

// `record NAME = DATE [extra N]` and `set NAME = DATE [extra N]` or
// `set NAME.FIELD = INTEGER`, the cursor after the keyword.
bool ReadRecordLine(LineCursor& cursor, ReaderState& state, bool define, int line,
                    RecordAssignment& assignment) {
  if (!IsBlank(cursor.peek()))
    return cursor.Fail(cursor.pos(), "expected a record name");
  cursor.SkipBlanks();
  const std::size_t name_pos = cursor.pos();
  std::string_view name;
  if (!cursor.Name(name))
    return cursor.Fail(name_pos, "expected a record name");
  const std::string name_text(name);

  if (define) {
    if (name == "null")
      return cursor.Fail(name_pos, "'null' cannot name a record");
    auto found = state.record_index.find(name);
    if (found != state.record_index.end()) {
      return cursor.Fail(name_pos, "record " + Quoted(name) + " is already defined on line " +
                                       std::to_string(state.record_lines[found->second]));
    }
    // Known from here on even if the rest of the line is bad, so that one
    // typo in a date does not make every later use an error too.
    assignment.record = static_cast<int>(state.script.records.size());
    state.record_index.emplace(name_text, assignment.record);
    state.record_lines.push_back(line);
    state.script.records.push_back(name_text);
    // A new record starts all zero, Extra included.
    for (auto& field : assignment.fields)
      field = 0;
  } else {
    auto found = state.record_index.find(name);
    if (found == state.record_index.end()) {
      return cursor.Fail(name_pos, "unknown record " + Quoted(name));
    }
    assignment.record = found->second;
  }

  int field = -1;
  if (!define && cursor.peek() == '.') {
    cursor.Expect('.', "");
    const std::size_t field_pos = cursor.pos();
    std::string_view field_name;
    if (!cursor.Name(field_name))
      return cursor.Fail(field_pos, "expected a field name");
    for (int i = 0; i < kRecordFieldCount; ++i) {
      if (kRecordFieldNames[i] == field_name)
        field = i;
    }
    if (field < 0) {
      return cursor.Fail(field_pos, "unknown field " + Quoted(field_name) +
                                        " (fields: Year, Month, Day, Hour, Minute, Second, "
                                        "Extra)");
    }
  }

  cursor.SkipBlanks();
  if (!cursor.Expect('=', "expected '='"))
    return false;
  cursor.SkipBlanks();
  if (field >= 0) {
    if (cursor.AtEnd())
      return cursor.Fail(cursor.pos(), "expected an integer");
    std::uint32_t value;
    if (!cursor.Slot(value))
      return false;
    assignment.fields[field] = static_cast<std::int32_t>(value);
  } else if (!ReadDate(cursor, assignment)) {
    return false;
  }
  cursor.SkipBlanks();
  if (!cursor.AtEnd()) {
    const std::size_t pos = cursor.pos();
    return cursor.Fail(pos, "unexpected " + Quoted(cursor.Word()) + " at the end");
  }
  return true;
}

}  // namespace

std::string_view EntryPointName(EntryPoint entry) {
  return kEntryPoints[static_cast<int>(entry)].name;
}

std::span<const Parameter> EntryPointParameters(EntryPoint entry) {
  return kEntryPoints[static_cast<int>(entry)].parameters;
}

std::optional<EntryPoint> FindEntryPoint(std::string_view name) {
  for (int i = 0; i < kEntryPointCount; ++i) {
    if (kEntryPoints[i].name == name)
      return static_cast<EntryPoint>(i);
  }
  return std::nullopt;
}

ReadResult ReadScript(std::string_view text) {
  ReadResult result;
  ReaderState state{result.script, {}, {}};
  // A byte-order mark that an editor put first is no part of the script.
  if (text.starts_with("\xEF\xBB\xBF"))
    text.remove_prefix(3);

  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r'))
      line.remove_suffix(1);

    LineCursor cursor(line);
    cursor.SkipBlanks();
    if (cursor.AtEnd())
      continue;

    Step step{line_number, std::string(line.substr(cursor.pos())), Call{}};
    bool ok;
    if (!IsNameStart(cursor.peek())) {
      ok = cursor.Fail(cursor.pos(), "expected a call, 'record' or 'set'");
    } else {
      LineCursor probe = cursor;
      std::string_view keyword;
      probe.Name(keyword);
      if (keyword == "record" || keyword == "set") {
        RecordAssignment assignment;
        ok = ReadRecordLine(probe, state, keyword == "record", line_number, assignment);
        cursor = probe;
        step.action = assignment;
      } else {
        Call call;
        ok = ReadCall(cursor, state, call);
        step.action = std::move(call);
      }
    }
    if (ok) {
      result.script.steps.push_back(std::move(step));
    } else {
      ScriptError error = cursor.error();
      error.line = line_number;
      result.errors.push_back(std::move(error));
    }
  }
  return result;
}

std::string FormatError(std::string_view file_name, const ScriptError& error) {
  return std::string(file_name) + ":" + std::to_string(error.line) + ":" +
         std::to_string(error.column) + ": " + error.message;
}

std::string QuoteText(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\x%02X", byte);
          out += buffer;
        } else {
          out += c;
        }
      }
    }
  }
  return out + "\"";
}

}  // namespace tarveld::host
