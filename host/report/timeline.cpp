#include "host/report/timeline.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "host/report/timeline_scale.h"
#include "host/script/key_names.h"
#include "receiver/device.h"
#include "text/format.h"

namespace kolvane {
namespace host {
namespace {

using testbed::Format;

// Layout in pixels, top to bottom.
constexpr double kLeft = 90;
constexpr double kRight = 40;
constexpr double kTitleY = 24;
constexpr double kLegendY = 48;
constexpr double kLegendLineHeight = 20;
constexpr double kRunLabelY = kLegendY + 3 * kLegendLineHeight;  // below at most three legend lines
constexpr double kFindingY = kRunLabelY + 16;
constexpr double kPlotTop = kFindingY + 30;
constexpr double kPlotHeight = 200;
constexpr double kPollTop = kPlotTop + kPlotHeight + 20;
constexpr double kPollHeight = 16;
constexpr double kLateLabelY = kPollTop + kPollHeight + 11;
constexpr double kKeyY = kPollTop + kPollHeight + 36;
constexpr double kAxisY = kKeyY + 110;
constexpr double kCutLabelY = kAxisY + 36;
constexpr double kListTop = kAxisY + 62;
constexpr double kListLineHeight = 18;
constexpr double kBottomMargin = 16;
constexpr double kMinWidth = 1000;
constexpr double kMaxPlotWidth = kTimelineMaxWidth - kLeft - kRight;
// Time axis: ticks at least this far apart, at the first of the intervals below
// that keeps them so.
constexpr double kMinorTickSpacing = 10;
constexpr double kLabelSpacing = 60;
constexpr int kTickIntervalsMs[] = {100,   200,   500,    1000,   2000,   5000,    10000,   20000,
                                    30000, 60000, 120000, 300000, 600000, 1200000, 1800000, 3600000};
// About how wide a character is: at font-size 10, at 12.
constexpr double kSmallCharWidth = 6;
constexpr double kCharWidth = 7;
// Labels of one row at least this far apart; a key's label is turned by
// kKeyLabelTurn degrees, so it takes this much of the row whatever its length.
constexpr double kLabelGap = 6;
constexpr double kKeyLabelRoom = 20;
constexpr int kKeyLabelTurn = 40;
constexpr int64_t kUsPerMs = 1000;

constexpr char kByteColour[] = "#1f4e99";
constexpr char kPollColour[] = "#666";
constexpr char kIdleColour[] = "#999";
constexpr char kFreshColour[] = "#c0392b";
constexpr char kHeldColour[] = "#e08e0b";  // the held state and the repeats it makes
constexpr char kLateColour[] = "#d62728";
constexpr char kFindingColour[] = "#7d3c98";
constexpr char kRunColour[] = "#333";

// Which bit of the receiver byte the single bit `bit` is.

std::string Xml(const std::string& text) {
  std::string xml;
  for (const char c : text) {
    switch (c) {
      case '&': xml += "&amp;"; break;
      case '<': xml += "&lt;"; break;
      case '>': xml += "&gt;"; break;
      case '"': xml += "&quot;"; break;
      default: xml += c;
    }
  }
  return xml;
}

// `text` cut to at most `bytes`, at a character's start, marked with "...".
std::string Shortened(const std::string& text, size_t bytes) {
  constexpr char kMore[] = "...";
  constexpr unsigned char kContinuationMask = 0xC0;
  constexpr unsigned char kContinuation = 0x80;
  if (text.size() <= bytes) return text;
  size_t end = bytes > sizeof kMore ? bytes - sizeof kMore : 0;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & kContinuationMask) == kContinuation) --end;
  return text.substr(0, end) + kMore;
}

// One row of labels: a label is drawn only where it keeps clear of those
// drawn before it, so a long session does not smear them over each other.
class LabelRow {
 public:
  bool Take(double x, double width) {
    const auto after = taken_.lower_bound(x);
    if (after != taken_.end() && after->first < x + width + kLabelGap) return false;
    if (after != taken_.begin() && std::prev(after)->second + kLabelGap > x) return false;
    taken_.emplace(x, x + width);
    return true;
  }

