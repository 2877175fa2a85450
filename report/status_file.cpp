// Status file lines, their reading, and durable writes with a bounded retry.
// Lines are read whole and recognised by their first characters, so LF and
// CR LF files read alike.
#include "report/status_file.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <thread>

#include "common/leading_number.hpp"
#include "common/text_format.hpp"

namespace veksieve {

namespace {

// The text after the first occurrence of `mark`, or nothing.
std::optional<std::string_view> after(std::string_view text, std::string_view mark) {
  const std::size_t at = text.find(mark);
  if (at == std::string_view::npos) return std::nullopt;
  return text.substr(at + mark.size());
}

bool is_blank(std::string_view text) { return text.find_first_not_of(" \t\r") == std::string_view::npos; }

// The c of a factor line from the text after "*2^": -1 when the exponent's
// digits are followed by '-', else +1.
int32_t form_after_exponent(std::string_view text) {
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return 1;
  if (text[i] == '+' || text[i] == '-') ++i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  return i < text.size() && text[i] == '-' ? -1 : 1;
}

}  // namespace

std::string range_lines(int64_t pmin, int64_t pmax) {
  return text_format("pmax=%" PRId64 "\npmin=%" PRId64 "\n", pmax, pmin);
}

std::string checkpoint_line(int64_t pmin) {
  return text_format("pmin=%" PRId64 "\n", pmin);
}

std::string factor_text(const factor_line& factor) {
  return text_format("%" PRId64 " | %d*2^%u%s", factor.p, factor.k, factor.n, factor.c < 0 ? "-1" : "+1");
}

std::optional<factor_line> parse_factor_line(std::string_view line) {
  const leading_number p = read_leading_number(line);
  const auto k_text = after(line, "|");
  if (!k_text) return std::nullopt;
  const leading_number k = read_leading_number(*k_text);
  const auto n_text = after(*k_text, "*2^");
  if (!n_text) return std::nullopt;
  const leading_number n = read_leading_number(*n_text);
  if (!p.fits || p.value < 3 || !k.fits || k.value < 1 || k.value > INT32_MAX || !n.fits || n.value < 0 ||
      n.value > UINT32_MAX)
    return std::nullopt;
  return factor_line{p.value, static_cast<int32_t>(k.value), static_cast<uint32_t>(n.value),
                     form_after_exponent(*n_text)};
}

status_reading read_status(std::istream& in, const results_sent_question& ask) {
  status_reading reading;
  status_contents& status = reading.contents;
  std::string line;
  bool seen_pmin = false;
  for (int64_t line_number = 1; std::getline(in, line); ++line_number) {
    const std::string_view text = line;
    const std::string_view head = text.substr(0, 5);
    if (is_blank(text)) continue;
    status.holds_lines = true;
    if (head == "pmax=" || head == "pmin=") {
      const leading_number number = read_leading_number(text.substr(5));
      if (!number.fits) {
        reading.problem = status_problem::number_too_large;
        reading.line_number = line_number;
        return reading;
      }
      if (head == "pmin=" && !seen_pmin) status.range_start = number.value;
      seen_pmin = seen_pmin || head == "pmin=";
      (head == "pmax=" ? status.pmax : status.pmin) = number.value;
    } else if (head == "Write") {
      status.console_only = true;
    } else if (text.substr(0, 4) == "Done") {
      if (!ask()) {
        reading.problem = status_problem::results_not_sent;
        return reading;
      }
      // A console-only flag set by an earlier "Write" line stays set.
      const bool console_only = status.console_only;
      status = status_contents{};
      status.console_only = console_only;
      status.results_sent = true;
      return reading;
    } else if (auto factor = parse_factor_line(text)) {
      status.factors.push_back(*factor);
    } else if (!in.eof()) {
      reading.problem = status_problem::not_a_status_file;
      reading.line_number = line_number;
      return reading;
    }
  }
  // The prime source cannot start below 0; refuse before anything is changed.
  if (status.pmin < 0) reading.problem = status_problem::negative_pmin;
  return reading;
}

status_file_writer::status_file_writer(std::string path, console_channel& channel, retry_policy policy,
                                       const std::atomic<bool>* interrupted)
    : path_(std::move(path)), channel_(channel), policy_(policy), interrupted_(interrupted) {}

bool status_file_writer::append(std::string_view line) {
  if (gave_up_) {
    unsaved_.emplace_back(line);
    return false;
  }
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int error = write_durably(path_, line);
    if (error == 0) {
      if (failing_) channel_.messagef("The status file '%s' can be written again", path_.c_str());
      failing_ = false;
      return true;
    }
    if (!failing_) {
      channel_.messagef("The status file '%s' cannot be written: %s - trying again for up to %lld seconds",
                        path_.c_str(), std::strerror(error),
                        static_cast<long long>((policy_.give_up_after.count() + 999) / 1000));
      failing_ = true;
    }
    const bool out_of_time = std::chrono::steady_clock::now() - start >= policy_.give_up_after;
    const bool stopping = interrupted_ != nullptr && interrupted_->load(std::memory_order_relaxed);
    if (out_of_time || stopping) break;
    std::this_thread::sleep_for(policy_.pause);
  }
  channel_.messagef("Giving up on the status file '%s'", path_.c_str());
  gave_up_ = true;
  unsaved_.emplace_back(line);
  return false;
}

}  // namespace veksieve
