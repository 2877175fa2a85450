// The console: everything printed while the sieve runs passes through one
// console_channel, whose calls name what is printed (a status line, a factor,
// the end of the range). Status lines carry the rate at which the committed
// frontier advanced over about the last minute of wall-clock time; every line
// ends with one newline and is flushed, so piped output arrives line by line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veksieve {

// Milliseconds on a free-running 32-bit clock; only differences of two
// readings are used, taken modulo 2^32.
using millisecond_clock = std::function<uint32_t()>;

// Milliseconds since the call, on the steady clock, as a 32-bit number.
millisecond_clock make_process_clock();

// The rate is taken over this much wall-clock time, not over a number of
// status lines: the committer prints them in bursts, a chunk's lines at once
// when its worker is done, so lines say little about time.
constexpr int64_t rate_window_ms = 60000;
// The committed frontier moves a chunk at a time, and a chunk is about a
// second of a worker's work: over a shorter time its advance says little, and
// the first rates of a run came out three times too high.
constexpr int64_t rate_least_span_ms = 1000;

// The advance of the committed frontier per second. The clock is cut into
// slices of a tenth of a second, and the last status line of each slice
// stands for it: a burst is over within a millisecond, so that line's prime
// is the frontier as committed at its time. The rate is measured between
// two such points, the last finished slice and the newest one at least a
// window before it (while the window fills, the first), so however the
// lines bunch up, it is the frontier's own advance.
class frontier_rate {
 public:
  // Records that the frontier reached p at the clock reading `now`; returns
  // p per second, or 0 until two finished slices lie rate_least_span_ms apart.
  double update(int64_t p, uint32_t now);

 private:
  struct sample {
    int64_t p = 0;
    int64_t ms = 0;  // since the first report
  };
  // Short against the window, long against a burst; the samples of a window
  // then take a few kilobytes however fast the lines come.
  static constexpr int64_t slice_ms = 100;

  std::deque<sample> samples_;  // one per slice, the last one still open
  uint32_t last_reading_ = 0;
  int64_t ms_ = 0;
  double rate_ = 0;
};

// A piece of the status line shown in place on a terminal. When the line is
// too wide, the parts of the lowest rank are left out first.
struct line_part {
  std::string text;
  int rank = 0;
};

// The parts joined in their order, leaving out the lowest-ranked ones while
// the line is longer than `most` characters; when the highest-ranked part
// alone is still too long, it is cut.
std::string fit_line(const std::vector<line_part>& parts, std::size_t most);

class console_channel {
 public:
  // `out` receives the printed lines; `clock` times the status lines.
  explicit console_channel(FILE* out = stdout, millisecond_clock clock = make_process_clock());
  ~console_channel();
  console_channel(const console_channel&) = delete;
  console_channel& operator=(const console_channel&) = delete;

  // For a terminal: the status line is rewritten in place at the bottom,
  // with the share of (range_start, range_end] done and, once the rate is
  // known, the time left, shortened to the terminal's width; every other
  // line scrolls above it. Without this call every line is printed once, as
  // a log wants it.
  void show_live(int64_t range_start, int64_t range_end);
  // Leaves the status line shown in place where it is, as a line of its own.
  void end_live();
  // For a log (no live line): a status line at most once every `seconds`,
  // so that a run of weeks keeps a log a person can read; 0 prints every one.
  // Factor lines and messages are never thinned.
  void set_log_interval(int64_t seconds) { log_interval_ms_ = seconds * 1000; }
  // The time a factor takes to find (-r=), shown in the live line.
  void set_seconds_per_factor(std::optional<double> seconds) { seconds_per_factor_ = seconds; }

  // "Sieved up to p", with p scaled to millions, billions or trillions (cut
  // to one decimal) from a million on, and the rate once there is one.
  void status(int64_t p);
  // "p | k*2^n+1".
  void factor(int64_t p, int32_t k, uint32_t n, int32_t c = 1);
  void verification_failed(int64_t p, int32_t k, uint32_t n, int32_t c = 1);
  // The range is finished: "Done".
  void completed();
  // The run ended short of the range's end at the prime p: p alone.
  void reached(int64_t p);
  // Any other line, as it stands.
  void message(std::string_view text);
  void messagef(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  std::vector<line_part> status_parts(int64_t p) const;
  void write_live();

  FILE* out_;
  millisecond_clock clock_;
  frontier_rate rate_meter_;
  double rate_ = 0;  // p per second, 0 until known
  int64_t log_interval_ms_ = 0;
  std::optional<uint32_t> last_logged_;  // clock reading of the last status line printed to a log
  std::optional<double> seconds_per_factor_;

  bool live_ = false;
  int64_t range_start_ = 0;
  int64_t range_end_ = 0;
  std::vector<line_part> live_parts_;  // the status line shown in place, if any
};

// "1:02:03", or "2d 01:02:03" from a day on.
std::string duration_text(double seconds);

}  // namespace veksieve
