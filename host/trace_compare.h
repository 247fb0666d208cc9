// `kolvane-host --compare TRACE`: the reports a trace recorded, read from
// its comments, against the reports its replay made. Each hold may come out
// with one repeat more or fewer, because the replay's polls fall at another
// phase of the receiver's changes.
#ifndef KOLVANE_HOST_TRACE_COMPARE_H
#define KOLVANE_HOST_TRACE_COMPARE_H

#include <string>
#include <vector>

#include "host/trace_reader.h"

namespace kolvane {
namespace host {

// Empty when `got` makes the same reports as `expected`, else the first
// difference: when, what was expected, what came.
std::string FirstDifference(const std::vector<TracedReport>& expected, const std::vector<TracedReport>& got);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TRACE_COMPARE_H
