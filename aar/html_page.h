// The after-action page: one self-contained HTML file (inline style sheet,
// inline SVG, a little inline script the page works without; nothing
// fetched), written from the model alone.
//
// Map of the page: the title and what was read (with what was left out
// and why); an index of the battles when there are several; then per
// battle its facts, its timeline, its losses by group and its message log;
// then the report's messages that belong to no one battle, if any.
//
// The page depends on nothing but the model: no path, clock or locale of
// the system it is made on goes into it, so the same files give the same
// bytes on every system.
#pragma once

#include <string>

#include "aar/battle.h"
#include "plugin/file_names.h"  // kReportFileName, kJournalFileName: the names the page cites

namespace tarveld::aar {

std::string RenderPage(const AfterAction& after);

}  // namespace tarveld::aar
