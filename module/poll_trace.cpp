#include "module/poll_trace.h"

#include "kolvane/kolvane.h"
#include "platform/log.h"
#include "trace/format.h"

namespace kolvane {
namespace {

constexpr size_t kTimeTextSize = 32;

// Why the file could not be opened, as the log says it.
void LogOpenFailure(platform::FileOpen result, const char* path) {
  switch (result) {
    case platform::FileOpen::kNotRegularFile:
      LogMessage("kolvane: The trace file %s is not a regular file; no trace is written.\n", path);
      return;
    case platform::FileOpen::kInUse:
      LogMessage("kolvane: The trace file %s is in use by another writer; no trace is written.\n", path);
      return;
    case platform::FileOpen::kCannotOpen:
    case platform::FileOpen::kOpened: break;
  }
  LogMessage("kolvane: Cannot open the trace file %s; no trace is written.\n", path);
}

// The file's last bytes tell whether it is capped, which ends its runs for
// good, and whether it ends mid-line, which the run's first line end closes.
bool TakesThisRun(platform::File* file, PollTraceFile* trace) {
  uint64_t size = 0;
  char tail[TraceRecorder::kMaxLine];  // room for the cap comment
  size_t tailLength = 0;
  bool readable = platform::FileSize(file, &size);
  if (readable) {
    tailLength = size < sizeof tail ? static_cast<size_t>(size) : sizeof tail;
    readable = platform::ReadFileAt(file, size - tailLength, tail, tailLength) == tailLength;
  }
  if (!readable) {
    LogOpenFailure(platform::FileOpen::kCannotOpen, trace->path);
    return false;
  }
  if (size >= kTraceSizeCap || TraceRecorder::EndsCapped(tail, tailLength, kTraceSizeCap)) {
    char cap[kTraceCapTextSize];
    FormatTraceCap(kTraceSizeCap, cap);
    LogMessage("kolvane: The trace file %s has reached its size cap of %s; no trace is written.\n", trace->path, cap);
    return false;
  }
  trace->endsMidLine = tailLength > 0 && tail[tailLength - 1] != '\n';
  return true;
}

}  // namespace

void OpenPollTrace(PollTraceFile* trace) {
  trace->file = nullptr;
  trace->endsMidLine = false;
  const size_t length = platform::ReadEnvironment(KOLVANE_TRACE_VARIABLE, trace->path, sizeof trace->path);
  if (length == 0) return;
  if (length >= sizeof trace->path) {
    LogMessage("kolvane: The trace file name in " KOLVANE_TRACE_VARIABLE
               " is too long to open; no trace is written.\n");
    return;
  }
  platform::FileOpen result = platform::FileOpen::kCannotOpen;
  platform::File* file = platform::OpenTraceFile(trace->path, &result);
  if (file == nullptr) {
    LogOpenFailure(result, trace->path);
    return;
  }
  if (TakesThisRun(file, trace)) {
    trace->file = file;
  } else {
    platform::CloseFile(file);
  }
}

void ClosePollTrace(PollTraceFile* trace) {
  platform::CloseFile(trace->file);
  trace->file = nullptr;
}

PollTrace::PollTrace(const PollTraceFile& trace, uint32_t now)
    : file_(trace.file), path_(trace.path), recorder_(this, kTraceSizeCap) {
  if (file_ == nullptr) return;
  char startedAt[kTimeTextSize];
  platform::FormatLocalTime(startedAt, sizeof startedAt);
  recorder_.Begin(now, startedAt, KOLVANE_VERSION, platform::PlatformName(), trace.endsMidLine);
}

PollTrace::~PollTrace() { platform::CloseFile(file_); }

void PollTrace::End(uint32_t now, bool givenUp) {
  if (file_ == nullptr) return;
  recorder_.End(now, givenUp);
  platform::CloseFile(file_);
  file_ = nullptr;
}

// A size that cannot be told is a failed write too: the cap cannot be kept.
bool PollTrace::Size(uint64_t* size) {
  if (!platform::FileSize(file_, size)) {
    LogWriteFailure();
    return false;
  }
  sizeBefore_ = *size;
  return true;
}

// A failed append may leave part of its line (a disk that filled up midway):
// the file is cut back to the whole lines it had, so it stays a script.
bool PollTrace::Append(const char* text, size_t length) {
  const platform::FileWrite written = platform::AppendToFile(file_, text, length);
  if (written == platform::FileWrite::kWritten) return true;
  platform::CutFile(file_, sizeBefore_);
  if (written == platform::FileWrite::kSizeLimit) {
    LogMessage(
        "kolvane: The trace file %s has reached the file-size limit of this process; "
        "the trace of this run stops there.\n",
        path_);
  } else {
    LogWriteFailure();
  }
  return false;
}

void PollTrace::LogWriteFailure() const {
  LogMessage("kolvane: Cannot write the trace file %s (is the disk full?); the trace of this run stops there.\n",
             path_);
}

}  // namespace kolvane
