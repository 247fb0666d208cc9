// POSIX back end of the files the module writes (platform.h): plain
// descriptors, opened the way CERT's FIO32-C asks (O_NONBLOCK, then fstat
// and S_ISREG), written with write(2) and no stdio buffer in between, and
// never past the process's file-size limit.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fault_injection.h"
#include "platform.h"

namespace kolvane {
namespace platform {
namespace {

// New files: read and write for the owner, nothing for anyone else.
constexpr mode_t kPrivateMode = S_IRUSR | S_IWUSR;
constexpr int kOpenFlags = O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// A descriptor carried in the handle itself, so opening allocates nothing
// (the poll thread opens the log).
File* AsFile(int fd) {
  return reinterpret_cast<File*>(static_cast<intptr_t>(fd) + 1);  // NOLINT(performance-no-int-to-ptr)
}
int AsDescriptor(File* file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }

// Opens without waiting for a FIFO's peer; keeps the descriptor only for a
// regular file, then in blocking mode again for its writes.
int OpenRegular(const char* path, int access, FileOpen* result) {
  int fd;
  do {
    fd = open(path, access | kOpenFlags, kPrivateMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // A directory, or a FIFO with no reader opened for writing only.
    *result = errno == EISDIR || errno == ENXIO ? FileOpen::kNotRegularFile : FileOpen::kCannotOpen;
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    *result = FileOpen::kNotRegularFile;
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  *result = FileOpen::kOpened;
  return fd;
}

// Whether `length` more bytes fit at the file's end under the process's
// file-size limit. Its real size, since other writers append too.
bool FitsSizeLimit(int fd, size_t length) {
  rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  struct stat info;
  if (fstat(fd, &info) != 0) return false;
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  const uint64_t cap = static_cast<uint64_t>(limit.rlim_cur);
  return size <= cap && cap - size >= length;
}

}  // namespace

File* OpenLogFile(const char* path) {
  FileOpen result;
  const int fd = OpenRegular(path, O_WRONLY, &result);
  return fd < 0 ? nullptr : AsFile(fd);
}

// A file system without flock (some network ones) still gets its trace: only
// a lock that another writer holds keeps the file out.
File* OpenTraceFile(const char* path, FileOpen* result) {
  const int fd = OpenRegular(path, O_RDWR, result);
  if (fd < 0) return nullptr;
  int locked;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0 && errno == EWOULDBLOCK) {
    close(fd);
    *result = FileOpen::kInUse;
    return nullptr;
  }
  return AsFile(fd);
}

bool FileSize(File* file, uint64_t* size) {
  struct stat info;
  if (file == nullptr || fstat(AsDescriptor(file), &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

size_t ReadFileAt(File* file, uint64_t offset, char* buffer, size_t size) {
  if (file == nullptr) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t count = pread(AsDescriptor(file), buffer + done, size - done, static_cast<off_t>(offset + done));
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  return done;
}

FileWrite AppendToFile(File* file, const char* text, size_t length) {
  if (file == nullptr || ShouldFail(Fault::kFileAppend)) return FileWrite::kFailed;
  const int fd = AsDescriptor(file);
  size_t done = 0;
  while (done < length) {
    // Before every write, a retry's too: the kernel cuts a write short at
    // the limit and answers the next one with SIGXFSZ.
    if (!FitsSizeLimit(fd, length - done)) return FileWrite::kSizeLimit;
    const ssize_t count = write(fd, text + done, length - done);
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      return FileWrite::kFailed;  // ENOSPC, EDQUOT, EFBIG, EIO
    }
  }
  return FileWrite::kWritten;
}

bool CutFile(File* file, uint64_t size) {
  if (file == nullptr) return false;
  int cut;
  do {
    cut = ftruncate(AsDescriptor(file), static_cast<off_t>(size));
  } while (cut != 0 && errno == EINTR);
  return cut == 0;
}

void CloseFile(File* file) {
  if (file != nullptr) close(AsDescriptor(file));
}

const char* TextLineEnd() { return "\n"; }

void FormatText(char* buffer, size_t size, const char* format, va_list args) {
  if (vsnprintf(buffer, size, format, args) < 0) buffer[0] = '\0';
}

size_t ReadEnvironment(const char* name, char* buffer, size_t size) {
  if (size > 0) buffer[0] = '\0';
  const char* value = getenv(name);
  if (value == nullptr) return 0;
  const size_t length = strlen(value);
  if (length < size) memcpy(buffer, value, length + 1);
  return length;
}

}  // namespace platform
}  // namespace kolvane
