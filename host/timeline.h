// A picture of a session as SVG: the receiver byte over time, every poll of
// 0x200 as a tick, every reported key as a labelled mark (fresh presses and
// repeats told apart), on one time axis.
#ifndef KOLVANE_HOST_TIMELINE_H
#define KOLVANE_HOST_TIMELINE_H

#include <string>

#include "host/session_record.h"

namespace kolvane {
namespace host {

std::string RenderTimeline(const SessionRecord& record, const std::string& title);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TIMELINE_H
