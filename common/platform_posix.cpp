// The platform seam on Linux and other POSIX systems: SCHED_IDLE or nice,
// write and fsync on one descriptor, sigaction, TIOCGWINSZ, the affinity
// mask and sysconf. Signal handlers only store
// lock-free values and restore the default actions, all async-signal-safe.
#include "common/platform.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#include <sys/resource.h>
#endif

namespace veksieve {

namespace {

int write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// A device or pipe named as status file cannot be synced; what it was given
// is as saved as it will ever be.
bool sync_unsupported(int error) { return error == EINVAL || error == ENOTSUP || error == EROFS; }

constexpr int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int signal_count = 3;

static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free, "the stop flag is reached from a signal handler");
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

// Process-wide because a signal handler has no other way to reach the run.
std::atomic<std::atomic<bool>*> stop_target{nullptr};
volatile sig_atomic_t received_signal = 0;
struct sigaction previous_actions[signal_count];
// A signal ignored when the run starts (nohup) stays ignored.
volatile sig_atomic_t handled[signal_count] = {0, 0, 0};

void restore_defaults() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < signal_count; ++i) {
    if (handled[i]) sigaction(handled_signals[i], &action, nullptr);
  }
}

extern "C" void on_stop_signal(int sig) {
  if (received_signal == 0) received_signal = sig;
  if (std::atomic<bool>* flag = stop_target.load()) flag->store(true);
  restore_defaults();
}

}  // namespace

void lower_to_idle_priority() { lower_thread_to_idle_priority(); }

// Linux keeps the scheduling policy and the nice value per thread: both calls
// act on the calling thread, and the threads it starts inherit them.
void lower_thread_to_idle_priority() {
#if defined(__linux__)
  sched_param param{};
  param.sched_priority = 0;
  if (sched_setscheduler(0, SCHED_IDLE, &param) != 0) {
    (void)setpriority(PRIO_PROCESS, 0, 19);
  }
#endif
}

int write_durably(const std::string& path, std::string_view text, write_mode mode, bool* opened) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == write_mode::append ? O_APPEND : O_TRUNC);
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (opened != nullptr) *opened = fd >= 0;
  if (fd < 0) return errno;

  struct stat before;
  const bool sized = ::fstat(fd, &before) == 0;
  int error = write_all(fd, text);
  if (error != 0) {
    if (sized && S_ISREG(before.st_mode)) {
      [[maybe_unused]] int ignored = ::ftruncate(fd, before.st_size);
    }
  } else if (::fsync(fd) != 0 && !sync_unsupported(errno)) {
    error = errno;
  }
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  return error;
}

int keep_backup(const std::string& path, const std::string& backup) {
  if (::unlink(backup.c_str()) != 0 && errno != ENOENT) return errno;
  return ::link(path.c_str(), backup.c_str()) == 0 ? 0 : errno;
}

int copy_durably(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return error;
  }
  int error = 0;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) error = errno;
      break;
    }
    error = write_all(out, std::string_view(buffer, static_cast<std::size_t>(got)));
    if (error != 0) break;
  }
  if (error == 0 && ::fsync(out) != 0) error = errno;
  if (::close(out) != 0 && error == 0 && errno != EINTR) error = errno;
  ::close(in);
  if (error != 0) ::unlink(to.c_str());
  return error;
}

file_lock::file_lock(const std::string& path) : path_(path) {
  // Opened for reading only: a file system with a file open for writing
  // cannot be remounted read-only, and the status file's own writes open it
  // themselves. Non-blocking, so that a pipe given as the file cannot hang
  // the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return;
  }
  // A whole-file lock belongs to this open file, not to the process, so the
  // status file's writes may open and close it without releasing the lock.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) state_ = state::in_use;
    return;
  }
  handle_ = fd;
  state_ = state::held;
}

void file_lock::release() {
  if (state_ == state::held) {
    struct stat info;
    if (::fstat(static_cast<int>(handle_), &info) == 0 && info.st_size == 0) (void)::unlink(path_.c_str());
    ::close(static_cast<int>(handle_));
  }
  handle_ = -1;
  state_ = state::not_lockable;
}

int rename_durably(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return errno;
  // The rename is durable once the directory is synced.
  const std::filesystem::path directory = std::filesystem::absolute(to).parent_path();
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
  return 0;
}

bool is_live_terminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

int terminal_columns(std::FILE* stream) {
  winsize size{};
  if (::ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void catch_stop_requests(std::atomic<bool>& flag) {
  received_signal = 0;
  stop_target.store(&flag);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : handled_signals) sigaddset(&action.sa_mask, sig);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < signal_count; ++i) {
    sigaction(handled_signals[i], nullptr, &previous_actions[i]);
    handled[i] = previous_actions[i].sa_handler != SIG_IGN;
    if (handled[i]) sigaction(handled_signals[i], &action, nullptr);
  }
}

void release_stop_requests() {
  for (int i = 0; i < signal_count; ++i) sigaction(handled_signals[i], &previous_actions[i], nullptr);
  stop_target.store(nullptr);
}

int stop_request_number() { return received_signal; }

int usable_cpu_count() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

void advise_huge_pages([[maybe_unused]] void* memory, [[maybe_unused]] uint64_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t huge_page = uintptr_t{1} << 21;
  const auto begin = (reinterpret_cast<uintptr_t>(memory) + huge_page - 1) & ~(huge_page - 1);
  const auto end = (reinterpret_cast<uintptr_t>(memory) + size) & ~(huge_page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // failure is harmless
#endif
}

int64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<int64_t>(pages) * page_size;
}

}  // namespace veksieve
