// The shared, append-only text log. Each message is one whole line carrying
// its own "kolvane: " prefix and "\n"; the file is opened and closed for
// every message so the host and other modules can append to it too.
#ifndef KOLVANE_PLATFORM_LOG_H
#define KOLVANE_PLATFORM_LOG_H

namespace kolvane {

// Relative, so the log lies in the process's current directory.
constexpr const char kLogFileName[] = "Quillfern.log";

// Appends one printf-style message. A log that cannot be opened costs only
// the message; write and close failures are not examined.
void LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kolvane

#endif  // KOLVANE_PLATFORM_LOG_H
