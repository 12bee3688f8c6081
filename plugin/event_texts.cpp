#include "plugin/event_texts.h"

#include "plugin/game_calendar.h"
#include "report/format_values.h"

namespace tarveld {

void ChangeTimeFactor(PluginSession& session, std::int32_t time_factor) {
  session.TimeFactorText =
      FormatValues("%8.8d: TimeFactor=%d",
                   {FormatValue::Integer(session.GameClock), FormatValue::Integer(time_factor)});
}

void SinkUnit(PluginSession& session, std::uint8_t unit, const char* group) {
  session.SinkText = FormatValues("%8.8d: GroupID=%s, UnitID=%2.2d, Sinking",
                                  {FormatValue::Integer(session.GameClock),
                                   FormatValue::Text(group), FormatValue::Integer(unit)});

  // No scenario, or one loaded without a record: there is no date to carry.
  if (session.StartDate == nullptr) {
    session.SinkDateText.clear();
    return;
  }
  // Always from the host's record as it stands now, never from the last
  // result: the host may have changed it since the scenario loaded. The
  // journal dates later lines from this reading.
  session.StartDateCopy = *session.StartDate;
  session.CurrentDate = AdvanceGameDate(*session.StartDateCopy, session.GameClock);
  session.SinkDateText = FormatGameDate(session.CurrentDate);
}

}  // namespace tarveld
