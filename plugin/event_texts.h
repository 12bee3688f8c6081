// Time-factor and sinking reports: each composes an event text from the
// game clock and keeps the latest of its kind in the session.
#pragma once

#include <cstdint>

#include "plugin/session.h"

namespace tarveld {

// "00100123: TimeFactor=4". Changes nothing but TimeFactorText.
void ChangeTimeFactor(PluginSession& session, std::int32_t time_factor);

// "00100123: GroupID=Escort 2, UnitID=03, Sinking", and the game date the
// clock stands for, carried forward from the host's start record. Without a
// start record the date stays as it was and its text is empty.
void SinkUnit(PluginSession& session, std::uint8_t unit, const char* group);

}  // namespace tarveld
