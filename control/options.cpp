// The option scan. The alpha value is read like strtod reads a decimal number
// (leading blanks, sign, digits, fraction, exponent), but locale-free and
// without hexadecimal forms; no number reads as 0 and is rejected.
#include "control/options.hpp"

#include <charconv>
#include <ostream>
#include <string_view>

#include "common/config.hpp"

namespace veksieve {

namespace {

constexpr const char* invalid_alpha_message = "Invalid alpha - using the default (2.5)\n";
constexpr const char* invalid_threads_message =
    "Invalid number of threads - using the default (one per CPU), or give 1 to 1024\n";

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

double read_alpha(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i < text.size() && text[i] == '+') {
    ++i;
    if (i < text.size() && text[i] == '-') return 0;  // "+-" starts no number
  }
  double value = 0;
  const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (ec != std::errc()) return 0;  // no number, or one beyond double: rejected either way
  return value;
}

}  // namespace

void scan_options(int argc, const char* const* argv, sieve_job& job, std::ostream& out) {
  job.alpha = default_alpha;
  job.status_file = default_status_file;
  job.threads = 0;
  for (int i = argc - 1; i >= 1; --i) {
    const char* arg = argv[i];
    if (arg[0] != '-' || arg[1] == '\0' || arg[2] != '=') continue;
    const char letter = ascii_lower(arg[1]);
    if (letter == 'a') {
      job.alpha = read_alpha(arg + 3);
      // Written so that NaN is rejected too.
      if (!(job.alpha >= min_alpha && job.alpha <= max_alpha)) {
        out << invalid_alpha_message;
        job.alpha = default_alpha;
      }
    } else if (letter == 'o') {
      job.status_file = arg + 3;
    } else if (letter == 't') {
      const std::string_view text = arg + 3;
      int32_t threads = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), threads);
      if (ec == std::errc() && end == text.data() + text.size() && threads >= 1 && threads <= max_threads) {
        job.threads = threads;
      } else {
        out << invalid_threads_message;
        job.threads = 0;
      }
    }
  }
}

}  // namespace veksieve