 private:
  std::map<double, double> taken_;  // each label's start and end
};

// The picture's size and clock.
class Canvas {
 public:
  Canvas(const TimeScale& scale, size_t listed)
      : scale_(scale),
        width_(std::max(kMinWidth, kLeft + scale.Width() + kRight)),
        height_(kListTop + kListLineHeight * static_cast<double>(listed) + kBottomMargin) {}
  double X(int64_t us) const { return kLeft + scale_.X(us); }
  static double Y(uint8_t byte) { return kPlotTop + kPlotHeight - kPlotHeight * byte / double{kReceiverByteMask}; }
  double width() const { return width_; }
  double height() const { return height_; }
  const TimeScale& scale() const { return scale_; }

 private:
  const TimeScale& scale_;
  double width_;
  double height_;
};

// When something happens: the stretches between are the quiet ones a
// TimeScale may cut.
std::vector<int64_t> EventTimes(const SessionRecord& record, const std::vector<TimelineFinding>& findings) {
  std::vector<int64_t> us;
  for (const ByteRecord& change : record.receiver) us.push_back(change.us);
  for (const KeyReport& report : record.reports) us.push_back(report.us);
  for (const LatePollRecord& late : record.latePolls) {
    us.push_back(late.us - late.lateUs);
    us.push_back(late.us);
  }
  for (const RunStartRecord& run : record.runStarts) us.push_back(run.us);
  for (const TimelineFinding& finding : findings) {
    for (const TimelineEvidence& evidence : finding.evidence) us.push_back(evidence.us);
  }
  return us;
}

std::string LegendLine(double x, double y, const char* colour, int width) {
  return Format("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\" stroke-width=\"%d\"/>", x, y - 4,
                x + 16, y - 4, colour, width);
}

// The legend's first line: the byte, the polls, the keys.
void LegendOfSession(std::string& svg) {
  double x = 16;
  const double y = kLegendY;
  auto item = [&](const std::string& mark, const std::string& text, double width) {
    svg += mark + Format("<text x=\"%.0f\" y=\"%.0f\">%s</text>\n", x + 22, y, text.c_str());
    x += width;
  };
  item(LegendLine(x, y, kByteColour, 2), "key code", 100);
  item(LegendLine(x, y, kHeldColour, 4), Format("held (bit %d set)", kHeldBitIndex), 140);
  item(LegendLine(x, y, kIdleColour, 2), Format("idle 0x%02X", static_cast<unsigned>(kIdleReceiverByte)), 100);
  item(Format("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\"/>", x + 8, y - 11, x + 8, y + 1,
              kPollColour),
       Format("poll of 0x%X (every %u ms)", static_cast<unsigned>(kRegisterReceiver),
              static_cast<unsigned>(kPollPeriodMs)),
       210);
  item(Format("<circle cx=\"%.0f\" cy=\"%.0f\" r=\"5\" fill=\"%s\"/>", x + 8, y - 4, kFreshColour),
       "key reported: fresh press", 190);
  item(Format("<path d=\"M%.0f %.0f l6 6 l-6 6 l-6 -6 z\" fill=\"#fff\" stroke=\"%s\" stroke-width=\"2\"/>", x + 8,
              y - 10, kHeldColour),
       "key reported: repeat of a held key", 0);
}

// What the legend's second line shows: only what the picture has.
struct Shown {
  bool tracePolls;  // no poll of its own, a trace's runs
  bool latePolls;
  bool findings;
  bool runs;
  bool cuts;
};

// The legend's further lines: what a trace recorded, what --explain found,
// what was cut short; an item that does not fit starts the next line.
class LegendRows {
 public:
  LegendRows(std::string& svg, double width) : svg_(svg), width_(width) {}
  // `mark(x, y)` draws the item's mark for its text at x + kMarkRoom, y.
  template <typename Mark>
  void Add(bool wanted, const Mark& mark, const std::string& text) {
    if (!wanted) return;
    constexpr double kItemGap = 24;
    const double room = kMarkRoom + kCharWidth * static_cast<double>(text.size()) + kItemGap;
    if (x_ + room > width_ && x_ > kStartX) {
      x_ = kStartX;
      y_ += kLegendLineHeight;
    }
    svg_ += mark(x_, y_) + Format("<text x=\"%.0f\" y=\"%.0f\">%s</text>\n", x_ + kMarkRoom, y_, text.c_str());
    x_ += room;
  }

