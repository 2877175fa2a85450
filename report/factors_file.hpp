// The factors file of --factors=FILE: every verified factor line, in the
// "p | k*2^n+1" form that projects take for submission, appended with the
// status file's durable write and retries. A line already in the file is
// never appended again, so that a resumed run, which may find again what an
// interrupted one saved, leaves each line once.
#pragma once

#include <atomic>
#include <string>
#include <unordered_set>

#include "report/console.hpp"
#include "report/status_file.hpp"

namespace veksieve {

class factors_file {
 public:
  // Reads the factor lines already in the file at `path` (a missing file
  // holds none).
  factors_file(std::string path, console_channel& channel, retry_policy policy = {},
               const std::atomic<bool>* interrupted = nullptr);

  // Appends the factor's line unless the file holds it. Returns false when
  // it could not be saved; the writer then keeps it among its unsaved lines.
  bool append(const factor_line& factor);

  const status_file_writer& writer() const { return writer_; }

 private:
  status_file_writer writer_;
  std::unordered_set<std::string> present_;
};

}  // namespace veksieve
