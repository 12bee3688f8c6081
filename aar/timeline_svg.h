// One battle's timeline as an inline SVG: the game date (or, for a battle
// without a start date, the game time) along the axis; sinkings as markers
// labelled by group and unit; the time factor as a step line; messages as
// ticks.
//
// It has to read as well at five events as at five thousand. Ticks are
// counted per two units of width and drawn once per slot, taller where more
// messages fall, so their number never exceeds the slots. Sinking labels
// take the lowest of a few lanes where they keep clear of their
// neighbours; a label that fits in none is left out (its marker keeps a
// tooltip, and the losses table lists it).
//
// All geometry is integer arithmetic in tenths of a unit, so the page comes
// out byte for byte the same on every system and compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "aar/battle.h"

namespace tarveld::aar {

// Appends the battle's timeline, an <svg> element, to `out`. The battle must
// have events. `journal`: whether a journal was read, without which losses
// and time-factor changes are not known. Losses too close to draw apart
// share one marker that counts them; every marker links to the first of
// its losses in the log. Returns how many markers got no label.
std::size_t AppendTimeline(std::string& out, const Battle& battle, int number, bool journal);

// The timeline in its figure: the drawing, what the page's script needs to
// draw it again at another scale (as data attributes, numbers only), the
// zoom controls it shows, and the caption.
void AppendTimelineFigure(std::string& out, const Battle& battle, int number, bool journal);

// The label of each group's name (bytes in the files' code page, 0x85 being
// its "…"): the name itself when short, else its start and its end. Labels
// of different names never read the same: names whose labels would are
// given longer ones, up to the whole name.
std::map<std::string, std::string> GroupLabels(const std::vector<Sinking>& sinkings);

// A label's extent along the axis, in tenths of a unit.
struct LabelSpan {
  std::int64_t left = 0;
  std::int64_t right = 0;
};

// The lane (0 is nearest the markers) of each of `spans`: the lowest of
// `lanes` lanes in which it starts at least `gap` after every label before
// it there ends; -1 when it fits in none. Labels are placed in the order of
// their left ends, so each leaves the most room for those after it.
std::vector<int> AssignLanes(const std::vector<LabelSpan>& spans, int lanes, std::int64_t gap);

}  // namespace tarveld::aar
