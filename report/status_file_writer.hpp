// Appending lines to the status file so that a line reported as saved is on
// the disk: one write on an append-only descriptor, fsync, close, every result
// checked. A failing file is retried with a pause and then given up on; the
// lines that could not be saved are kept for the run to show the user.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "common/config.hpp"
#include "report/console.hpp"

namespace veksieve {

// Appends `line` to the file at `path` (created if missing) and syncs it.
// Returns 0, or the errno of the step that failed; a line that could be only
// partly written is cut off again, so no torn line is left behind.
int append_line_once(const std::string& path, std::string_view line);

struct retry_policy {
  std::chrono::milliseconds pause{status_retry_pause_ms};
  std::chrono::milliseconds give_up_after{status_give_up_ms};
};

class status_file_writer {
 public:
  // `interrupted`, when given, ends the retries early once it is set: the
  // user who pressed Ctrl-C is not kept waiting for a failing disk.
  status_file_writer(std::string path, console_channel& channel, retry_policy policy = {},
                     const std::atomic<bool>* interrupted = nullptr);

  // Appends `line` (which ends in '\n'). While it fails it is tried again
  // after each pause; the first failure is announced once on the console.
  // Returns true when the line is in the file. After one line has been given
  // up on, every later line is kept unsaved at once, since a checkpoint
  // written past a lost factor would make the next run skip it.
  bool append(std::string_view line);

  bool gave_up() const { return gave_up_; }
  const std::vector<std::string>& unsaved_lines() const { return unsaved_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  console_channel& channel_;
  retry_policy policy_;
  const std::atomic<bool>* interrupted_;
  bool failing_ = false;  // the last attempt failed and that was announced
  bool gave_up_ = false;
  std::vector<std::string> unsaved_;
};

}  // namespace veksieve
