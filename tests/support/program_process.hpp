// The built program run as a process in a directory of the test's, with its
// standard input given as text and its standard output read as it comes, so
// that a test can signal it at a chosen point of its output. Its standard
// output is a pipe, or a pseudo-terminal of a given width.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace veksieve::testing {

struct program_end {
  int exit_status = -1;  // when it exited
  int signal = 0;        // when a signal ended it
  std::string output;
};

class program_process {
 public:
  // With `terminal_columns` above 0 the output goes to a pseudo-terminal
  // that many columns wide, which turns each '\n' into "\r\n".
  program_process(const std::string& directory, const std::vector<std::string>& args, const std::string& input,
                  const std::vector<std::pair<std::string, std::string>>& environment = {},
                  unsigned short terminal_columns = 0) {
    int in[2], out[2];
    if (pipe(in) != 0) std::abort();
    if (terminal_columns == 0) {
      if (pipe(out) != 0) std::abort();
    } else {
      out[0] = posix_openpt(O_RDWR | O_NOCTTY);
      if (out[0] < 0 || grantpt(out[0]) != 0 || unlockpt(out[0]) != 0) std::abort();
      out[1] = open(ptsname(out[0]), O_RDWR | O_NOCTTY);
      winsize size{};
      size.ws_row = 24;
      size.ws_col = terminal_columns;
      if (out[1] < 0 || ioctl(out[1], TIOCSWINSZ, &size) != 0) std::abort();
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[0]), close(in[1]), close(out[0]), close(out[1]);
      if (chdir(directory.c_str()) != 0) _exit(127);
      // A test run started in the background by a script ignores SIGINT, and
      // the program rightly keeps an ignored signal ignored: the tests that
      // interrupt it need the default back.
      ::signal(SIGINT, SIG_DFL);
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(VEKSIEVE_BINARY)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(VEKSIEVE_BINARY, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    out_ = out[0];
    // The program reads at most a few short answers: the pipe holds them. A
    // program that ends before it reads (a refused range) may have closed the
    // pipe already on a loaded machine: that must not end the test by SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0 && errno != EPIPE) std::abort();
    close(in[1]);
  }
  ~program_process() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  program_process(const program_process&) = delete;
  program_process& operator=(const program_process&) = delete;

  // Reads output until it holds `text` after offset `from`; false on end of
  // output or after `limit`.
  bool wait_for(const std::string& text, std::size_t from = 0,
                std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (output_.find(text, from) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !read_some(static_cast<int>(left.count()))) return false;
    }
    return true;
  }

  void signal(int sig) { kill(pid_, sig); }

  program_end finish() {
    while (read_some(-1)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    program_end result;
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.output = output_;
    return result;
  }

  const std::string& output() const { return output_; }

 private:
  bool read_some(int timeout_ms) {
    pollfd ready{out_, POLLIN, 0};
    if (poll(&ready, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(out_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

inline program_end run_program(const std::string& directory, const std::vector<std::string>& args,
                               const std::string& input = "",
                               const std::vector<std::pair<std::string, std::string>>& environment = {}) {
  program_process process(directory, args, input, environment);
  return process.finish();
}

}  // namespace veksieve::testing
