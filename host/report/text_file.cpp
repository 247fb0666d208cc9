#include "host/report/text_file.h"

#include <errno.h>
#include <stdio.h>

#include <filesystem>
#include <system_error>

namespace kolvane {
namespace host {
namespace {

std::string Reason(int error) {
  return error != 0 ? std::generic_category().message(error) : std::string("unknown reason");
}

}  // namespace

bool WriteTextFile(const std::string& path, const std::string& text, std::string* reason) {
  errno = 0;
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *reason = Reason(errno);
    return false;
  }
  const bool written = fwrite(text.data(), 1, text.size(), file) == text.size() && fflush(file) == 0;
  const int error = errno;
  const bool closed = fclose(file) == 0;
  if (!written || !closed) *reason = Reason(written ? errno : error);
  return written && closed;
}

bool CanAppendTo(const std::string& path, std::string* reason) {
  std::error_code ignored;
  const std::filesystem::file_status status = std::filesystem::status(path, ignored);
  // A FIFO or a device would block or be written to; the module refuses them.
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    *reason = std::filesystem::is_directory(status) ? Reason(EISDIR) : "not a regular file";
    return false;
  }
  const bool existed = std::filesystem::exists(status);
  errno = 0;
  FILE* file = fopen(path.c_str(), "ab");
  if (file == nullptr) {
    *reason = Reason(errno);
    return false;
  }
  fclose(file);
  if (!existed) remove(path.c_str());
  return true;
}

}  // namespace host
}  // namespace kolvane
