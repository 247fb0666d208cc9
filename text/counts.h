// Counts and trace times as every text of ours writes them: "1 key",
// "2 keys"; "12.345s". One home, so the host's output, --compare,
// --explain and the trace itself say them alike.
#ifndef KOLVANE_TEXT_COUNTS_H
#define KOLVANE_TEXT_COUNTS_H

#include <stdint.h>

#include <string>

#include "text/trace_time.h"

namespace kolvane {

// "1 key" with `one`, "0 keys" or "2 keys" with `many`.
inline std::string Count(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A trace time as a string; a negative `ms` gets a leading "-".
inline std::string TraceTime(int64_t ms) {
  char text[kTraceTimeSize];
  const uint64_t magnitude = ms < 0 ? 0 - static_cast<uint64_t>(ms) : static_cast<uint64_t>(ms);
  return std::string(ms < 0 ? "-" : "") + FormatTraceTime(magnitude, text);
}

}  // namespace kolvane

#endif  // KOLVANE_TEXT_COUNTS_H
