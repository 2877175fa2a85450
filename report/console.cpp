// The console's lines, the rate and the one newline per line. The rate is
// the advance of the prime reached per second over a window of wall-clock
// time; the status line shown in place on a terminal is fitted to its width.
#include "report/console.hpp"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>

#include "common/platform.hpp"
#include "common/text_format.hpp"
#include "report/factor_payoff.hpp"

namespace veksieve {

namespace {

// What is left out first when the live line is too wide: the prime in words
// (its digits say the same), then the rate (the time left says what it
// means), then the time left; the share done and the prime itself stay.
constexpr int rank_scaled_prime = 1;
constexpr int rank_rate = 2;
constexpr int rank_time_left = 3;
constexpr int rank_share_done = 4;
constexpr int rank_prime = 5;

std::string joined(const std::vector<line_part>& parts) {
  std::string text;
  for (const line_part& part : parts) text += part.text;
  return text;
}

}  // namespace

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
  if (live_parts_.empty()) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  live_parts_.clear();
}

std::string duration_text(double seconds) {
  const auto whole = static_cast<int64_t>(std::min(seconds, 1e12) + 0.5);
  const int64_t days = whole / 86400;
  if (days > 0) {
    return text_format("%" PRId64 "d %02d:%02d:%02d", days, static_cast<int>(whole / 3600 % 24),
                       static_cast<int>(whole / 60 % 60), static_cast<int>(whole % 60));
  }
  return text_format("%d:%02d:%02d", static_cast<int>(whole / 3600), static_cast<int>(whole / 60 % 60),
                     static_cast<int>(whole % 60));
}

std::string fit_line(const std::vector<line_part>& parts, std::size_t most) {
  std::vector<line_part> kept = parts;
  std::string text = joined(kept);
  while (text.size() > most && kept.size() > 1) {
    kept.erase(std::min_element(kept.begin(), kept.end(),
                                [](const line_part& a, const line_part& b) { return a.rank < b.rank; }));
    text = joined(kept);
  }
  if (text.size() > most) text.resize(most);
  return text;
}

std::vector<line_part> console_channel::status_parts(int64_t p) const {
  std::vector<line_part> parts;
  parts.push_back({text_format("Sieved up to %" PRId64, p), rank_prime});
  if (p >= 1000000) {
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
    parts.push_back({text_format(" (%.1f %s)", scaled - 0.05, unit), rank_scaled_prime});
  }
  if (rate_ > 0) parts.push_back({text_format("; rate %.0f p/sec", rate_), rank_rate});
  return parts;
}

void console_channel::status(int64_t p) {
  rate_ = rate_meter_.update(p, clock_());
  std::vector<line_part> parts = status_parts(p);
  if (!live_) {
    const uint32_t now = clock_();
    if (log_interval_ms_ > 0 && last_logged_ && now - *last_logged_ < log_interval_ms_) return;
    last_logged_ = now;
    message(joined(parts));
    return;
  }
  if (seconds_per_factor_) parts.push_back({"; " + seconds_per_factor_text(*seconds_per_factor_), rank_rate});
  if (range_end_ > range_start_) {
    const double share = static_cast<double>(std::clamp(p, range_start_, range_end_) - range_start_) /
                         static_cast<double>(range_end_ - range_start_);
    parts.push_back({text_format("; %.1f%% done", 100.0 * share), rank_share_done});
    if (rate_ > 0) {
      parts.push_back({"; " + duration_text(static_cast<double>(range_end_ - p) / rate_) + " left", rank_time_left});
    }
  }
  live_parts_ = std::move(parts);
  std::fputc('\r', out_);
  write_live();
}

void console_channel::write_live() {
  // The width is read at every rewrite, so a resized window is followed. One
  // column stays free: a line that fills the last one wraps on some
  // terminals, and '\r' would then return only to the start of its last row.
  const int columns = terminal_columns(out_);
  const std::size_t most = columns > 0 ? static_cast<std::size_t>(columns - 1) : SIZE_MAX;
  // The new text, and the rest of the old one wiped.
  std::fprintf(out_, "%s\x1b[K", fit_line(live_parts_, most).c_str());
  std::fflush(out_);
}

void console_channel::factor(int64_t p, int32_t k, uint32_t n, int32_t c) {
  messagef("%" PRId64 " | %d*2^%u%s", p, k, n, c < 0 ? "-1" : "+1");
}

void console_channel::verification_failed(int64_t p, int32_t k, uint32_t n, int32_t c) {
  messagef("Verification failed: %" PRId64 " does not divide %d*2^%u%s!", p, k, n, c < 0 ? "-1" : "+1");
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
  va_list args;
  va_start(args, format);
  const std::string text = vtext_format(format, args);
  va_end(args);
  message(text);
}

void console_channel::message(std::string_view text) {
  if (text.empty()) return;
  // Over the status line shown in place, which then comes back below.
  if (!live_parts_.empty()) std::fputs("\r\x1b[K", out_);
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  if (!live_parts_.empty()) {
    write_live();
    return;
  }
  std::fflush(out_);
}

double frontier_rate::update(int64_t p, uint32_t now) {
  // The clock runs on, so the difference of two readings modulo 2^32 is the
  // time between them as long as status lines come less than 49 days apart.
  if (!samples_.empty()) ms_ += static_cast<int64_t>(now - last_reading_);
  last_reading_ = now;
  if (!samples_.empty() && samples_.back().ms / slice_ms == ms_ / slice_ms) {
    samples_.back() = {p, ms_};
    return rate_;
  }
  if (!samples_.empty()) {
    // The last slice is finished: measure up to it from the newest slice a
    // window before it.
    const sample& latest = samples_.back();
    while (samples_.size() > 2 && latest.ms - samples_[1].ms >= rate_window_ms) samples_.pop_front();
    const sample& then = samples_.front();
    if (latest.ms - then.ms >= rate_least_span_ms) {
      rate_ = static_cast<double>(latest.p - then.p) * 1000.0 / static_cast<double>(latest.ms - then.ms);
    }
  }
  samples_.push_back({p, ms_});
  return rate_;
}

}  // namespace veksieve
