// The console message channel: kind prefixes, the rate ring and the one
// newline per message. The rate is the advance of the prime reached per
// second, measured over up to 99 intervals between status lines.
#include "report/console.hpp"

#include "report/x87_rounding.hpp"

#include <chrono>
#include <cstdarg>
#include <limits>

namespace veksieve {

namespace {

// The number the status formats carry right after "#SSieved up to ".
constexpr std::size_t status_value_offset = 15;

// Optional sign and digits up to the first other character; saturates
// rather than overflowing on text that is no status line of ours.
int64_t leading_int64(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t limit = std::numeric_limits<int64_t>::max() / 10;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > limit) return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
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

void console_channel::print_messagef(const char* format, ...) {
  std::array<char, 1024> buffer;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length;
  {
    scoped_nearest_rounding nearest;
    length = std::vsnprintf(buffer.data(), buffer.size(), format, args);
  }
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(length) < buffer.size()) {
    va_end(again);
    print_message(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
    return;
  }
  // Longer than any message of ours, but a long status file name could get
  // there: format it whole instead of cutting it.
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  {
    scoped_nearest_rounding nearest;
    std::vsnprintf(text.data(), text.size(), format, again);
  }
  va_end(again);
  text.pop_back();
  print_message(text);
}

void console_channel::print_message(std::string_view text) {
  line_.clear();
  if (!text.empty() && text[0] == '#') {
    if (text.size() >= 2 && text[1] == 'S') {
      update_rate(text);
      line_.append(text.substr(2));
      line_.append(rate_suffix_);
    } else {
      line_.append(text.substr(text.size() >= 2 ? 2 : text.size()));
    }
  } else {
    line_.append(text);
  }
  if (line_.empty()) return;
  line_.push_back('\n');
  std::fwrite(line_.data(), 1, line_.size(), out_);
  std::fflush(out_);
}

void console_channel::update_rate(std::string_view text) {
  rate_sample now;
  now.time = static_cast<int32_t>(clock_());
  now.value = text.size() > status_value_offset ? leading_int64(text.substr(status_value_offset)) : 0;

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
  scoped_nearest_rounding nearest;
  std::snprintf(text.data(), text.size(), "; rate %.0f p/sec", rate);
  rate_suffix_ = text.data();
}

}  // namespace veksieve
