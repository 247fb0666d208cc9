// --explain's findings about presses the module reported that no person
// made, or made and lost: a double press, repeats with no press, a latched
// press byte.
#ifndef KOLVANE_TRACE_EXPLAIN_PRESSES_H
#define KOLVANE_TRACE_EXPLAIN_PRESSES_H

#include <vector>

#include "diagnosis/showings.h"

namespace kolvane {
namespace explain {

// A key reported fresh again after an idle gap shorter than
// kDoublePressGapMs; one finding a key.
std::vector<Finding> DoublePresses(const TraceRun& run, const std::vector<Shown>& shown);
// A key's held state that came without its press byte and made repeats,
// from the first poll as well; one finding a key.
std::vector<Finding> RepeatsWithoutPress(const TraceRun& run, const std::vector<Shown>& shown);
// A key's press byte on the receiver for longer than kLatchedPressMs.
std::vector<Finding> LatchedPresses(const TraceRun& run, const std::vector<Shown>& shown);

}  // namespace explain
}  // namespace kolvane

#endif  // KOLVANE_TRACE_EXPLAIN_PRESSES_H
