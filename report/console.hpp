// The console message channel: everything printed while the sieve runs passes
// through one console_channel, which strips the "#" kind prefix, gives status
// lines ("#S") their rate from a ring of the last 100 of them, ends every
// message with one newline and flushes, so piped output arrives line by line.
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

  // Message kinds: "#S" status line (gets the rate), "#s" prime reached,
  // "#C" completion, "#E" verification error; text without "#" prints whole.
  void print_message(std::string_view text);
  void print_messagef(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // -1 before the first status line, -2 to -100 while the ring fills, then
  // 0 to 99: the slot that the next status line overwrites.
  int32_t rate_index() const { return rate_index_; }

 private:
  struct rate_sample {
    int64_t value = 0;  // the prime reached that the status line carries
    int32_t time = 0;   // clock reading when the line was handled
  };
  static constexpr int ring_size = 100;

  void update_rate(std::string_view text);
  void set_rate_suffix(const rate_sample& now, const rate_sample& then);

  FILE* out_;
  millisecond_clock clock_;
  std::array<rate_sample, ring_size> ring_{};
  int32_t rate_index_ = -1;
  std::string rate_suffix_;
  std::string line_;  // reused for the text being printed
};

}  // namespace veksieve
