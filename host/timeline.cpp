#include "host/timeline.h"

#include <algorithm>

#include "host/key_names.h"
#include "receiver/device.h"
#include "testbed/format.h"

namespace kolvane {
namespace host {
namespace {

using testbed::Format;

// Layout in pixels.
constexpr double kLeft = 90;
constexpr double kRight = 40;
constexpr double kPlotTop = 80;
constexpr double kPlotHeight = 200;
constexpr double kPollTop = kPlotTop + kPlotHeight + 20;
constexpr double kPollHeight = 16;
constexpr double kKeyY = kPollTop + kPollHeight + 24;
constexpr double kAxisY = kKeyY + 110;
constexpr double kHeight = kAxisY + 40;
constexpr double kMinWidth = 1000;
// 0.5 px per ms puts polls kPollPeriodMs / 2 px apart. A longer session is scaled to
// fit kMaxWidth, so a trace of hours is as wide as one of seconds.
constexpr double kPixelsPerMs = 0.5;
constexpr double kMaxWidth = 4000;
constexpr double kMaxPlotWidth = kMaxWidth - kLeft - kRight;
// Time axis: ticks at least this far apart, at the first of the steps below
// that keeps them so.
constexpr double kMinorTickSpacing = 10;
constexpr double kLabelSpacing = 60;
constexpr int kTickStepsMs[] = {100,   200,   500,    1000,   2000,   5000,    10000,   20000,
                                30000, 60000, 120000, 300000, 600000, 1200000, 1800000, 3600000};

constexpr char kByteColour[] = "#1f4e99";
constexpr char kPollColour[] = "#666";
constexpr char kIdleColour[] = "#999";
constexpr char kFreshColour[] = "#c0392b";
constexpr char kHeldColour[] = "#e08e0b";  // the held state and the repeats it makes

// Which bit of the receiver byte the single bit `bit` is.
constexpr int BitIndex(uint32_t bit) { return bit <= 1 ? 0 : 1 + BitIndex(bit >> 1); }

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

class Canvas {
 public:
  explicit Canvas(const SessionRecord& record) {
    const double endMs = std::max(1.0, static_cast<double>(record.endUs) / 1000.0);
    scale_ = std::min(kPixelsPerMs, kMaxPlotWidth / endMs);
    endMs_ = endMs;
    width_ = std::max(kMinWidth, kLeft + endMs * scale_ + kRight);
  }
  double X(int64_t us) const { return kLeft + static_cast<double>(us) / 1000.0 * scale_; }
  static double Y(uint8_t byte) { return kPlotTop + kPlotHeight - kPlotHeight * byte / double{kReceiverByteMask}; }
  double width() const { return width_; }
  double endMs() const { return endMs_; }
  double scale() const { return scale_; }