 private:
  static constexpr double kStartX = 16;
  static constexpr double kMarkRoom = 22;
  std::string& svg_;
  double width_;
  double x_ = kStartX;
  double y_ = kLegendY + kLegendLineHeight;
};

void LegendOfTrace(std::string& svg, const Shown& shown, double width) {
  LegendRows rows(svg, width);
  rows.Add(
      shown.tracePolls, [](double, double) { return std::string(); },
      Format("polls every %u ms: a trace notes the late ones only", static_cast<unsigned>(kPollPeriodMs)));
  rows.Add(
      shown.latePolls,
      [](double x, double y) {
        return Format(
            "<rect x=\"%.0f\" y=\"%.0f\" width=\"16\" height=\"10\" fill=\"%s\" fill-opacity=\"0.35\" "
            "stroke=\"%s\"/>",
            x, y - 9, kLateColour, kLateColour);
      },
      "late poll noted in the trace, from when it was due");
  rows.Add(
      shown.findings,
      [](double x, double y) {
        return Format("<circle cx=\"%.0f\" cy=\"%.0f\" r=\"7\" fill=\"%s\"/>", x + 8, y - 4, kFindingColour);
      },
      "finding of --explain at its evidence (trace line)");
  rows.Add(
      shown.runs, [](double x, double y) { return LegendLine(x, y, kRunColour, 2); }, "start of a run");
  rows.Add(
      shown.cuts,
      [](double x, double y) {
        return Format("<path d=\"M%.0f %.0f l4 -12 M%.0f %.0f l4 -12\" stroke=\"#333\"/>", x + 4, y + 2, x + 10, y + 2);
      },
      "quiet stretch cut short (its length under the axis)");
}

void Header(std::string& svg, const Canvas& canvas, const std::string& title, const Shown& shown) {
  svg += Format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
      "font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n",
      canvas.width(), canvas.height(), canvas.width(), canvas.height());
  svg += Format("<rect width=\"%.0f\" height=\"%.0f\" fill=\"#fff\"/>\n", canvas.width(), canvas.height());
  svg += Format("<text x=\"16\" y=\"%.0f\" font-size=\"16\" font-weight=\"bold\">", kTitleY) + Xml(title) + "</text>\n";
  LegendOfSession(svg);
  LegendOfTrace(svg, shown, canvas.width());
}

void ByteAxis(std::string& svg, const Canvas& canvas) {
  for (const unsigned byte : {0x00u, 0x40u, 0x80u, 0xC0u, kReceiverByteMask}) {
    const double y = Canvas::Y(static_cast<uint8_t>(byte));
    svg += Format("<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>", kLeft, y,
                  canvas.width() - kRight, y);
    svg +=
        Format("<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\" fill=\"#555\">0x%02X</text>\n", kLeft - 8, y + 4, byte);
  }
  // Its name turned along the plot's left edge, clear of the plot.
  constexpr double kNameX = 28;
  const double middle = kPlotTop + kPlotHeight / 2;
  svg += Format(
      "<text x=\"%.0f\" y=\"%.0f\" transform=\"rotate(-90 %.0f %.0f)\" text-anchor=\"middle\" "
      "fill=\"#555\">receiver byte</text>\n",
      kNameX, middle, kNameX, middle);
  svg += Format(
      "<text x=\"%.0f\" y=\"%.0f\" transform=\"rotate(-90 %.0f %.0f)\" text-anchor=\"middle\" "
      "font-size=\"10\" fill=\"#555\">bits %u-%u of 0x%X</text>\n",
      kNameX + 14, middle, kNameX + 14, middle, static_cast<unsigned>(kReceiverByteShift),
      static_cast<unsigned>(kReceiverByteShift + 7), static_cast<unsigned>(kRegisterReceiver));
}

bool IsHeldKeyByte(uint8_t byte) { return byte != kIdleReceiverByte && IsHeldByte(byte); }

// The byte as a staircase line: idle grey, a key's code blue, the held state
// (the held bit set, not idle) orange and thick, so a hold stands out even where
// code and code | 1 lie one pixel apart.
const char* SegmentColour(uint8_t byte) {
  if (byte == kIdleReceiverByte) return kIdleColour;
  return IsHeldKeyByte(byte) ? kHeldColour : kByteColour;
}

