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
constexpr std::int64_t kTop = 60;
constexpr std::int64_t kLaneHeight = 140;
constexpr int kLanes = 4;
constexpr std::int64_t kFactorBand = 640;
constexpr std::int64_t kTickBand = 300;
constexpr std::int64_t kSlot = 20;       // width of one message-tick slot
constexpr std::int64_t kCharWidth = 66;  // a generous average at 11 px
constexpr std::size_t kLabelGroupBytes = 18;
constexpr std::int64_t kLabelGap = 40;
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

struct PlacedSinking {
  std::size_t index;  // in battle.sinkings
  std::int64_t x;
  LabelSpan span;
  bool anchor_end;
};

std::string_view GroupName(const Sinking& sinking) {
  return sinking.group.empty() ? kNoGroup : std::string_view(sinking.group);
}

// Markers, their labels and leaders; returns how many got no label.
std::size_t AppendSinkings(std::string& out, const Battle& battle,
                           const std::vector<PlacedSinking>& placed, const std::vector<int>& lanes,
                           std::int64_t marker_y) {
  // Leaders first, so that every label's halo covers those crossing it.
  std::size_t unlabelled = 0;
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (lanes[i] >= 0)
      AppendLine(out, "lead", placed[i].x, marker_y - 50, placed[i].x,
                 marker_y - 70 - lanes[i] * kLaneHeight);
    else
      ++unlabelled;
  }
  for (std::size_t i = 0; i < placed.size(); ++i) {
    const PlacedSinking& p = placed[i];
    if (lanes[i] < 0)
      continue;
    const Sinking& sinking = battle.sinkings[p.index];
    out += "<text class=\"sink-label";
    out += p.anchor_end ? " end" : "";
    out += "\" x=\"";
    AppendTenths(out, p.anchor_end ? p.span.right : p.span.left);
    out += "\" y=\"";
    AppendTenths(out, marker_y - 100 - lanes[i] * kLaneHeight);
    out += "\">";
    AppendHtmlShortened(out, GroupName(sinking), kLabelGroupBytes);
    out += " \u00b7 ";
    AppendHtml(out, sinking.unit);
    out += "</text>";
  }
  // Markers last, over the leaders.
  for (const PlacedSinking& p : placed) {
    const Sinking& sinking = battle.sinkings[p.index];
    const std::string game_time = std::to_string(sinking.at.game_time);
    out += "<circle class=\"sink\" cx=\"";
    AppendTenths(out, p.x);
    out += "\" cy=\"";
    AppendTenths(out, marker_y);
    out += "\" r=\"4\"><title>";
    AppendHtml(out, GroupName(sinking));
    out += ", unit ";
    AppendHtml(out, sinking.unit);
    out += ", ";
    if (sinking.at.date.empty()) {
      out += "game time " + game_time;
    } else {
      AppendHtml(out, sinking.at.date);
      out += " (game time " + game_time + ")";
    }
    out += "</title></circle>";
  }
  return unlabelled;
}

// The time factor as a step line from its first change to the end of the
// battle. Levels are the distinct factors in order, evenly spaced: the line
// shows when play sped up or slowed down, and the margin names the levels.
void AppendTimeFactors(std::string& out, const Battle& battle, const Axis& axis, std::int64_t top) {
  const std::int64_t bottom = top + kFactorBand;
  AppendText(out, "band", 0, top + 110, "Time factor");
  if (battle.time_factors.empty()) {
    AppendText(out, "none", kPlotLeft, top + kFactorBand / 2 + 40, "no change of the time factor");
    return;
  }
  std::vector<std::int64_t> levels;
  for (const TimeFactorChange& change : battle.time_factors)
    levels.push_back(change.factor);
  std::sort(levels.begin(), levels.end());
  levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
  const std::int64_t steps = static_cast<std::int64_t>(levels.size()) - 1;
  auto level_y = [&](std::int64_t factor) {
    if (steps == 0)
      return top + kFactorBand / 2;
    const auto rank = std::lower_bound(levels.begin(), levels.end(), factor) - levels.begin();
    return bottom - rank * kFactorBand / steps;
  };
  // Every level is named when there are few; else the lowest and highest.
  for (std::size_t i = 0; i < levels.size(); ++i) {
    if (levels.size() <= 5 || i == 0 || i + 1 == levels.size())
      AppendText(out, "level", kPlotLeft - 60, level_y(levels[i]) + 40,
                 "\u00d7" + std::to_string(levels[i]));
  }

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
  out += 'H';
  AppendTenths(out, axis.X(axis.hi()));
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

std::size_t AppendTimeline(std::string& out, const Battle& battle, int number) {
  const Axis axis(battle);

  // Sinkings along the axis, each label's extent, and the lanes they take.
  std::vector<PlacedSinking> placed;
  std::vector<LabelSpan> spans;
  for (std::size_t i = 0; i < battle.sinkings.size(); ++i) {
    const Sinking& sinking = battle.sinkings[i];
    const std::size_t group_bytes = std::min(GroupName(sinking).size(), kLabelGroupBytes + 1);
    const std::int64_t width =
        static_cast<std::int64_t>(group_bytes + 3 + sinking.unit.size()) * kCharWidth;
    PlacedSinking p{i, axis.X(sinking.at), {}, false};
    p.span = {p.x + 30, p.x + 30 + width};
    if (p.span.right > kWidth) {
      p.anchor_end = true;
      p.span = {p.x - 30 - width, p.x - 30};
    }
    placed.push_back(p);
    spans.push_back(p.span);
  }
  const std::vector<int> lanes = AssignLanes(spans, kLanes, kLabelGap);
  const int lanes_used = lanes.empty() ? 0 : *std::max_element(lanes.begin(), lanes.end()) + 1;

  const std::int64_t marker_y = kTop + 100 + lanes_used * kLaneHeight;
  const std::int64_t factor_top = marker_y + 160;
  const std::int64_t tick_bottom = factor_top + kFactorBand + 160 + kTickBand;
  const std::int64_t axis_y = tick_bottom + 40;
  const std::int64_t height = axis_y + 220;

  out += "<svg class=\"timeline\" viewBox=\"0 0 ";
  AppendTenths(out, kWidth);
  out += ' ';
  AppendTenths(out, height);
  out += "\" role=\"img\" aria-labelledby=\"timeline-title-" + std::to_string(number) +
         "\"><title id=\"timeline-title-" + std::to_string(number) + "\">Timeline of battle " +
         std::to_string(number) + ": " + CountText(battle.sinkings.size()) + " sinkings, " +
         CountText(battle.messages.size()) + " messages, " + CountText(battle.time_factors.size()) +
         " time-factor changes</title>";
  AppendAxis(out, axis, kTop, axis_y);
  AppendText(out, "band", 0, marker_y + 40, "Sinkings");
  if (battle.sinkings.empty())
    AppendText(out, "none", kPlotLeft, marker_y + 40, "no unit lost");
  AppendTimeFactors(out, battle, axis, factor_top);
  AppendMessageTicks(out, battle, axis, tick_bottom);
  const std::size_t unlabelled = AppendSinkings(out, battle, placed, lanes, marker_y);
  out += "</svg>";
  return unlabelled;
}

}  // namespace tarveld::aar
