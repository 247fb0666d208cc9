// A trace time as every text of ours writes it, "12.345s", from its
// milliseconds: the trace itself, --compare and --explain. Allocates nothing
// and calls no library, so the module's trace writer uses it too.
#ifndef KOLVANE_TEXT_TRACE_TIME_H
#define KOLVANE_TEXT_TRACE_TIME_H

#include <stddef.h>
#include <stdint.h>

namespace kolvane {

// Room for the longest trace time and its NUL.
constexpr size_t kTraceTimeSize = 32;

// `ms` milliseconds as a trace time, "12.345s", into `text`; returns `text`.
// Allocates nothing and calls no library, for the module's trace writer.
inline const char* FormatTraceTime(uint64_t ms, char (&text)[kTraceTimeSize]) {
  constexpr int kMillisDigits = 3;
  char reversed[kTraceTimeSize];
  size_t count = 0;
  uint64_t rest = ms;
  reversed[count++] = 's';
  for (int i = 0; i < kMillisDigits; ++i, rest /= 10) reversed[count++] = static_cast<char>('0' + rest % 10);
  reversed[count++] = '.';
  do {
    reversed[count++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  for (size_t i = 0; i < count; ++i) text[i] = reversed[count - 1 - i];
  text[count] = '\0';
  return text;
}

}  // namespace kolvane

#endif  // KOLVANE_TEXT_TRACE_TIME_H