// A byte other than idle is labelled where its label has room.
void ByteLabel(std::string& svg, double x, uint8_t byte, LabelRow& labels) {
  if (byte == kIdleReceiverByte) return;
  const std::string text = Format("0x%02X%s", byte, IsHeldKeyByte(byte) ? " held" : "");
  if (!labels.Take(x, kSmallCharWidth * static_cast<double>(text.size()))) return;
  svg += Format("<text class=\"label byte\" x=\"%.1f\" y=\"%.1f\" font-size=\"10\" fill=\"%s\">%s</text>", x + 3,
                Canvas::Y(byte) - 5, SegmentColour(byte), text.c_str());
}

void ReceiverLine(std::string& svg, const Canvas& canvas, const SessionRecord& record) {
  const std::vector<ByteRecord>& changes = record.receiver;
  LabelRow labels;
  for (size_t i = 0; i < changes.size(); ++i) {
    const double x1 = canvas.X(changes[i].us);
    const double x2 = canvas.X(i + 1 < changes.size() ? changes[i + 1].us : record.endUs);
    const uint8_t byte = changes[i].byte;
    const double y = Canvas::Y(byte);
    if (i > 0) {
      svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>", x1,
                    Canvas::Y(changes[i - 1].byte), x1, y, kIdleColour);
    }
    const bool held = IsHeldKeyByte(byte);
    svg += Format(
        "<line class=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
        "stroke-width=\"%d\"/>",
        held ? "receiver held" : "receiver", x1, y, x2, y, SegmentColour(byte), held ? 4 : 2);
    ByteLabel(svg, x1, byte, labels);
    svg += "\n";
  }
}

// Polls closer than a pixel to the last one drawn share its tick. A trace
// records no poll but the late ones: the legend says so.
void Polls(std::string& svg, const Canvas& canvas, const SessionRecord& record) {
  svg += Format("<text x=\"16\" y=\"%.0f\" fill=\"#555\">polls</text>\n", kPollTop + 12);
  double drawn = -1;
  for (const ByteRecord& poll : record.polls) {
    const double x = canvas.X(poll.us);
    if (drawn >= 0 && x - drawn < 1) continue;
    drawn = x;
    svg += Format("<line class=\"poll\" x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"%s\"/>\n", x, kPollTop,
                  x, kPollTop + kPollHeight, kPollColour);
  }
}

// Each late poll the trace noted: a bar from when it was due to when it came.
void LatePolls(std::string& svg, const Canvas& canvas, const SessionRecord& record) {
  LabelRow labels;
  for (const LatePollRecord& late : record.latePolls) {
    const double x1 = canvas.X(late.us - late.lateUs);
    const double x2 = std::max(canvas.X(late.us), x1 + 1);
    const auto lateMs = static_cast<long long>(late.lateUs / kUsPerMs);
    svg += Format(
        "<rect class=\"late-poll\" data-line=\"%d\" x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" "
        "fill=\"%s\" fill-opacity=\"0.35\" stroke=\"%s\"><title>line %d: poll %lld ms late</title></rect>",
        late.line, x1, kPollTop, x2 - x1, kPollHeight, kLateColour, kLateColour, late.line, lateMs);
    const std::string text = Format("%lld ms late", lateMs);
    if (labels.Take(x1, kSmallCharWidth * static_cast<double>(text.size()))) {
      svg += Format("<text class=\"label late\" x=\"%.1f\" y=\"%.0f\" font-size=\"10\" fill=\"%s\">%s</text>", x1,
                    kLateLabelY, kLateColour, text.c_str());
    }
    svg += "\n";
  }
}

// The first tick interval that puts ticks at least `spacing` pixels apart.
int64_t TickIntervalMs(double scale, double spacing) {
  for (const int interval : kTickIntervalsMs) {
    if (interval * scale >= spacing) return interval;
  }
  return kTickIntervalsMs[sizeof kTickIntervalsMs / sizeof kTickIntervalsMs[0] - 1];
}

