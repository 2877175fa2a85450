// The few things the operating system does differently, behind one header:
// process priority, durable file writes and renames, stop requests from the
// console or the system, whether the console is a terminal and how wide it
// is, the processors and the physical memory.
// platform_posix.cpp and platform_windows.cpp implement it; CMake builds the
// one for the target. Everything else in the program is portable C++.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace veksieve {

// The line end of this system's text files. The status file is written with
// it, so a Windows user's editor shows its lines; both are read alike.
#if defined(_WIN32)
constexpr std::string_view native_line_end = "\r\n";
#else
constexpr std::string_view native_line_end = "\n";
#endif

// Lowers this process to idle priority, so that a sieve running for days
// only takes CPU time nobody else wants. Best effort: nothing depends on it.
// On Linux the priority belongs to each thread: call it before any starts.
void lower_to_idle_priority();

// The same for the calling thread alone (and the threads it starts later),
// for a process whose other threads must not be starved by a busy machine.
void lower_thread_to_idle_priority();

enum class write_mode { append, replace };

// The one durable write: `text`, whose lines end in '\n', written to the file
// at `path` as a text file of this system (each '\n' becomes
// native_line_end) in one write, appended (the file created if missing) or
// replacing its contents, then synced to the disk and closed, every step
// checked. Returns 0 or the errno of the step that failed; text that could be
// only partly written is cut off again, so no torn line is left behind. A
// device or pipe that cannot be synced counts as written. `opened`, when
// given, tells whether the failure came after the open.
int write_durably(const std::string& path, std::string_view text, write_mode mode = write_mode::append,
                  bool* opened = nullptr);

// Keeps `path` also under the name `backup` (a hard link where the file
// system has them, else a copy), replacing an old backup; `path` itself is
// never missing meanwhile. Returns 0 or the errno of the failed step.
int keep_backup(const std::string& path, const std::string& backup);

// Copies the file at `from` byte for byte to `to`, a name not yet taken, and
// has the copy on the disk before returning. Returns 0, EEXIST when `to`
// exists, or the errno of the failed step; a failed copy is removed again.
int copy_durably(const std::string& from, const std::string& to);

// An exclusive lock on a file, held from construction until destruction, so
// that two runs never share one status file. The system releases it when the
// process ends, however it ends: nothing can go stale. A missing file is
// created empty to hold it; a file that is empty when the lock is released
// is removed, since it only held the lock (or was emptied to be written
// afresh and never was). A device, a pipe or a file that cannot be opened
// is not locked.
class file_lock {
 public:
  enum class state { held, in_use, not_lockable };

  file_lock() = default;
  explicit file_lock(const std::string& path);
  ~file_lock() { release(); }
  file_lock(file_lock&& other) noexcept { take(other); }
  file_lock& operator=(file_lock&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  file_lock(const file_lock&) = delete;
  file_lock& operator=(const file_lock&) = delete;

  state status() const { return state_; }

 private:
  void release();
  void take(file_lock& other) {
    path_ = std::move(other.path_);
    handle_ = other.handle_;
    state_ = other.state_;
    other.handle_ = -1;
    other.state_ = state::not_lockable;
  }

  std::string path_;
  intptr_t handle_ = -1;  // a descriptor, or a Windows HANDLE
  state state_ = state::not_lockable;
};

// Renames `from` to `to`, replacing `to` in one step, and has the rename on
// the disk before returning. Returns 0 or the errno of the failed step.
int rename_durably(const std::string& from, const std::string& to);

// True when `stream` is a terminal that can rewrite its current line (on
// Windows a console, which is then switched to understand the escape code
// that clears the rest of the line).
bool is_live_terminal(std::FILE* stream);

// The width in columns of the terminal (on Windows the console window)
// `stream` writes to, or 0 when it is none or does not tell.
int terminal_columns(std::FILE* stream);

// Until release_stop_requests(), the first request to stop sets `flag` and
// records its number; a second one takes the system's default action and
// ends the program at once. The requests are SIGINT, SIGTERM and SIGHUP on
// POSIX (one ignored when this is called stays ignored), and on Windows
// Ctrl-C, Ctrl-Break, closing the console window, logoff and shutdown; for
// the last three the system ends the process when the handler returns, so
// the handler waits for the program to end by itself. One caller at a time.
void catch_stop_requests(std::atomic<bool>& flag);
void release_stop_requests();

// The number of the request that set the flag, or 0: the signal number on
// POSIX; on Windows 2 for Ctrl-C, 21 for Ctrl-Break (the C library's SIGINT
// and SIGBREAK) and 1 for the console's end (closed, logoff, shutdown), as
// for a hang-up. The program exits with 128 plus this number.
int stop_request_number();

// The processors this process may run on (at least 1).
int usable_cpu_count();

// The machine's physical memory in bytes, or 0 when it cannot be told.
int64_t physical_memory_bytes();

// Asks for pages of 2 MB for the whole ones that lie within [memory, memory
// + size), where the system gives them only when asked: a large block
// touched all over then faults and misses the TLB far less. Call it before
// the block is first written. A hint: nothing depends on it.
void advise_huge_pages(void* memory, uint64_t size);


}  // namespace veksieve
