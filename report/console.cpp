// The console's lines, the rate ring and the one newline per line. The rate
// is the advance of the prime reached per second, measured over up to 99
// intervals between status lines.
#include "report/console.hpp"

#include <chrono>
#include <cinttypes>
#include <cstdarg>

namespace veksieve {

millisecond_clock make_process_clock() {
  const auto start = std::chrono::steady_clock::now();
  return [start] {
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return static_cast<uint32_t>(elapsed.count());
  };
}

console_channel::console_channel(FILE* out, millisecond_clock clock) : out_(out), clock_(std::move(clock)) {}

void console_channel::status(int64_t p) {
  update_rate(p);
  if (p < 1000000) {
    messagef("Sieved up to %" PRId64 "%s", p, rate_suffix_.c_str());
    return;
  }
  double scaled;
  const char* unit;
  if (p > 1000000000000) {
    scaled = static_cast<double>(p) * 1e-12;
    unit = "trillion";
  } else if (p > 1000000000) {
    scaled = static_cast<double>(p) * 1e-9;
    unit = "billion";
  } else {
    scaled = static_cast<double>(p) * 1e-6;
    unit = "million";
  }
  // Taking off 0.05 shows the value cut to one decimal, not rounded.
  messagef("Sieved up to %" PRId64 " (%.1f %s)%s", p, scaled - 0.05, unit, rate_suffix_.c_str());
}

void console_channel::factor(int64_t p, int32_t k, uint32_t n) { messagef("%" PRId64 " | %d*2^%u+1", p, k, n); }

void console_channel::verification_failed(int64_t p, int32_t k, uint32_t n) {
  messagef("Verification failed: %" PRId64 " does not divide %d*2^%u+1!", p, k, n);
}

void console_channel::completed() { message("Done"); }

void console_channel::reached(int64_t p) { messagef("%" PRId64, p); }

void console_channel::messagef(const char* format, ...) {
  std::array<char, 1024> buffer;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(length) < buffer.size()) {
    va_end(again);
    message(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
    return;
  }
  // Longer than any line of ours, but a long status file name could get
  // there: format it whole instead of cutting it.
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.pop_back();
  message(text);
}

void console_channel::message(std::string_view text) {
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void console_channel::update_rate(int64_t p) {
  rate_sample now;
  now.time = static_cast<int32_t>(clock_());
  now.value = p;

  if (rate_index_ == -1) {
    ring_[0] = now;
    rate_index_ = -2;
    rate_suffix_.clear();
  } else if (rate_index_ < -1) {
    ring_[static_cast<std::size_t>(-rate_index_ - 1)] = now;
    set_rate_suffix(now, ring_[0]);
    if (--rate_index_ == -ring_size - 1) rate_index_ = 0;
  } else {
    ring_[static_cast<std::size_t>(rate_index_)] = now;
    set_rate_suffix(now, ring_[static_cast<std::size_t>((rate_index_ + 1) % ring_size)]);
    if (++rate_index_ == ring_size) rate_index_ = 0;
  }
}

void console_channel::set_rate_suffix(const rate_sample& now, const rate_sample& then) {
  // Difference modulo 2^32 read as signed, so the clock may wrap.
  const auto elapsed = static_cast<int32_t>(static_cast<uint32_t>(now.time) - static_cast<uint32_t>(then.time));
  // Two status lines in one millisecond give no rate of their own; keep the
  // previous one rather than printing "inf" or "nan".
  if (elapsed == 0) return;
  const auto advance = static_cast<int64_t>(static_cast<uint64_t>(now.value) - static_cast<uint64_t>(then.value));
  const double rate = static_cast<double>(advance) * 1000.0 / static_cast<double>(elapsed);
  std::array<char, 64> text;
  std::snprintf(text.data(), text.size(), "; rate %.0f p/sec", rate);
  rate_suffix_ = text.data();
}

}  // namespace veksieve
