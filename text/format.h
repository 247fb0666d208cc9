// printf into a std::string, for the simulator's and the benchmark's reports.
#ifndef KOLVANE_TESTBED_FORMAT_H
#define KOLVANE_TESTBED_FORMAT_H

#include <string>

namespace kolvane {
namespace testbed {

// The formatted text, cut at 511 characters.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace testbed
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_FORMAT_H