// What a report's label says: a fresh press its key; the first of a series
// of repeats how many follow, and its key too when no press of it came
// before; the rest of a series nothing.
std::string KeyLabel(const std::vector<KeyReport>& reports, size_t i) {
  const KeyReport& report = reports[i];
  if (!report.repeat) return KeyDisplayName(report.name, report.label);
  const bool afterItsKey = i > 0 && reports[i - 1].name == report.name;
  if (afterItsKey && reports[i - 1].repeat) return "";
  size_t series = 1;
  while (i + series < reports.size() && reports[i + series].repeat && reports[i + series].name == report.name) {
    ++series;
  }
  const std::string count = std::to_string(series) + (series == 1 ? " repeat" : " repeats");
  return afterItsKey ? count : KeyDisplayName(report.name, report.label) + ": " + count;
}

void KeyMark(std::string& svg, double x, const KeyReport& report) {
  const char* colour = report.repeat ? kHeldColour : kFreshColour;
  // A faint line up through the byte plot shows which change it answers.
  svg += Format(
      "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"%s\" stroke-opacity=\"0.35\" "
      "stroke-dasharray=\"3 3\"/>",
      x, kPlotTop, x, kKeyY, colour);
  if (!report.repeat) {
    svg += Format("<circle class=\"key fresh\" cx=\"%.1f\" cy=\"%.0f\" r=\"5\" fill=\"%s\"/>", x, kKeyY, colour);
  } else {
    svg += Format(
        "<path class=\"key repeat\" d=\"M%.1f %.0f l6 6 l-6 6 l-6 -6 z\" fill=\"#fff\" stroke=\"%s\" "
        "stroke-width=\"2\"/>",
        x, kKeyY - 6, colour);
  }
}

void Keys(std::string& svg, const Canvas& canvas, const SessionRecord& record) {
  svg += Format("<text x=\"16\" y=\"%.0f\" fill=\"#555\">keys</text>\n", kKeyY + 4);
  LabelRow labels;
  for (size_t i = 0; i < record.reports.size(); ++i) {
    const KeyReport& report = record.reports[i];
    const double x = canvas.X(report.us);
    KeyMark(svg, x, report);
    const std::string text = KeyLabel(record.reports, i);
    if (!text.empty() && labels.Take(x, kKeyLabelRoom - kLabelGap)) {
      svg += Format(
          "<text class=\"label key\" x=\"%.1f\" y=\"%.0f\" transform=\"rotate(%d %.1f %.0f)\" fill=\"%s\">%s</text>", x,
          kKeyY + 16, kKeyLabelTurn, x, kKeyY + 16, report.repeat ? kHeldColour : kFreshColour, Xml(text).c_str());
    }
    svg += "\n";
  }
}

// A line across the picture where each run of a trace begins.
void RunStarts(std::string& svg, const Canvas& canvas, const SessionRecord& record) {
  LabelRow labels;
  for (size_t i = 0; i < record.runStarts.size(); ++i) {
    const RunStartRecord& run = record.runStarts[i];
    const double x = canvas.X(run.us);
    svg += Format(
        "<line class=\"run-start\" data-line=\"%d\" x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" "
        "stroke=\"%s\" stroke-width=\"2\"/>",
        run.headerLine, x, kRunLabelY - 12, x, kAxisY, kRunColour);
    const std::string text = "run " + std::to_string(i + 1) + Format(", line %d", run.headerLine);
    if (labels.Take(x, kCharWidth * static_cast<double>(text.size()))) {
      svg += Format("<text class=\"label run\" x=\"%.1f\" y=\"%.0f\" fill=\"%s\">%s</text>", x + 4, kRunLabelY,
                    kRunColour, text.c_str());
    }
    svg += "\n";
  }
}

// "2.5s" below a minute, "1:05:00" or "12:30" above; with tenths where
// the time has them ("12:30.4"), as after a cut.
std::string TimeLabel(int64_t ms) {
  constexpr int64_t kMinuteMs = 60000;
  constexpr int64_t kHourMs = 60 * kMinuteMs;
  constexpr int64_t kTenthMs = 100;
  if (ms < kMinuteMs) return Format("%.1fs", static_cast<double>(ms) / 1000.0);
  const auto seconds = static_cast<int>(ms / 1000 % 60);
  const auto minutes = static_cast<int>(ms / kMinuteMs % 60);
  const auto tenths = static_cast<int>(ms % 1000 / kTenthMs);
  const std::string fraction = tenths != 0 ? Format(".%d", tenths) : "";
  if (ms < kHourMs) return Format("%d:%02d", minutes, seconds) + fraction;
  return Format("%d:%02d:%02d", static_cast<int>(ms / kHourMs), minutes, seconds) + fraction;
}

