#include "platform/log.h"

#include <stdarg.h>
#include <stdio.h>

#include "platform/platform.h"

namespace kolvane {

void LogMessage(const char* format, ...) {
  FILE* file = platform::OpenLog(kLogFileName);
  if (file == nullptr) return;
  va_list args;
  va_start(args, format);
  // va_start is just above; clang 14's analyzer loses it in this build's flags.
  vfprintf(file, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
  va_end(args);
  platform::CloseLog(file);
}

}  // namespace kolvane
