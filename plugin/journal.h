// The battle journal: "Tarveld.log" beside the report, a timeline of what
// the host told the plug-in, one line per event, in the order of the calls.
//
// The report keeps one message per game time and no sinking or time-factor
// event at all; the journal keeps every one. It is only ever appended to,
// one whole line per write, so a crash costs at most the line being
// written. A line reads (docs/journal.md):
//
//   1942-06-04 04:33:03 | 00100183 | SINKING    | 00100183: GroupID=Escort 2, UnitID=03, Sinking
//
// the game date and time the game clock stands for, the game time, the
// kind of event and its text, with line breaks in the text turned into
// spaces (journal_format.h holds the layout, which the after-action page
// reads back). Nothing here changes the session: the work functions read
// it through a const reference.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/game_date.h"
#include "plugin/journal_format.h"

namespace tarveld {

struct PluginSession;

// The date field for a line: the start record carried forward to
// `game_time` as "1942-06-04 04:33:03", or "no start date" when there is
// no record.
std::string JournalDate(const GameDateRec* start, std::int32_t game_time);

// The text of a SCENARIO line: "Start=1942-06-04 04:30:00, Scenario=Convoy/Scen#3",
// the start record as the host gave it, or "Start=none, ..." without one.
std::string ScenarioJournalText(const GameDateRec* start, std::string_view scenario);

// One journal line without its line break, in the layout of
// journal_format.h: `date`, `game_time`, the event's word and `text`. Each line break in `text` (CR
// LF, a lone CR or a lone LF) becomes one space, so the line is one line of the file; `date` holds
// none.
std::string JournalLine(std::string_view date, std::int32_t game_time, JournalEvent event,
                        std::string_view text);

// "Tarveld.log" beside the host's executable, composed afresh every call.
std::string JournalPath();

// Appends `line` (from JournalLine) to the journal in one write, and asks
// the report writer to flush it to disk. Throws EFCreateError when the
// journal cannot be opened or created (or is no regular file), EWriteError
// when the line cannot be written whole.
void AppendToJournal(std::string_view line);

// The journal lines of the entry points, each appended at once. A scenario
// start is journalled from the call's own arguments; the other events
// from the session as the entry point's work left it, dated from the
// session's copy of the start record: the host's own record may be read
// only in ScenLoad and UnitSink.
void JournalScenario(const GameDateRec* start_date, std::int32_t game_time,
                     std::string_view scenario);
void JournalMessage(const PluginSession& session, const char* message);
void JournalTimeFactor(const PluginSession& session);
void JournalSinking(const PluginSession& session);

// A FAILURE line of `text` (from failure_notices.h), dated as a message is.
// It asks for no flush of its own: the event line the call appends next
// asks for one that covers both, so telling a failure costs the game's
// thread one append and no wait for the disk. Throws as AppendToJournal.
void JournalFailure(const PluginSession& session, std::string_view text);

}  // namespace tarveld