void TimeText(std::string& svg, double x, int64_t ms, LabelRow& labels) {
  const std::string text = TimeLabel(ms);
  const double width = kCharWidth * static_cast<double>(text.size());
  if (!labels.Take(x - width / 2, width)) return;
  svg += Format("<text class=\"label time\" x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\" fill=\"#333\">%s</text>", x,
                kAxisY + 22, text.c_str());
}

// The axis over [fromMs, toMs], a stretch that was not cut: ticks on the
// tick intervals, labels on the larger intervals where they have room, and its first
// time labelled when it follows a cut.
void AxisStretch(std::string& svg, const Canvas& canvas, int64_t fromMs, int64_t toMs, LabelRow& labels) {
  const double scale = canvas.scale().PixelsPerMs();
  const int64_t minorMs = TickIntervalMs(scale, kMinorTickSpacing);
  int64_t labelMs = TickIntervalMs(scale, kLabelSpacing);
  while (labelMs % minorMs != 0) labelMs += TickIntervalMs(scale, kLabelSpacing);
  svg += Format("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#333\"/>\n",
                canvas.X(fromMs * kUsPerMs), kAxisY, canvas.X(toMs * kUsPerMs), kAxisY);
  if (fromMs > 0) TimeText(svg, canvas.X(fromMs * kUsPerMs), fromMs, labels);
  for (int64_t ms = (fromMs + minorMs - 1) / minorMs * minorMs; ms <= toMs; ms += minorMs) {
    const double x = canvas.X(ms * kUsPerMs);
    const bool labelled = ms % labelMs == 0;
    svg += Format("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#333\"/>", x, kAxisY, x,
                  kAxisY + (labelled ? 8 : 4));
    if (labelled) TimeText(svg, x, ms, labels);
    svg += "\n";
  }
}

void TimeAxis(std::string& svg, const Canvas& canvas) {
  LabelRow labels;
  int64_t fromMs = 0;
  for (const QuietCut& cut : canvas.scale().Cuts()) {
    AxisStretch(svg, canvas, fromMs, cut.fromUs / kUsPerMs, labels);
    fromMs = (cut.toUs + kUsPerMs - 1) / kUsPerMs;
  }
  AxisStretch(svg, canvas, fromMs, canvas.scale().EndUs() / kUsPerMs, labels);
}

// Each cut: blank, with two slanted strokes across the plot and the axis
// and how long it was below.
void Cuts(std::string& svg, const Canvas& canvas) {
  constexpr double kSlant = 6;
  const double width = canvas.scale().BreakWidth();
  LabelRow labels;
  for (const QuietCut& cut : canvas.scale().Cuts()) {
    const double x = kLeft + cut.x;
    svg += Format("<rect class=\"cut\" x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" fill=\"#fff\"/>", x,
                  kPlotTop - 4, width, kAxisY + 10 - (kPlotTop - 4));
    for (const double stroke : {x + width / 3, x + 2 * width / 3}) {
      svg += Format("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#333\"/>", stroke - kSlant / 2,
                    kAxisY + 10, stroke + kSlant / 2, kPlotTop - 4);
    }
    const std::string text = "cut " + TimeLabel((cut.toUs - cut.fromUs) / kUsPerMs);
    if (labels.Take(x, kSmallCharWidth * static_cast<double>(text.size()))) {
      svg += Format(
          "<text class=\"label cut\" x=\"%.1f\" y=\"%.0f\" font-size=\"10\" text-anchor=\"middle\" "
          "fill=\"#333\">%s</text>",
          x + width / 2, kCutLabelY, text.c_str());
    }
    svg += "\n";
  }
}

