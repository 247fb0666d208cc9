#include "log.h"

#include <stdarg.h>
#include <stdio.h>

#include "platform/platform.h"

namespace kolvane {

void LogMessage(const char* format, ...) {
  FILE* file = platform::OpenLog(kLogFileName);
  if (file == nullptr) return;
  va_list args;
  va_start(args, format);
  vfprintf(file, format, args);
  va_end(args);
  platform::CloseLog(file);
}

}  // namespace kolvane
