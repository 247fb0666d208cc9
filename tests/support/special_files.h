// File-system situations the module's files must survive, made for real on
// Linux: a small tmpfs that fills up, a FIFO, the process's umask, what
// /proc says of an open descriptor, a child process under a file-size limit;
// and whether this system appends whole.
// Where a situation cannot be made, the test skips with the reason.
#ifndef KOLVANE_TESTS_SUPPORT_SPECIAL_FILES_H
#define KOLVANE_TESTS_SUPPORT_SPECIAL_FILES_H

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif
#ifdef __linux__
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kolvane {
namespace test {

#ifdef __linux__

// A tmpfs of `bytes` mounted on a new directory; empty reason() when mounted.
class SmallTmpfs {
 public:
  SmallTmpfs(const std::filesystem::path& where, size_t bytes) : where_(std::filesystem::absolute(where)) {
    std::filesystem::create_directories(where_);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      reason_ = std::string("cannot mount a tmpfs (") + strerror(errno) + "); a full disk needs root";
    }
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;
  ~SmallTmpfs() {
    if (reason_.empty()) umount2(where_.c_str(), MNT_DETACH);
  }
  const std::string& reason() const { return reason_; }

 private:
  std::filesystem::path where_;
  std::string reason_;
};

inline std::string MakeFifo(const char* path) {
  return mkfifo(path, 0600) == 0 ? std::string() : std::string("mkfifo failed: ") + strerror(errno);
}

// Runs `work` on a thread of its own. Should it still run after `limit`
// (blocked opening or writing the FIFO at `fifo`), the FIFO is opened for
// reading and drained until it ends, so the test can fail instead of hang.
// True when `work` ended within the limit.
inline bool RunsWithoutWaitingForAFifoReader(const char* fifo, const std::function<void()>& work,
                                             std::chrono::seconds limit = std::chrono::seconds(20)) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bool inTime = done;
  if (!inTime) {
    const int reader = open(fifo, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    char sink[4096];
    while (!done) {
      if (reader >= 0 && read(reader, sink, sizeof sink) > 0) continue;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (reader >= 0) close(reader);
  }
  worker.join();
  return inTime;
}

// Sets the umask; the old one comes back at the end of the scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : previous_(umask(mask)) {}
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;
  ~ScopedUmask() { umask(previous_); }

 private:
  mode_t previous_;
};

// The permission bits of `path`; -1 when it cannot be told.
inline int PermissionBits(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// The open file flags of this process's descriptor for `path`, from
// /proc/self/fdinfo; -1 when no descriptor is open on it.
inline long OpenFlagsOf(const std::filesystem::path& path) {
  const std::filesystem::path wanted = std::filesystem::absolute(path);
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) != wanted) continue;
    FILE* info = fopen(("/proc/self/fdinfo/" + entry.path().filename().string()).c_str(), "r");
    if (info == nullptr) continue;
    char line[128];
    long flags = -1;
    while (fgets(line, sizeof line, info) != nullptr) {
      if (strncmp(line, "flags:", 6) == 0) flags = strtol(line + 6, nullptr, 8);
    }
    fclose(info);
    return flags;
  }
  return -1;
}

// Runs `work` in a child process whose file-size limit (RLIMIT_FSIZE, the
// soft one, as `ulimit -f` sets it) is `bytes`, and says how the child
// ended: "exit 0", or the signal that killed it ("signal 25" is SIGXFSZ).
// The child only runs `work` on its one thread, so forking a test process
// that has others is safe.
inline std::string RunWithFileSizeLimit(rlim_t bytes, const std::function<void()>& work) {
  fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return std::string("fork failed: ") + strerror(errno);
  if (child == 0) {
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    work();
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "exit " + std::to_string(WEXITSTATUS(status));
}

#endif  // __linux__

#ifdef _WIN32
// Wine appends for a FILE_APPEND_DATA handle by asking the file's size and
// writing there (fstat, then pwrite), so two writers at once can overwrite
// each other's lines; Windows appends each write whole. Known by the export
// only Wine's ntdll has.
inline bool AppendsRaceHere() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#else
inline bool AppendsRaceHere() { return false; }
#endif

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_SUPPORT_SPECIAL_FILES_H
