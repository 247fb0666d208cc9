#include "text/format.h"

#include <stdarg.h>
#include <stdio.h>

namespace kolvane {
namespace testbed {

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace testbed
}  // namespace kolvane
