#include "aar/timeline_svg.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>

#include "aar/game_dates.h"
#include "aar/html_text.h"

namespace tarveld::aar {
namespace {

// The drawing, in tenths of a unit: 1000 units wide, band names in the left
// margin, the plot to the right of it.
constexpr std::int64_t kWidth = 10000;
constexpr std::int64_t kPlotLeft = 1200;
constexpr std::int64_t kPlotRight = 9840;
// Texts are 15 units high: the drawing is scrolled sideways at 820 px or
// more on a phone (12 px text) and printed about 720 px wide (8 pt).
constexpr std::int64_t kTop = 60;
constexpr std::int64_t kLaneHeight = 190;
constexpr int kLanes = 3;
constexpr std::int64_t kLevelGap = 190;  // least room between two named factors
constexpr std::int64_t kFactorBand = 640;
constexpr std::int64_t kTickBand = 300;
constexpr std::int64_t kSlot = 20;       // width of one message-tick slot
constexpr std::int64_t kCharWidth = 90;  // a generous average at 15 px
constexpr std::size_t kLabelGroupBytes = 18;
constexpr std::int64_t kLabelGap = 40;
// Markers nearer than this share one: they could not be told apart.
constexpr std::int64_t kClusterSpan = 120;
constexpr std::string_view kNoGroup = "(no group)";

// "123.4", or "123" for a whole number.
void AppendTenths(std::string& out, std::int64_t value) {
  if (value < 0) {
    out += '-';
    value = -value;
  }
  out += std::to_string(value / 10);
  if (value % 10 != 0) {
    out += '.';
    out += static_cast<char>('0' + value % 10);
  }
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Where moments go along the plot: by game date when every moment of the
// battle has one, else by game time.
class Axis {
 public:
  explicit Axis(const Battle& battle) {
    dated_ = true;
    battle.ForEachMoment([this](const Moment& at) { dated_ = dated_ && DateSeconds(at.date); });
    bool first = true;
    battle.ForEachMoment([this, &first](const Moment& at) {
      const std::int64_t seconds = Seconds(at);
      lo_ = first ? seconds : std::min(lo_, seconds);
      hi_ = first ? seconds : std::max(hi_, seconds);
      first = false;
    });
  }

  bool dated() const { return dated_; }
  std::int64_t lo() const { return lo_; }
  std::int64_t hi() const { return hi_; }

  std::int64_t Seconds(const Moment& at) const {
    return dated_ ? *DateSeconds(at.date) : at.game_time;
  }

  // The x of `seconds`, lo to hi spread over the plot; everything in the
  // middle when the battle lasted no time at all.
  std::int64_t X(std::int64_t seconds) const {
    std::int64_t span = hi_ - lo_;
    if (span == 0)
      return (kPlotLeft + kPlotRight) / 2;
    std::int64_t offset = seconds - lo_;
    // Keeps offset * plot width inside 64 bits for any span.
    while (span > (std::int64_t{1} << 40)) {
      span >>= 1;
      offset >>= 1;
    }
    return kPlotLeft + offset * (kPlotRight - kPlotLeft) / std::max<std::int64_t>(span, 1);
  }
  std::int64_t X(const Moment& at) const { return X(Seconds(at)); }

 private:
  bool dated_ = true;
  std::int64_t lo_ = 0;
  std::int64_t hi_ = 0;
};

// A round step between axis labels, in seconds, giving at most seven.
std::int64_t TickStep(std::int64_t span) {
  static constexpr std::int64_t kSteps[] = {
      1,      2,      5,       10,      15,      30,       60,      120,   300,
      600,    900,    1800,    3600,    7200,    10800,    21600,   43200, 86400,
      172800, 604800, 1209600, 2419200, 7862400, 15724800, 31449600};
  for (const std::int64_t step : kSteps) {
    if (span / step <= 7)
      return step;
  }
  std::int64_t step = kSteps[std::size(kSteps) - 1];
  while (span / step > 7)
    step *= 10;
  return step;
}

// A text of the drawing's own (band names, levels, axis labels: ASCII and
// UTF-8 made here, never file bytes).
void AppendText(std::string& out, std::string_view css_class, std::int64_t x, std::int64_t y,
                std::string_view text) {
  out += "<text class=\"";
  out += css_class;
  out += "\" x=\"";
  AppendTenths(out, x);
  out += "\" y=\"";
  AppendTenths(out, y);
  out += "\">";
  out += text;
  out += "</text>";
}

void AppendLine(std::string& out, std::string_view css_class, std::int64_t x1, std::int64_t y1,
                std::int64_t x2, std::int64_t y2) {
  out += "<line class=\"";
  out += css_class;
  out += "\" x1=\"";
  AppendTenths(out, x1);
  out += "\" y1=\"";
  AppendTenths(out, y1);
  out += "\" x2=\"";
  AppendTenths(out, x2);
  out += "\" y2=\"";
  AppendTenths(out, y2);
  out += "\"/>";
}

// The axis: a grid line and a label at every step, and in the left margin
// what the labels leave out (the day, or that they are game times).
void AppendAxis(std::string& out, const Axis& axis, std::int64_t top, std::int64_t y) {
  const std::int64_t step = TickStep(axis.hi() - axis.lo());
  const std::string first_date = axis.dated() ? DateText(axis.lo()) : std::string();
  const std::string last_date = axis.dated() ? DateText(axis.hi()) : std::string();
  // DateText ends in " HH:MM:SS", 9 bytes, whatever the year's width.
  const bool same_day = axis.dated() && first_date.substr(0, first_date.size() - 9) ==
                                            last_date.substr(0, last_date.size() - 9);
  AppendLine(out, "axis", kPlotLeft, y, kPlotRight, y);
  for (std::int64_t t = FloorDiv(axis.lo() + step - 1, step) * step; t <= axis.hi(); t += step) {
    const std::int64_t x = axis.X(t);
    AppendLine(out, "grid", x, top, x, y + 40);
    std::string label;
    if (!axis.dated()) {
      label = std::to_string(t);
    } else {
      const std::string date = DateText(t);
      if (step < 60)
        label = date.substr(date.size() - 8);
      else if (step < 86400)
        label = same_day ? date.substr(date.size() - 8, 5) : date.substr(date.size() - 14, 11);
      else
        label = date.substr(0, date.size() - 9);
    }
    AppendText(out, "tick-label", x, y + 150, label);
  }
  if (!axis.dated())
    AppendText(out, "band", 0, y + 150, "game time");
  else if (same_day && step < 86400)
    AppendText(out, "band", 0, y + 150, first_date.substr(0, first_date.size() - 9));
}

// One marker: the losses (in time order) it stands for.
struct Marker {
  std::vector<std::size_t> sinkings;  // indexes in battle.sinkings
  std::int64_t x = 0;
  LabelSpan span;
  bool anchor_end = false;
};

std::string_view GroupName(const Sinking& sinking) {
  return sinking.group.empty() ? kNoGroup : std::string_view(sinking.group);
}

// Markers, their labels and leaders; returns how many got no label.
std::size_t AppendSinkings(std::string& out, const Battle& battle, int number,
                           const std::map<std::string, std::string>& labels,
                           const std::vector<Marker>& markers, const std::vector<int>& lanes,
                           std::int64_t marker_y) {
  // Leaders first, so that every label's halo covers those crossing it.
  std::size_t unlabelled = 0;
  for (std::size_t i = 0; i < markers.size(); ++i) {
    if (lanes[i] >= 0)
      AppendLine(out, "lead", markers[i].x, marker_y - 70, markers[i].x,
                 marker_y - 90 - lanes[i] * kLaneHeight);
    else
      ++unlabelled;
  }
  for (std::size_t i = 0; i < markers.size(); ++i) {
    const Marker& m = markers[i];
    if (lanes[i] < 0)
      continue;
    out += "<text class=\"sink-label";
    out += m.anchor_end ? " end" : "";
    out += "\" x=\"";
    AppendTenths(out, m.anchor_end ? m.span.right : m.span.left);
    out += "\" y=\"";
    AppendTenths(out, marker_y - 120 - lanes[i] * kLaneHeight);
    out += "\">";
    if (m.sinkings.size() > 1) {
      out += CountText(m.sinkings.size()) + " lost";
    } else {
      const Sinking& sinking = battle.sinkings[m.sinkings.front()];
      AppendHtml(out, labels.at(sinking.group));
      out += " &#183; ";
      AppendHtml(out, sinking.unit);
    }
    out += "</text>";
  }
  // Markers last, over the leaders; each a link to its first loss's row.
  // With script, a marker of losses at several moments zooms in on them
  // instead (data-zoom, their first and last game time): the script keeps
  // this drawing until the reader changes the window.
  for (const Marker& m : markers) {
    const Sinking& first = battle.sinkings[m.sinkings.front()];
    const Sinking& last = battle.sinkings[m.sinkings.back()];
    out += "<a href=\"#b" + std::to_string(number) + "-e" +
           std::to_string(battle.sinking_rows[m.sinkings.front()]) + "\"";
    if (last.at.game_time > first.at.game_time)
      out += " data-zoom=\"" + std::to_string(first.at.game_time) + " " +
             std::to_string(last.at.game_time) + "\"";
    out += " class=\"mark\"><circle class=\"sink\" cx=\"";
    AppendTenths(out, m.x);
    out += "\" cy=\"";
    AppendTenths(out, marker_y);
    out += m.sinkings.size() > 1 ? "\" r=\"7\"><title>" : "\" r=\"5\"><title>";
    if (m.sinkings.size() > 1)
      out += CountText(m.sinkings.size()) + " units lost from ";
    if (first.at.date.empty())
      out += "game time " + std::to_string(first.at.game_time);
    else
      AppendHtml(out, first.at.date);
    if (m.sinkings.size() > 1) {
      out += " to ";
      if (last.at.date.empty())
        out += "game time " + std::to_string(last.at.game_time);
      else
        AppendHtml(out, last.at.date);
      out += "; the first: ";
    } else {
      out += ": ";
    }
    AppendHtml(out, GroupName(first));
    out += ", unit ";
    AppendHtml(out, first.unit);
    out += "</title></circle></a>";
  }
  return unlabelled;
}

// The time factor as a step line from its first change to the end of the
// battle. Levels are the distinct factors in order, evenly spaced: the line
// shows when play sped up or slowed down, and the margin names the levels.
// The distinct factors of a battle, lowest first.
std::vector<std::int64_t> FactorLevels(const Battle& battle) {
  std::vector<std::int64_t> levels;
  for (const TimeFactorChange& change : battle.time_factors)
    levels.push_back(change.factor);
  std::sort(levels.begin(), levels.end());
  levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
  return levels;
}

// The band's height: room for every level to be named.
std::int64_t FactorBandHeight(std::size_t levels) {
  return std::max<std::int64_t>(kFactorBand, (static_cast<std::int64_t>(levels) - 1) * kLevelGap);
}

void AppendTimeFactors(std::string& out, const Battle& battle, const Axis& axis, std::int64_t top,
                       bool journal) {
  const std::vector<std::int64_t> levels = FactorLevels(battle);
  const std::int64_t band = FactorBandHeight(levels.size());
  const std::int64_t bottom = top + 240 + band;
  AppendText(out, "band", 0, top + 110, "Time factor");
  top += 240;  // the levels start below the band's name
  if (!journal) {
    AppendText(out, "none", kPlotLeft, top + band / 2 + 50,
               "not known: only the battle journal records time-factor changes, and none was "
               "read");
    return;
  }
  if (battle.time_factors.empty()) {
    AppendText(out, "none", kPlotLeft, top + band / 2 + 50, "no change of the time factor");
    return;
  }
  const std::int64_t steps = static_cast<std::int64_t>(levels.size()) - 1;
  auto level_y = [&](std::int64_t factor) {
    if (steps == 0)
      return top + band / 2;
    const auto rank = std::lower_bound(levels.begin(), levels.end(), factor) - levels.begin();
    return bottom - rank * band / steps;
  };
  // Every level is named: the band grows to give each its line.
  for (const std::int64_t level : levels)
    AppendText(out, "level", kPlotLeft - 60, level_y(level) + 50, "&#215;" + std::to_string(level));

  // The changes in time order, each date read once; equal times keep the
  // order of the files.
  std::vector<std::pair<std::int64_t, std::size_t>> order;  // seconds, index
  order.reserve(battle.time_factors.size());
  for (std::size_t i = 0; i < battle.time_factors.size(); ++i)
    order.emplace_back(axis.Seconds(battle.time_factors[i].at), i);
  std::sort(order.begin(), order.end());
  // Changes that land on one x leave only the last standing there. Past a
  // hundred changes, one slot of width counts as one x: the line then shows
  // the factor in force at each slot's end, and no longer fills the band
  // with strokes up and down.
  const bool dense = battle.time_factors.size() > 100;
  std::vector<std::pair<std::int64_t, std::int64_t>> points;  // x, y
  for (const auto& [seconds, i] : order) {
    std::int64_t x = axis.X(seconds);
    if (dense)
      x = kPlotLeft + (x - kPlotLeft) / kSlot * kSlot;
    const std::int64_t y = level_y(battle.time_factors[i].factor);
    if (!points.empty() && points.back().first == x)
      points.back().second = y;
    else if (points.empty() || points.back().second != y)
      points.emplace_back(x, y);
  }
  out += dense ? "<path class=\"step dense\" d=\"M" : "<path class=\"step\" d=\"M";
  AppendTenths(out, points[0].first);
  out += ' ';
  AppendTenths(out, points[0].second);
  for (std::size_t i = 1; i < points.size(); ++i) {
    out += 'H';
    AppendTenths(out, points[i].first);
    out += 'V';
    AppendTenths(out, points[i].second);
  }
  // To the battle's last moment, and a little past it: a change at that
  // very moment still shows the level it set.
  out += 'H';
  AppendTenths(out, std::max(axis.X(axis.hi()), points.back().first + 80));
  out += "\"/>";
}

// Messages counted per slot of the plot and drawn as one tick per slot,
// its height growing with the number of binary digits of its count.
void AppendMessageTicks(std::string& out, const Battle& battle, const Axis& axis,
                        std::int64_t bottom) {
  AppendText(out, "band", 0, bottom - 60, "Messages");
  if (battle.messages.empty()) {
    AppendText(out, "none", kPlotLeft, bottom - 60, "no message");
    return;
  }
  std::vector<std::size_t> slots((kPlotRight - kPlotLeft) / kSlot + 1, 0);
  for (const Message& message : battle.messages)
    ++slots[static_cast<std::size_t>((axis.X(message.at) - kPlotLeft) / kSlot)];
  const std::int64_t most = std::bit_width(*std::max_element(slots.begin(), slots.end()));
  out += "<path class=\"ticks\" d=\"";
  for (std::size_t slot = 0; slot < slots.size(); ++slot) {
    if (slots[slot] == 0)
      continue;
    const std::int64_t height =
        60 + static_cast<std::int64_t>(std::bit_width(slots[slot])) * (kTickBand - 60) / most;
    out += 'M';
    AppendTenths(out, kPlotLeft + static_cast<std::int64_t>(slot) * kSlot + kSlot / 2);
    out += ' ';
    AppendTenths(out, bottom);
    out += "v-";
    AppendTenths(out, height);
  }
  out += "\"/>";
}

}  // namespace

std::vector<int> AssignLanes(const std::vector<LabelSpan>& spans, int lanes, std::int64_t gap) {
  std::vector<std::size_t> order(spans.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return spans[a].left < spans[b].left; });
  std::vector<std::optional<std::int64_t>> lane_end(static_cast<std::size_t>(std::max(lanes, 0)));
  std::vector<int> assigned(spans.size(), -1);
  for (const std::size_t i : order) {
    for (std::size_t lane = 0; lane < lane_end.size(); ++lane) {
      if (!lane_end[lane] || *lane_end[lane] + gap <= spans[i].left) {
        lane_end[lane] = spans[i].right;
        assigned[i] = static_cast<int>(lane);
        break;
      }
    }
  }
  return assigned;
}

std::map<std::string, std::string> GroupLabels(const std::vector<Sinking>& sinkings) {
  // A name of more than `limit` bytes keeps its start and its last third:
  // squadrons 10 and 4 differ at the end.
  auto label = [](const std::string& name, std::size_t limit) {
    if (name.size() <= limit)
      return name;
    const std::size_t tail = limit / 3;
    return name.substr(0, limit - 1 - tail) + '\x85' + name.substr(name.size() - tail);
  };
  std::map<std::string, std::size_t> limits;
  for (const Sinking& sinking : sinkings)
    limits.emplace(sinking.group.empty() ? std::string(kNoGroup) : sinking.group, kLabelGroupBytes);
  // Names whose labels meet get longer ones, until none meet: every
  // round lengthens one at least, and whole names differ.
  for (bool met = true; met;) {
    met = false;
    std::map<std::string, std::vector<std::string>> names_of;
    for (const auto& [name, limit] : limits)
      names_of[label(name, limit)].push_back(name);
    for (const auto& [text, names] : names_of) {
      if (names.size() < 2)
        continue;
      for (const std::string& name : names) {
        std::size_t& limit = limits[name];
        if (limit < name.size()) {
          limit = std::min(name.size(), limit + 8);
          met = true;
        }
      }
    }
  }
  std::map<std::string, std::string> labels;
  for (const auto& [name, limit] : limits)
    labels[name == kNoGroup ? std::string() : name] = label(name, limit);
  // A group named "(no group)" and a group without a name: the second
  // keeps the label its name gives it.
  for (const Sinking& sinking : sinkings)
    labels.try_emplace(sinking.group, label(sinking.group, kLabelGroupBytes));
  return labels;
}

std::size_t AppendTimeline(std::string& out, const Battle& battle, int number, bool journal) {
  const Axis axis(battle);
  const std::map<std::string, std::string> labels = GroupLabels(battle.sinkings);

  // Losses along the axis in time order, those nearer than a marker's
  // width sharing one; each marker's label and the lane it takes.
  std::vector<Marker> markers;
  for (const LogRow& row : battle.log) {
    if (row.kind != EventKind::kLoss)
      continue;
    const std::int64_t x = axis.X(battle.sinkings[row.index].at);
    if (markers.empty() || x - markers.back().x >= kClusterSpan)
      markers.push_back({{}, x, {}, false});
    markers.back().sinkings.push_back(row.index);
  }
  std::vector<LabelSpan> spans;
  for (Marker& m : markers) {
    std::size_t chars = CountText(m.sinkings.size()).size() + 5;
    if (m.sinkings.size() == 1) {
      const Sinking& sinking = battle.sinkings[m.sinkings.front()];
      chars = labels.at(sinking.group).size() + 3 + sinking.unit.size();
    }
    const std::int64_t width = static_cast<std::int64_t>(chars) * kCharWidth;
    m.span = {m.x + 40, m.x + 40 + width};
    if (m.span.right > kWidth) {
      m.anchor_end = true;
      m.span = {m.x - 40 - width, m.x - 40};
    }
    spans.push_back(m.span);
  }
  const std::vector<int> lanes = AssignLanes(spans, kLanes, kLabelGap);
  const int lanes_used = lanes.empty() ? 0 : *std::max_element(lanes.begin(), lanes.end()) + 1;

  const std::int64_t marker_y = kTop + 120 + lanes_used * kLaneHeight;
  const std::int64_t factor_top = marker_y + 200;
  const std::int64_t factor_band = FactorBandHeight(FactorLevels(battle).size());
  const std::int64_t tick_bottom = factor_top + 240 + factor_band + 200 + kTickBand;
  const std::int64_t axis_y = tick_bottom + 40;
  const std::int64_t height = axis_y + 260;

  const std::string id = "timeline-" + std::to_string(number);
  out += "<svg class=\"timeline\" viewBox=\"0 0 ";
  AppendTenths(out, kWidth);
  out += ' ';
  AppendTenths(out, height);
  out += "\" role=\"group\" aria-labelledby=\"" + id + "-title\" aria-describedby=\"" + id +
         "-desc\"><title id=\"" + id + "-title\">Timeline of battle " + std::to_string(number) +
         "</title><desc id=\"" + id + "-desc\">";
  if (journal)
    out += CountText(battle.sinkings.size()) + " units lost, " +
           CountText(battle.time_factors.size()) + " time-factor changes, ";
  else
    out += "Losses and time-factor changes not known (no journal read); ";
  out += CountText(battle.messages.size()) +
         " messages. Each loss marker links to its row in the log.</desc>";
  AppendAxis(out, axis, kTop, axis_y);
  AppendText(out, "band", 0, marker_y + 50, "Losses");
  if (!journal)
    AppendText(out, "none", kPlotLeft, marker_y + 50,
               "not known: only the battle journal records losses, and none was read");
  else if (battle.sinkings.empty())
    AppendText(out, "none", kPlotLeft, marker_y + 50, "no unit lost");
  AppendTimeFactors(out, battle, axis, factor_top, journal);
  AppendMessageTicks(out, battle, axis, tick_bottom);
  const std::size_t unlabelled =
      AppendSinkings(out, battle, number, labels, markers, lanes, marker_y);
  out += "</svg>";
  return unlabelled;
}

void AppendTimelineFigure(std::string& out, const Battle& battle, int number, bool journal) {
  // What the script needs to draw the battle again at another scale: the
  // span of game time, and a date to carry forward for its labels.
  std::int64_t lo = battle.first.game_time, hi = battle.last.game_time;
  const std::optional<std::int64_t> start = DateSeconds(battle.start.date);
  out += "<figure class=\"timeline-figure\" data-battle=\"" + std::to_string(number) +
         "\" data-lo=\"" + std::to_string(lo) + "\" data-hi=\"" + std::to_string(hi) + "\"";
  if (start)
    out += " data-origin-t=\"" + std::to_string(battle.start.game_time) + "\" data-origin-s=\"" +
           std::to_string(*start) + "\"";
  out += journal ? ">" : " data-unknown=\"1\">";
  out +=
      "<div class=\"zoom\" hidden><span class=\"window-text\" aria-live=\"polite\"></span> "
      "<button type=\"button\" class=\"zoom-in\">Zoom in</button><button type=\"button\" "
      "class=\"zoom-out\">Zoom out</button><button type=\"button\" class=\"earlier\">"
      "Earlier</button><button type=\"button\" class=\"later\">Later</button><button "
      "type=\"button\" class=\"reset\">Whole battle</button></div><div class=\"scroll\">";
  const std::size_t unlabelled = AppendTimeline(out, battle, number, journal);
  out +=
      "</div><figcaption><span class=\"key-sink\">&#9679;</span> a unit lost, a larger "
      "marker several (each links to its row in the log) &#183; <span "
      "class=\"key-step\">&#8212;</span> the time factor &#183; | messages, taller where more "
      "came at once.<span class=\"zoom-help\" hidden> Drag across the drawing to look closer, "
      "or use the buttons, or + and &#8722; on the keyboard.</span>";
  if (unlabelled > 0)
    out += " " + CountText(unlabelled) + (unlabelled == 1 ? " marker has" : " markers have") +
           " no label for lack of room; Losses lists every one.";
  out += "</figcaption></figure>";
}

}  // namespace tarveld::aar
