// The shared, append-only text log, KOLVANE_LOG_FILE (kolvane/kolvane.h).
// Each message is one whole line carrying its own "kolvane: " prefix and
// "\n"; the file is opened and closed for every message so the host and
// other modules can append to it too.
#ifndef KOLVANE_PLATFORM_LOG_H
#define KOLVANE_PLATFORM_LOG_H

#include <stddef.h>

namespace kolvane {

// The longest message, its line end included; a longer one is cut short and
// still ends its line.
constexpr size_t kMaxLogLine = 4608;

// Appends one printf-style message as a single write, with the system's
// text line end ("\r\n" on Windows); control characters in it (a newline in
// a file's name) become '?', so a message stays one line. The log is opened
// like every file the module writes (see platform.h): without blocking, as
// a regular file only. A log that cannot be opened or written, or a line
// that would pass the process's file-size limit, costs only the message: no
// part of it is written.
void LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kolvane

#endif  // KOLVANE_PLATFORM_LOG_H
