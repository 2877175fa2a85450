// The status file, whole: the grammar of its lines ("pmax=" and "pmin=",
// factor lines, "Write", "Done"), reading them back, and the one durable way
// of writing them. A line reported as saved is on the disk; a disk that stays
// full or read-only ends the run with the unsaved lines listed instead.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/config.hpp"
#include "common/platform.hpp"
#include "report/console.hpp"

namespace veksieve {

// A factor line: p divides k*2^n+c, c being +1 or -1.
struct factor_line {
  int64_t p = 0;
  int32_t k = 0;
  uint32_t n = 0;
  int32_t c = 1;
  bool operator==(const factor_line&) const = default;
};

// The line texts, each ending in '\n'.
std::string range_lines(int64_t pmin, int64_t pmax);
std::string checkpoint_line(int64_t pmin);
std::string factor_text(const factor_line& factor);  // without the line end, as the console shows it
inline constexpr std::string_view done_line = "Done\n";

// Reads "p | k*2^n+1" or "p | k*2^n-1" with the lenient number rules (any
// other end reads as +1); nothing when the line
// is no factor line or its numbers do not fit.
std::optional<factor_line> parse_factor_line(std::string_view line);

// What reading a status file found. Reading stops at a "Done" line answered
// yes, with pmin and pmax back at 0 and no factors: the file is then deleted.
struct status_contents {
  int64_t pmin = 0;           // from the last "pmin=" line
  int64_t pmax = 0;           // from the last "pmax=" line
  int64_t range_start = 0;    // from the first "pmin=" line: where the range began
  bool console_only = false;  // a line beginning "Write" was read
  bool results_sent = false;  // a "Done" line was met and the user said the results were sent
  bool holds_lines = false;   // a line other than a blank one was read
  std::vector<factor_line> factors;  // the factor lines, in file order
};

enum class status_problem { none, number_too_large, negative_pmin, results_not_sent, not_a_status_file };

struct status_reading {
  status_contents contents;
  status_problem problem = status_problem::none;
  int64_t line_number = 0;  // of a number that does not fit, or of a line no status file holds
};

// Asked at a "Done" line: true when the user says the results were sent on.
using results_sent_question = std::function<bool()>;

// A line that is none of the status file's kinds (nor blank) marks a file
// that is no status file at all, unless it is a last line without a line
// end: a write cut short.
status_reading read_status(std::istream& in, const results_sent_question& ask);

// The one durable write of the file is write_durably (common/platform.hpp).

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
