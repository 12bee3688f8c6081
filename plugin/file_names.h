// The names of the plug-in's two files, which it puts beside the host's
// executable and which the after-action page reads and cites.
#pragma once

namespace tarveld {

inline constexpr char kReportFileName[] = "Tarveld.txt";
inline constexpr char kJournalFileName[] = "Tarveld.log";

}  // namespace tarveld
