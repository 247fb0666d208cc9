// Win32 back end of the files the module writes (platform.h): kernel handles
// from CreateFileW, so a name is UTF-16 on the system's side and UTF-8 on the
// module's, written with WriteFile and no C runtime in between.
#include <stdio.h>
#include <windows.h>

#include "fault_injection.h"
#include "platform.h"

namespace kolvane {
namespace platform {
namespace {

// The longest name taken, in UTF-16 units: as many as the module's buffer
// for the trace's name holds bytes.
constexpr int kMaxWidePath = 4096;
// The log's and the environment variable's own names are short.
constexpr int kMaxWideShortName = 64;
// The trace's lock is on one byte far past any data (2^62): Windows' locks
// are mandatory, so one on the data would stop readers of the file, and
// another writer's appends.
constexpr DWORD kLockOffsetHigh = 0x40000000;
constexpr DWORD kLockLength = 1;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE AsHandle(File* file) { return reinterpret_cast<HANDLE>(file); }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED where = {};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

OVERLAPPED LockByte() { return At(static_cast<uint64_t>(kLockOffsetHigh) << 32); }

// `text` in UTF-16, into `wide` of `size` units; false when it is not UTF-8
// or does not fit.
bool ToWide(const char* text, wchar_t* wide, int size) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, size) > 0;
}

// Opens or creates the file, which never blocks; keeps the handle only for a
// file on disk. Null security attributes: the handle is not inherited, and a
// new file gets the default DACL.
HANDLE OpenRegular(const wchar_t* path, DWORD access, FileOpen* result) {
  HANDLE handle = CreateFileW(path, access, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *result = FileOpen::kCannotOpen;
    return nullptr;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {  // a device, a pipe, a console
    CloseHandle(handle);
    *result = FileOpen::kNotRegularFile;
    return nullptr;
  }
  *result = FileOpen::kOpened;
  return handle;
}

}  // namespace

// FILE_APPEND_DATA without FILE_WRITE_DATA: the kernel puts every write at
// the end of the file, so two processes never write over each other's lines.
File* OpenLogFile(const char* path) {
  wchar_t wide[kMaxWideShortName];
  FileOpen result;
  if (!ToWide(path, wide, kMaxWideShortName)) return nullptr;
  return static_cast<File*>(OpenRegular(wide, FILE_APPEND_DATA, &result));
}

// A file system without locks still gets its trace: only a lock that another
// writer holds keeps the file out.
File* OpenTraceFile(const char* path, FileOpen* result) {
  wchar_t wide[kMaxWidePath];
  if (!ToWide(path, wide, kMaxWidePath)) {
    *result = FileOpen::kCannotOpen;
    return nullptr;
  }
  HANDLE handle = OpenRegular(wide, GENERIC_READ | FILE_APPEND_DATA, result);
  if (handle == nullptr) return nullptr;
  OVERLAPPED lock = LockByte();
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kLockLength, 0, &lock) &&
      GetLastError() == ERROR_LOCK_VIOLATION) {
    CloseHandle(handle);
    *result = FileOpen::kInUse;
    return nullptr;
  }
  return static_cast<File*>(handle);
}

bool FileSize(File* file, uint64_t* size) {
  LARGE_INTEGER length;
  if (file == nullptr || !GetFileSizeEx(AsHandle(file), &length)) return false;
  *size = static_cast<uint64_t>(length.QuadPart);
  return true;
}

size_t ReadFileAt(File* file, uint64_t offset, char* buffer, size_t size) {
  if (file == nullptr) return 0;
  OVERLAPPED where = At(offset);
  DWORD count = 0;
  if (!ReadFile(AsHandle(file), buffer, static_cast<DWORD>(size), &count, &where)) return 0;
  return count;
}

// Windows has no file-size limit of a process.
FileWrite AppendToFile(File* file, const char* text, size_t length) {
  if (file == nullptr || ShouldFail(Fault::kFileAppend)) return FileWrite::kFailed;
  size_t done = 0;
  while (done < length) {
    DWORD count = 0;
    if (!WriteFile(AsHandle(file), text + done, static_cast<DWORD>(length - done), &count, nullptr) || count == 0) {
      return FileWrite::kFailed;  // ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL
    }
    done += count;
  }
  return FileWrite::kWritten;
}

bool CutFile(File*, uint64_t) { return false; }

// The lock goes with the handle, but only "when resources allow": it is given
// back first, so the next run, in this process or another, finds it free.
void CloseFile(File* file) {
  if (file == nullptr) return;
  OVERLAPPED lock = LockByte();
  UnlockFileEx(AsHandle(file), 0, kLockLength, 0, &lock);  // fails harmlessly where none was taken
  CloseHandle(AsHandle(file));
}

const char* TextLineEnd() { return "\r\n"; }

// _vsnprintf leaves a text that fills the buffer unterminated, and one it
// could not format as it was.
void FormatText(char* buffer, size_t size, const char* format, va_list args) {
  buffer[0] = '\0';
  _vsnprintf(buffer, size - 1, format, args);
  buffer[size - 1] = '\0';
}

// Read as UTF-16, whatever the process's code page, and handed on in UTF-8.
size_t ReadEnvironment(const char* name, char* buffer, size_t size) {
  if (size > 0) buffer[0] = '\0';
  wchar_t wideName[kMaxWideShortName];
  if (!ToWide(name, wideName, kMaxWideShortName)) return 0;
  wchar_t value[kMaxWidePath];
  const DWORD units = GetEnvironmentVariableW(wideName, value, kMaxWidePath);
  if (units == 0) return 0;
  // A value longer than the buffer takes at least as many bytes as units.
  if (units >= static_cast<DWORD>(kMaxWidePath)) return units > size ? units : size;
  const int wideLength = static_cast<int>(units);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, value, wideLength, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return 0;
  if (static_cast<size_t>(bytes) >= size) return static_cast<size_t>(bytes);
  WideCharToMultiByte(CP_UTF8, 0, value, wideLength, buffer, bytes, nullptr, nullptr);
  buffer[bytes] = '\0';
  return static_cast<size_t>(bytes);
}

}  // namespace platform
}  // namespace kolvane
