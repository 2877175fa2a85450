// The console's lines, the rate ring and the one newline per line. The rate
// is the advance of the prime reached per second, measured over up to 99
// intervals between status lines.
#include "report/console.hpp"

#include <algorithm>
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

console_channel::~console_channel() { end_live(); }

void console_channel::show_live(int64_t range_start, int64_t range_end) {
  live_ = true;
  range_start_ = range_start;
  range_end_ = range_end;
}

void console_channel::end_live() {
  if (live_line_.empty()) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  live_line_.clear();
}

std::string duration_text(double seconds) {
  const auto whole = static_cast<int64_t>(std::min(seconds, 1e12) + 0.5);
  const int64_t days = whole / 86400;
  char text[48];
  if (days > 0) {
    std::snprintf(text, sizeof text, "%" PRId64 "d %02d:%02d:%02d", days, static_cast<int>(whole / 3600 % 24),
                  static_cast<int>(whole / 60 % 60), static_cast<int>(whole % 60));
  } else {
    std::snprintf(text, sizeof text, "%d:%02d:%02d", static_cast<int>(whole / 3600), static_cast<int>(whole / 60 % 60),
                  static_cast<int>(whole % 60));
  }
  return text;
}

void console_channel::write_live(std::string_view status_text, int64_t p) {
  live_line_.assign(status_text);
  if (range_end_ > range_start_) {
    const double share = static_cast<double>(std::clamp(p, range_start_, range_end_) - range_start_) /
                         static_cast<double>(range_end_ - range_start_);
    char done[32];
    std::snprintf(done, sizeof done, "; %.1f%% done", 100.0 * share);
    live_line_ += done;
    if (rate_ > 0) live_line_ += "; " + duration_text(static_cast<double>(range_end_ - p) / rate_) + " left";
  }
  // Back to the line's start, the new text, and the rest of the old one wiped.
  std::fprintf(out_, "\r%s\x1b[K", live_line_.c_str());
  std::fflush(out_);
}

void console_channel::status(int64_t p) {
  update_rate(p);
  char text[160];
  if (p < 1000000) {
    std::snprintf(text, sizeof text, "Sieved up to %" PRId64 "%s", p, rate_suffix_.c_str());
  } else {
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
    std::snprintf(text, sizeof text, "Sieved up to %" PRId64 " (%.1f %s)%s", p, scaled - 0.05, unit,
                  rate_suffix_.c_str());
  }
  if (live_) {
    write_live(text, p);
  } else {
    message(text);
  }
}

void console_channel::factor(int64_t p, int32_t k, uint32_t n) { messagef("%" PRId64 " | %d*2^%u+1", p, k, n); }

void console_channel::verification_failed(int64_t p, int32_t k, uint32_t n) {
  messagef("Verification failed: %" PRId64 " does not divide %d*2^%u+1!", p, k, n);
}

void console_channel::completed() {
  end_live();
  message("Done");
}

void console_channel::reached(int64_t p) {
  end_live();
  messagef("%" PRId64, p);
}

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
  // Over the status line shown in place, which then comes back below.
  if (!live_line_.empty()) std::fputs("\r\x1b[K", out_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  if (!live_line_.empty()) std::fprintf(out_, "%s\x1b[K", live_line_.c_str());
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
  rate_ = rate;
  std::array<char, 64> text;
  std::snprintf(text.data(), text.size(), "; rate %.0f p/sec", rate);
  rate_suffix_ = text.data();
}

}  // namespace veksieve
