#include "host/report/timeline_scale.h"

#include <algorithm>

namespace kolvane {
namespace host {
namespace {

constexpr double kUsPerMs = 1000;

}  // namespace

TimeScale::TimeScale(std::vector<int64_t> eventsUs, int64_t endUs, double maxWidth)
    : endUs_(std::max<int64_t>(endUs, 1)) {
  FindCuts(std::move(eventsUs));
  if (!cuts_.empty())
    breakWidth_ = std::min(kBreakWidth, maxWidth * kMostBreakShare / static_cast<double>(cuts_.size()));
  const int64_t cutUs = cutUsBefore_.empty() ? 0 : cutUsBefore_.back() + cuts_.back().toUs - cuts_.back().fromUs;
  const double shownMs = static_cast<double>(endUs_ - cutUs) / kUsPerMs;
  const double room = maxWidth - breakWidth_ * static_cast<double>(cuts_.size());
  pixelsPerMs_ = std::min(kTimelinePixelsPerMs, room / std::max(shownMs, 1.0));
  PlaceCuts();
}

void TimeScale::FindCuts(std::vector<int64_t> eventsUs) {
  eventsUs.push_back(0);
  eventsUs.push_back(endUs_);
  std::sort(eventsUs.begin(), eventsUs.end());
  int64_t cutUs = 0;
  for (size_t i = 1; i < eventsUs.size(); ++i) {
    const int64_t from = std::max<int64_t>(eventsUs[i - 1], 0);
    const int64_t to = std::min(eventsUs[i], endUs_);
    if (to - from <= kLongQuietUs) continue;
    cuts_.push_back(QuietCut{from + kQuietKeptUs, to - kQuietKeptUs, 0});
    cutUsBefore_.push_back(cutUs);
    cutUs += cuts_.back().toUs - cuts_.back().fromUs;
  }
}

void TimeScale::PlaceCuts() {
  for (size_t i = 0; i < cuts_.size(); ++i) {
    cuts_[i].x = static_cast<double>(cuts_[i].fromUs - cutUsBefore_[i]) / kUsPerMs * pixelsPerMs_ +
                 breakWidth_ * static_cast<double>(i);
  }
}

double TimeScale::X(int64_t us) const {
  // The first cut that has not ended by `us`.
  const auto next =
      std::upper_bound(cuts_.begin(), cuts_.end(), us, [](int64_t at, const QuietCut& cut) { return at < cut.toUs; });
  const auto passed = static_cast<size_t>(next - cuts_.begin());
  if (next != cuts_.end() && next->fromUs <= us) {
    const double into = static_cast<double>(us - next->fromUs) / static_cast<double>(next->toUs - next->fromUs);
    return next->x + into * breakWidth_;
  }
  const int64_t cutUs = passed == 0 ? 0 : cutUsBefore_[passed - 1] + cuts_[passed - 1].toUs - cuts_[passed - 1].fromUs;
  return static_cast<double>(us - cutUs) / kUsPerMs * pixelsPerMs_ + breakWidth_ * static_cast<double>(passed);
}

}  // namespace host
}  // namespace kolvane
