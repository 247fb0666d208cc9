// Shared by both back ends.
#include "platform/log.h"

#include <stdarg.h>
#include <string.h>

#include "kolvane/kolvane.h"
#include "platform/platform.h"

namespace kolvane {

void LogMessage(const char* format, ...) {
  char line[kMaxLogLine];
  const char* const lineEnd = platform::TextLineEnd();
  const size_t endLength = strlen(lineEnd);
  const size_t room = sizeof line - endLength;  // the message's, its terminator included
  va_list args;
  va_start(args, format);
  // va_start is just above; clang 14's analyzer loses it in this build's flags.
  platform::FormatText(line, room, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
  va_end(args);
  size_t length = strlen(line);
  if (length > 0 && line[length - 1] == '\n') --length;
  for (size_t i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(line[i]) < ' ') line[i] = '?';
  }
  memcpy(line + length, lineEnd, endLength + 1);  // within `line`: length < room
  platform::File* file = platform::OpenLogFile(KOLVANE_LOG_FILE);
  platform::AppendToFile(file, line, length + endLength);
  platform::CloseFile(file);
}

}  // namespace kolvane
