#include "module/poll_trace.h"

#include "platform/log.h"
#include "platform/platform.h"
#include "receiver/trace_format.h"

namespace kolvane {
namespace {

// Room for any path the host's system takes.
constexpr size_t kMaxTracePath = 4096;
constexpr size_t kTimeTextSize = 32;

}  // namespace

PollTraceFile OpenPollTrace() {
  char path[kMaxTracePath];
  if (!platform::ReadEnvironment(kTraceVariable, path, sizeof path)) return PollTraceFile{nullptr, 0};
  FILE* file = platform::OpenTrace(path);
  if (file == nullptr) {
    LogMessage("kolvane: Cannot open the trace file %s; no trace is written.\n", path);
    return PollTraceFile{nullptr, 0};
  }
  // Appending: the cap counts what earlier runs left in the file.
  const long size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1L;
  if (size < 0 || static_cast<uint64_t>(size) >= kTraceSizeCap) {
    fclose(file);
    LogMessage("kolvane: The trace file %s has reached its size cap of 8 MiB; no trace is written.\n", path);
    return PollTraceFile{nullptr, 0};
  }
  return PollTraceFile{file, kTraceSizeCap - static_cast<uint64_t>(size)};
}

void ClosePollTrace(PollTraceFile* trace) {
  if (trace->file != nullptr) fclose(trace->file);
  trace->file = nullptr;
}

PollTrace::PollTrace(PollTraceFile trace, uint32_t now) : file_(trace.file), recorder_(&Write, this, trace.capacity) {
  if (file_ == nullptr) return;
  char startedAt[kTimeTextSize];
  platform::FormatLocalTime(startedAt, sizeof startedAt);
  recorder_.Begin(now, startedAt, KOLVANE_VERSION, platform::PlatformName());
}

PollTrace::~PollTrace() {
  if (file_ != nullptr) fclose(file_);
}

void PollTrace::End(uint32_t now, bool givenUp) {
  if (file_ == nullptr) return;
  recorder_.End(now, givenUp);
  fclose(file_);
  file_ = nullptr;
}

void PollTrace::Write(void* context, const char* text, size_t length) {
  FILE* file = static_cast<PollTrace*>(context)->file_;
  fwrite(text, 1, length, file);
  fflush(file);  // a crash or a given-up thread still leaves every line
}

}  // namespace kolvane
