// The platform seam on Windows: SetPriorityClass and SetThreadPriority, the
// C library's descriptors with _commit (FlushFileBuffers underneath), hard
// links and MoveFileEx, SetConsoleCtrlHandler, console modes and window
// width, the affinity mask, and GlobalMemoryStatusEx.
#include "common/platform.hpp"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>

namespace veksieve {

namespace {

int write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const auto chunk = static_cast<unsigned>(std::min<std::size_t>(data.size(), INT_MAX));
    const int written = _write(fd, data.data(), chunk);
    if (written < 0) return errno;
    if (written == 0) return EIO;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

std::string with_native_line_ends(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

// The C library's number for a few Windows errors of file operations.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    default: return EIO;
  }
}

// The stop request's number, as the C library numbers its signals.
constexpr int stop_by_ctrl_c = 2;      // SIGINT
constexpr int stop_by_ctrl_break = 21;  // SIGBREAK
constexpr int stop_by_console_end = 1;  // as a hang-up

// Process-wide because the console's handler has no other way to reach the
// run. It runs on a thread of its own that the system starts.
std::atomic<std::atomic<bool>*> stop_target{nullptr};
std::atomic<int> received_request{0};

BOOL WINAPI on_console_event(DWORD event) {
  const bool console_ends = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  const int number = event == CTRL_C_EVENT       ? stop_by_ctrl_c
                     : event == CTRL_BREAK_EVENT ? stop_by_ctrl_break
                     : console_ends              ? stop_by_console_end
                                                 : 0;
  std::atomic<bool>* flag = stop_target.load();
  if (number == 0 || flag == nullptr) return FALSE;
  int none = 0;
  const bool first = received_request.compare_exchange_strong(none, number);
  if (first) {
    flag->store(true);
    // At idle priority a busy machine could starve the checkpoint past the
    // few seconds Windows allows a closing console.
    (void)SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  }
  if (console_ends) {
    // The system ends the process as soon as this returns (or after its
    // grace period of a few seconds): wait here while the run writes its
    // checkpoint and exits by itself.
    Sleep(INFINITE);
  }
  // A second Ctrl-C goes on to the default handler, which ends the program.
  return first ? TRUE : FALSE;
}

}  // namespace

void lower_to_idle_priority() { (void)SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS); }

void lower_thread_to_idle_priority() { (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE); }

int write_durably(const std::string& path, std::string_view text, write_mode mode, bool* opened) {
  const int flags =
      _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT | (mode == write_mode::append ? _O_APPEND : _O_TRUNC);
  const int fd = _open(path.c_str(), flags, _S_IREAD | _S_IWRITE);
  if (opened != nullptr) *opened = fd >= 0;
  if (fd < 0) return errno;

  struct _stati64 before;
  const bool regular = _fstati64(fd, &before) == 0 && (before.st_mode & _S_IFMT) == _S_IFREG;
  int error = write_all(fd, with_native_line_ends(text));
  if (error != 0) {
    if (regular) (void)_chsize_s(fd, before.st_size);
  } else if (regular && _commit(fd) != 0) {
    // NUL and the console cannot be flushed; what they were given is as
    // saved as it will ever be.
    error = errno;
  }
  if (_close(fd) != 0 && error == 0) error = errno;
  return error;
}

int keep_backup(const std::string& path, const std::string& backup) {
  if (!DeleteFileA(backup.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return errno_of(GetLastError());
  // FAT and exFAT, common on removable drives, have no hard links.
  if (CreateHardLinkA(backup.c_str(), path.c_str(), nullptr) || CopyFileA(path.c_str(), backup.c_str(), TRUE)) return 0;
  return errno_of(GetLastError());
}

int copy_durably(const std::string& from, const std::string& to) {
  if (!CopyFileA(from.c_str(), to.c_str(), TRUE)) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : errno_of(error);
  }
  const HANDLE copy = CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  int error = 0;
  if (copy == INVALID_HANDLE_VALUE || !FlushFileBuffers(copy)) error = errno_of(GetLastError());
  if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
  if (error != 0) (void)DeleteFileA(to.c_str());
  return error;
}

// The lock covers one byte far beyond the end of any file: Windows locks
// bar reading and writing the bytes they cover, even through this process's
// own handles, and the status file is written through those.
constexpr DWORD lock_offset_high = 0x7fffffff;

file_lock::file_lock(const std::string& path) : path_(path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return;
  }
  OVERLAPPED where{};
  where.OffsetHigh = lock_offset_high;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) state_ = state::in_use;
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  state_ = state::held;
}

void file_lock::release() {
  if (state_ == state::held) {
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart == 0) (void)DeleteFileA(path_.c_str());
    CloseHandle(file);
  }
  handle_ = -1;
  state_ = state::not_lockable;
}

int rename_durably(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  return errno_of(GetLastError());
}

bool is_live_terminal(std::FILE* stream) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) &&
         SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int terminal_columns(std::FILE* stream) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void catch_stop_requests(std::atomic<bool>& flag) {
  received_request.store(0);
  stop_target.store(&flag);
  (void)SetConsoleCtrlHandler(on_console_event, TRUE);
}

void release_stop_requests() {
  (void)SetConsoleCtrlHandler(on_console_event, FALSE);
  stop_target.store(nullptr);
}

int stop_request_number() { return received_request.load(); }

int usable_cpu_count() {
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0)
    return __builtin_popcountll(process_mask);
  return std::max(1u, std::thread::hardware_concurrency());
}

void advise_huge_pages(void*, uint64_t) {}

int64_t physical_memory_bytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys > uint64_t{INT64_MAX} ? INT64_MAX : static_cast<int64_t>(status.ullTotalPhys);
}

}  // namespace veksieve