// "lines 6, 10 and 3 more", "line 6"
std::string EvidenceLines(const TimelineFinding& finding) {
  std::string lines;
  for (const TimelineEvidence& evidence : finding.evidence) {
    lines += (lines.empty() ? "" : ", ") + std::to_string(evidence.line);
  }
  const bool one = finding.evidence.size() == 1 && finding.moreEvidence == 0;
  std::string text = (one ? "line " : "lines ") + lines;
  if (finding.moreEvidence > 0) text += " and " + std::to_string(finding.moreEvidence) + " more";
  return text;
}

// Where a finding's evidence is: a numbered mark and its trace line.
void FindingMarks(std::string& svg, const Canvas& canvas, const TimelineFinding& finding, size_t number,
                  LabelRow& labels) {
  for (const TimelineEvidence& evidence : finding.evidence) {
    const double x = canvas.X(evidence.us);
    svg += Format(
        "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"%s\" stroke-opacity=\"0.6\" "
        "stroke-dasharray=\"2 4\"/>",
        x, kFindingY, x, kKeyY, kFindingColour);
    svg += Format(
        "<circle cx=\"%.1f\" cy=\"%.0f\" r=\"7\" fill=\"%s\"/><text x=\"%.1f\" y=\"%.0f\" font-size=\"10\" "
        "text-anchor=\"middle\" fill=\"#fff\">%s</text>",
        x, kFindingY, kFindingColour, x, kFindingY + 4, std::to_string(number).c_str());
    const std::string text = Format("line %d", evidence.line);
    if (labels.Take(x + 9, kSmallCharWidth * static_cast<double>(text.size()))) {
      svg += Format("<text class=\"label evidence\" x=\"%.1f\" y=\"%.0f\" font-size=\"10\" fill=\"%s\">%s</text>",
                    x + 9, kFindingY + 4, kFindingColour, text.c_str());
    }
  }
}

// Each finding: its marks on the plot and its line in the list below the
// axis, with every evidence line it names.
void Findings(std::string& svg, const Canvas& canvas, const std::vector<TimelineFinding>& findings) {
  if (findings.empty()) return;
  svg += Format("<text x=\"16\" y=\"%.0f\" font-weight=\"bold\">what --explain found</text>\n",
                kListTop - kListLineHeight);
  const auto listBytes = static_cast<size_t>((canvas.width() - 32) / kCharWidth);
  LabelRow labels;
  for (size_t i = 0; i < findings.size(); ++i) {
    const TimelineFinding& finding = findings[i];
    std::string lines;
    for (const TimelineEvidence& evidence : finding.evidence) {
      lines += (lines.empty() ? "" : " ") + std::to_string(evidence.line);
    }
    svg += Format("<g class=\"finding\" data-kind=\"%s\" data-lines=\"%s\"><title>%s</title>",
                  Xml(finding.kind).c_str(), lines.c_str(), Xml(finding.summary).c_str());
    FindingMarks(svg, canvas, finding, i + 1, labels);
    const std::string where = finding.run.empty() ? "" : ", " + finding.run;
    const std::string text =
        std::to_string(i + 1) + ". " + finding.kind + where + ", " + EvidenceLines(finding) + ": " + finding.summary;
    svg += Format("<text class=\"finding-line\" x=\"16\" y=\"%.0f\" fill=\"%s\">%s</text></g>\n",
                  kListTop + kListLineHeight * static_cast<double>(i), kFindingColour,
                  Xml(Shortened(text, listBytes)).c_str());
  }
}

}  // namespace

std::string RenderTimeline(const SessionRecord& record, const std::string& title,
                           const std::vector<TimelineFinding>& findings) {
  const TimeScale scale(EventTimes(record, findings), record.endUs, kMaxPlotWidth);
  const Canvas canvas(scale, findings.size());
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const Shown shown{record.polls.empty() && !record.runStarts.empty(), !record.latePolls.empty(), !findings.empty(),
                    !record.runStarts.empty(), !scale.Cuts().empty()};
  Header(svg, canvas, title, shown);
  ByteAxis(svg, canvas);
  ReceiverLine(svg, canvas, record);
  Polls(svg, canvas, record);
  LatePolls(svg, canvas, record);
  Keys(svg, canvas, record);
  Cuts(svg, canvas);
  RunStarts(svg, canvas, record);
  TimeAxis(svg, canvas);
  Findings(svg, canvas, findings);
  svg += "</svg>\n";
  return svg;
}

}  // namespace host
}  // namespace kolvane