 private:
  double scale_ = kPixelsPerMs;
  double endMs_ = 1;
  double width_ = kMinWidth;
};

void Header(std::string& svg, const Canvas& canvas, const std::string& title) {
  svg += Format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
      "font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\">\n",
      canvas.width(), kHeight, canvas.width(), kHeight);
  svg += Format("<rect width=\"%.0f\" height=\"%.0f\" fill=\"#fff\"/>\n", canvas.width(), kHeight);
  svg += "<text x=\"16\" y=\"24\" font-size=\"16\" font-weight=\"bold\">" + Xml(title) + "</text>\n";
  // Legend.
  double x = 16;
  const double y = 48;
  auto item = [&](const std::string& mark, const std::string& text, double width) {
    svg += mark + Format("<text x=\"%.0f\" y=\"%.0f\">%s</text>\n", x + 22, y, text.c_str());
    x += width;
  };
  item(Format("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\" stroke-width=\"2\"/>", x, y - 4,
              x + 16, y - 4, kByteColour),
       "key code", 100);
  item(Format("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\" stroke-width=\"4\"/>", x, y - 4,
              x + 16, y - 4, kHeldColour),
       Format("held (bit %d set)", BitIndex(kHeldBit)), 140);
  item(Format("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"%s\" stroke-width=\"2\"/>", x, y - 4,
              x + 16, y - 4, kIdleColour),
       Format("idle 0x%02X", static_cast<unsigned>(kIdleReceiverByte)), 100);
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

void ByteAxis(std::string& svg, const Canvas& canvas) {
  for (const unsigned byte : {0x00u, 0x40u, 0x80u, 0xC0u, kReceiverByteMask}) {
    const double y = Canvas::Y(static_cast<uint8_t>(byte));
    svg += Format("<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ddd\"/>", kLeft, y,
                  canvas.width() - kRight, y);
    svg +=
        Format("<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\" fill=\"#555\">0x%02X</text>\n", kLeft - 8, y + 4, byte);
  }
  svg += Format("<text x=\"16\" y=\"%.0f\" fill=\"#555\">receiver byte (bits %u-%u of 0x%X)</text>\n", kPlotTop - 10,
                static_cast<unsigned>(kReceiverByteShift), static_cast<unsigned>(kReceiverByteShift + 7),
                static_cast<unsigned>(kRegisterReceiver));
}

// The byte as a step line: idle grey, a key's code blue, the held state
// (the held bit set, not idle) orange and thick, so a hold stands out even where
// code and code | 1 lie one pixel apart.
const char* SegmentColour(uint8_t byte) {
  if (byte == kIdleReceiverByte) return kIdleColour;
  return (byte & kHeldBit) != 0 ? kHeldColour : kByteColour;
}

void ReceiverLine(std::string& svg, const Canvas& canvas, const SessionRecord& record) {
  const std::vector<ByteRecord>& changes = record.receiver;
  for (size_t i = 0; i < changes.size(); ++i) {
    const double x1 = canvas.X(changes[i].us);
    const double x2 = canvas.X(i + 1 < changes.size() ? changes[i + 1].us : record.endUs);
    const double y = Canvas::Y(changes[i].byte);
    if (i > 0) {
      svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>", x1,
                    Canvas::Y(changes[i - 1].byte), x1, y, kIdleColour);
    }
    const bool held = changes[i].byte != kIdleReceiverByte && (changes[i].byte & kHeldBit) != 0;
    svg += Format(
        "<line class=\"%s\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
        "stroke-width=\"%d\"/>",
        held ? "receiver held" : "receiver", x1, y, x2, y, SegmentColour(changes[i].byte), held ? 4 : 2);
    if (changes[i].byte != kIdleReceiverByte) {
      svg += Format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" fill=\"%s\">0x%02X%s</text>", x1 + 3, y - 5,
                    SegmentColour(changes[i].byte), changes[i].byte, held ? " held" : "");
    }
    svg += "\n";
  }
}

// Polls closer than a pixel to the last one drawn share its tick.
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

// The first tick step that puts ticks at least `spacing` pixels apart.
int64_t TickStepMs(double scale, double spacing) {
  for (const int step : kTickStepsMs) {
    if (step * scale >= spacing) return step;
  }
  return kTickStepsMs[sizeof kTickStepsMs / sizeof kTickStepsMs[0] - 1];
}

void Keys(std::string& svg, const Canvas& canvas, const SessionRecord& record) {
  svg += Format("<text x=\"16\" y=\"%.0f\" fill=\"#555\">keys</text>\n", kKeyY + 4);
  for (const KeyReport& report : record.reports) {
    const double x = canvas.X(report.us);
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
    svg += Format("<text x=\"%.1f\" y=\"%.0f\" transform=\"rotate(40 %.1f %.0f)\" fill=\"%s\">%s</text>\n", x,
                  kKeyY + 16, x, kKeyY + 16, colour, Xml(KeyDisplayName(report.name, report.label)).c_str());
  }
}

// "2.5s" below a minute, "1:05:00" or "12:30" above.
std::string TimeLabel(int64_t ms) {
  constexpr int64_t kMinuteMs = 60000;
  constexpr int64_t kHourMs = 60 * kMinuteMs;
  if (ms < kMinuteMs) return Format("%.1fs", static_cast<double>(ms) / 1000.0);
  const auto seconds = static_cast<int>(ms / 1000 % 60);
  const auto minutes = static_cast<int>(ms / kMinuteMs % 60);
  if (ms < kHourMs) return Format("%d:%02d", minutes, seconds);
  return Format("%d:%02d:%02d", static_cast<int>(ms / kHourMs), minutes, seconds);
}

void TimeAxis(std::string& svg, const Canvas& canvas) {
  svg += Format("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#333\"/>\n", kLeft, kAxisY,
                canvas.X(static_cast<int64_t>(canvas.endMs() * 1000)), kAxisY);
  const int64_t minorMs = TickStepMs(canvas.scale(), kMinorTickSpacing);
  int64_t labelMs = TickStepMs(canvas.scale(), kLabelSpacing);
  while (labelMs % minorMs != 0) labelMs += TickStepMs(canvas.scale(), kLabelSpacing);
  const auto endMs = static_cast<int64_t>(canvas.endMs());
  for (int64_t ms = 0; ms <= endMs; ms += minorMs) {
    const double x = canvas.X(ms * 1000);
    const bool labelled = ms % labelMs == 0;
    svg += Format("<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#333\"/>", x, kAxisY, x,
                  kAxisY + (labelled ? 8 : 4));
    if (labelled) {
      svg += Format("<text class=\"time\" x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\" fill=\"#333\">%s</text>", x,
                    kAxisY + 22, TimeLabel(ms).c_str());
    }
    svg += "\n";
  }
}

}  // namespace

std::string RenderTimeline(const SessionRecord& record, const std::string& title) {
  const Canvas canvas(record);
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  Header(svg, canvas, title);
  ByteAxis(svg, canvas);
  ReceiverLine(svg, canvas, record);
  Polls(svg, canvas, record);
  Keys(svg, canvas, record);
  TimeAxis(svg, canvas);
  svg += "</svg>\n";
  return svg;
}

}  // namespace host
}  // namespace kolvane
