// Two threads, so that taking the output never waits for the console: one
// reads what the program writes into memory, the other writes it to the real
// stdout as fast as that is read. The terminal passes bytes unchanged (raw)
// and has the console's size, so the run's live line looks as it did; only
// what a carriage return overwrites before the console got it is left out,
// and the unfinished line (the live status) is passed on at most every
// console_status_interval_ms.
#include "cluster/console_relay.hpp"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "common/config.hpp"

namespace veksieve {

namespace {

// A terminal or a pipe: the end this process writes to, and the one read.
bool open_relay(int console, int& sink, int& source) {
  if (isatty(console) == 0) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    source = ends[0];
    sink = ends[1];
    return true;
  }
  if (openpty(&source, &sink, nullptr, nullptr, nullptr) != 0) return false;
  termios mode{};
  if (tcgetattr(sink, &mode) == 0) {
    cfmakeraw(&mode);
    (void)tcsetattr(sink, TCSANOW, &mode);
  }
  winsize size{};
  if (ioctl(console, TIOCGWINSZ, &size) == 0) (void)ioctl(sink, TIOCSWINSZ, &size);
  (void)fcntl(source, F_SETFD, FD_CLOEXEC);
  return true;
}

}  // namespace

console_relay::console_relay() {
  std::fflush(stdout);
  const int console = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (console < 0) return;
  int sink = -1;
  int source = -1;
  if (!open_relay(console, sink, source)) {
    close(console);
    return;
  }
  const bool placed = dup2(sink, STDOUT_FILENO) >= 0;
  close(sink);
  if (!placed) {
    close(source);
    close(console);
    return;
  }
  console_ = console;
  source_ = source;
  taker_ = std::jthread([this] { take_output(); });
  passer_ = std::jthread([this] { pass_on(); });
}

console_relay::~console_relay() {
  if (console_ < 0) return;
  std::fflush(stdout);
  // The last writing end closes: the taker sees the end (a terminal reads as
  // EIO then, a pipe as end of file) once it has read everything.
  (void)dup2(console_, STDOUT_FILENO);
  taker_.join();
  passer_.join();
  close(source_);
  close(console_);
}

void console_relay::take_output() {
  char buffer[4096];
  for (;;) {
    const ssize_t length = read(source_, buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    {
      std::lock_guard lock(mutex_);
      if (length <= 0) {
        ended_ = true;
      } else {
        pending_.append(buffer, static_cast<std::size_t>(length));
      }
    }
    arrived_.notify_one();
    if (length <= 0) return;
  }
}

std::string take_passable(std::string& pending, bool with_unfinished) {
  std::string passed;
  std::size_t start = 0;
  for (;;) {
    const std::size_t newline = pending.find('\n', start);
    const std::size_t end = newline == std::string::npos ? pending.size() : newline;
    std::string_view line(pending.data() + start, end - start);
    // The console clears what it writes over, so the line from its last
    // carriage return on shows the same (one just before the line's end may
    // be half of a line end).
    const std::size_t overwrite = line.size() < 2 ? std::string_view::npos : line.rfind('\r', line.size() - 2);
    if (overwrite != std::string_view::npos) line.remove_prefix(overwrite);
    if (newline == std::string::npos) {
      if (with_unfinished) {
        passed += line;
        pending.clear();
      } else {
        pending = std::string(line);
      }
      return passed;
    }
    passed += line;
    passed += '\n';
    start = newline + 1;
  }
}

void console_relay::pass_on() {
  using steady = std::chrono::steady_clock;
  constexpr auto interval = std::chrono::milliseconds(console_status_interval_ms);
  auto shown = steady::now() - interval;  // when an unfinished line was last passed on
  std::unique_lock lock(mutex_);
  for (;;) {
    arrived_.wait(lock, [&] { return !pending_.empty() || ended_; });
    if (pending_.empty()) return;
    // The unfinished line waits for its time, or for a line that ends it.
    const bool finished_lines = pending_.find('\n') != std::string::npos;
    if (!ended_ && !finished_lines && steady::now() - shown < interval) {
      arrived_.wait_until(lock, shown + interval, [&] { return ended_ || pending_.find('\n') != std::string::npos; });
    }
    const bool with_unfinished = ended_ || steady::now() - shown >= interval;
    const std::string text = take_passable(pending_, with_unfinished);
    if (with_unfinished && !text.empty()) shown = steady::now();
    lock.unlock();
    // A console that is gone takes nothing more; the rest is dropped as it arrives.
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t written = write(console_, text.data() + done, text.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      done += static_cast<std::size_t>(written);
    }
    lock.lock();
  }
}

}  // namespace veksieve
