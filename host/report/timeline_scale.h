// How the timeline spreads time over pixels: 0.5 px a millisecond, each
// quiet stretch (no byte change, no report, nothing noted) longer than
// kLongQuietUs cut down to a narrow break, as --fast cuts such stretches
// short, and what is left scaled down to fit the width it is given.
#ifndef KOLVANE_HOST_TIMELINE_SCALE_H
#define KOLVANE_HOST_TIMELINE_SCALE_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace kolvane {
namespace host {

// At most this scale: 20 ms polls 10 px apart.
constexpr double kTimelinePixelsPerMs = 0.5;
// A quiet stretch longer than this is cut short...
constexpr int64_t kLongQuietUs = int64_t{2000} * 1000;
// ...keeping this much of it after the last thing that happened and before
// the next, so the bytes around the break still read...
constexpr int64_t kQuietKeptUs = int64_t{400} * 1000;
// ...and drawn as a break this wide, or narrower when there are many.
constexpr double kBreakWidth = 36;
// The breaks take at most this share of the width.
constexpr double kMostBreakShare = 0.25;

// A stretch left out: [fromUs, toUs) drawn as a break `width` wide at `x`.
struct QuietCut {
  int64_t fromUs;
  int64_t toUs;
  double x;
};

class TimeScale {
 public:
  // `eventsUs`: when something happened, in any order; the stretches
  // between them (and 0 and `endUs`) longer than kLongQuietUs are cut.
  TimeScale(std::vector<int64_t> eventsUs, int64_t endUs, double maxWidth);

  // Pixels from the plot's left edge; inside a cut, spread over its break.
  double X(int64_t us) const;
  double Width() const { return X(endUs_); }
  double PixelsPerMs() const { return pixelsPerMs_; }
  double BreakWidth() const { return breakWidth_; }
  const std::vector<QuietCut>& Cuts() const { return cuts_; }
  int64_t EndUs() const { return endUs_; }

 private:
  void FindCuts(std::vector<int64_t> eventsUs);
  void PlaceCuts();

  int64_t endUs_;
  double pixelsPerMs_ = kTimelinePixelsPerMs;
  double breakWidth_ = kBreakWidth;
  std::vector<QuietCut> cuts_;
  std::vector<int64_t> cutUsBefore_;  // per cut: the length of the cuts before it
};

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TIMELINE_SCALE_H
