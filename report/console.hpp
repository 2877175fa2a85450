// The console: everything printed while the sieve runs passes through one
// console_channel, whose calls name what is printed (a status line, a factor,
// the end of the range). Status lines get their rate from a ring of the last
// 100 of them; every line ends with one newline and is flushed, so piped
// output arrives line by line.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace veksieve {

// Milliseconds on a free-running 32-bit clock; only differences of two
// readings are used, taken modulo 2^32.
using millisecond_clock = std::function<uint32_t()>;

// Milliseconds since the call, on the steady clock, as a 32-bit number.
millisecond_clock make_process_clock();

class console_channel {
 public:
  // `out` receives the printed lines; `clock` times the status lines.
  explicit console_channel(FILE* out = stdout, millisecond_clock clock = make_process_clock());
  ~console_channel();
  console_channel(const console_channel&) = delete;
  console_channel& operator=(const console_channel&) = delete;

  // For a terminal: the status line is rewritten in place at the bottom,
  // with the share of (range_start, range_end] done and, once the rate is
  // known, the time left; every other line scrolls above it. Without this
  // call every line is printed once, as a log wants it.
  void show_live(int64_t range_start, int64_t range_end);
  // Leaves the status line shown in place where it is, as a line of its own.
  void end_live();

  // "Sieved up to p", with p scaled to millions, billions or trillions (cut
  // to one decimal) from a million on, and the rate once there is one.
  void status(int64_t p);
  // "p | k*2^n+1".
  void factor(int64_t p, int32_t k, uint32_t n);
  void verification_failed(int64_t p, int32_t k, uint32_t n);
  // The range is finished: "Done".
  void completed();
  // The run ended short of the range's end at the prime p: p alone.
  void reached(int64_t p);
  // Any other line, as it stands.
  void message(std::string_view text);
  void messagef(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // -1 before the first status line, -2 to -100 while the ring fills, then
  // 0 to 99: the slot that the next status line overwrites.
  int32_t rate_index() const { return rate_index_; }

 private:
  struct rate_sample {
    int64_t value = 0;  // the prime reached that the status line carries
    int32_t time = 0;   // clock reading when the line was handled
  };
  static constexpr int ring_size = 100;

  void update_rate(int64_t p);
  void set_rate_suffix(const rate_sample& now, const rate_sample& then);
  void write_live(std::string_view status_text, int64_t p);

  FILE* out_;
  millisecond_clock clock_;
  std::array<rate_sample, ring_size> ring_{};
  int32_t rate_index_ = -1;
  std::string rate_suffix_;
  double rate_ = 0;  // p per second, 0 until known

  bool live_ = false;
  int64_t range_start_ = 0;
  int64_t range_end_ = 0;
  std::string live_line_;  // the status line shown in place, if any
};

// "1:02:03", or "2d 01:02:03" from a day on.
std::string duration_text(double seconds);

}  // namespace veksieve
