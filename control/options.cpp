// The option scan. The alpha value is read like strtod reads a decimal number
// (leading blanks, sign, digits, fraction, exponent), but locale-free and
// without hexadecimal forms; no number reads as 0 and is rejected. The range
// values and a thread count are whole numbers and nothing else.
#include "control/options.hpp"

#include <charconv>
#include <cstring>
#include <optional>
#include <ostream>
#include <string_view>

#include "common/config.hpp"
#include "control/fatal_error.hpp"
#include "common/leading_number.hpp"
#include "common/text_format.hpp"

namespace veksieve {

namespace {

constexpr int64_t max_option_seconds = 365 * 24 * 3600;
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

// The letter of a "-x=value" argument, lowered; 0 for any other argument.
char option_letter(const char* arg) {
  if (arg[0] != '-' || arg[1] == '\0' || arg[2] != '=') return 0;
  return ascii_lower(arg[1]);
}

bool is_word(const char* arg, std::initializer_list<const char*> words) {
  for (const char* word : words)
    if (std::strcmp(arg, word) == 0) return true;
  return false;
}

constexpr std::string_view factors_option = "--factors=";

bool is_factors_option(const char* arg) { return std::string_view(arg).starts_with(factors_option); }

bool is_known(const char* arg) {
  const char letter = option_letter(arg);
  return (letter != 0 && std::strchr("aoftusr", letter) != nullptr) || is_factors_option(arg) ||
         is_word(arg, {"-h", "-?", "--help", "--version", "--remove-factored"});
}

[[noreturn]] void refuse(const char* arg, const char* reason) {
  throw fatal_error{text_format("The option '%s' is invalid - %s!", arg, reason), exit_bad_command_line};
}

// A number of billions from "-f=" or "-u=": a whole number and nothing else,
// since a script's "0.5" or "1e3" would otherwise be read as 0 or 1 and start
// a range nobody asked for.
int64_t billions(const char* arg, int64_t lowest) {
  const std::string_view text = arg + 3;
  const bool signed_number = !text.empty() && (text[0] == '-' || text[0] == '+');
  const std::string_view digits = text.substr(signed_number ? 1 : 0);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
    refuse(arg, text_format("'%s' is not a whole number of billions", arg + 3).c_str());
  const leading_number number = read_leading_number(text);
  if (number.value < 0 && lowest == 0) refuse(arg, "the sieve cannot start below p=0");
  if (number.value > max_range_billions)
    refuse(arg, text_format("the number is above %lld", static_cast<long long>(max_range_billions)).c_str());
  if (number.value < lowest) refuse(arg, "the number is below -2147483648");
  return number.value;
}

// The value of a "-x=" option as a whole number from `least` to `most`,
// digits and nothing else; nothing otherwise.
std::optional<int64_t> whole_number(const char* arg, int64_t least, int64_t most) {
  const std::string_view text = arg + 3;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < least || value > most) return std::nullopt;
  return value;
}

// Whole seconds from 1 up to a year, from "-s=" or "-r=".
int64_t seconds_of(const char* arg) {
  const std::optional<int64_t> seconds = whole_number(arg, 1, max_option_seconds);
  if (!seconds)
    refuse(arg, text_format("it takes whole seconds from 1 to %lld", static_cast<long long>(max_option_seconds)).c_str());
  return *seconds;
}

}  // namespace

start_action scan_options(int argc, const char* const* argv, sieve_job& job, std::ostream& out) {
  job.alpha = default_alpha;
  job.alpha_given = false;
  job.status_file = default_status_file;
  job.factors_file.clear();
  job.threads = 0;
  job.status_interval = 0;
  job.payoff_limit = 0;
  job.command_line_range.reset();

  start_action action = start_action::sieve;
  for (int i = 1; i < argc; ++i) {
    if (is_word(argv[i], {"-h", "-?", "--help"})) return start_action::help;
    if (is_word(argv[i], {"--version"})) return start_action::version;
    if (is_word(argv[i], {"--remove-factored"})) action = start_action::remove_factored;
  }
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-')
      out << "Ignoring unknown argument '" << argv[i] << "'\n";
    else if (!is_known(argv[i]))
      out << "Ignoring unknown option '" << argv[i] << "'\n";
  }

  const char* from = nullptr;
  const char* upto = nullptr;
  for (int i = argc - 1; i >= 1; --i) {
    const char* arg = argv[i];
    if (is_factors_option(arg)) {
      job.factors_file = arg + factors_option.size();
      if (job.factors_file.empty()) refuse(arg, "it needs a file name");
      continue;
    }
    switch (option_letter(arg)) {
      case 'a':
        job.alpha_given = true;
        job.alpha = read_alpha(arg + 3);
        // Written so that NaN is rejected too.
        if (!(job.alpha >= min_alpha && job.alpha <= max_alpha)) {
          out << invalid_alpha_message;
          job.alpha = default_alpha;
        }
        break;
      case 'o':
        job.status_file = arg + 3;
        break;
      case 't':
        if (const std::optional<int64_t> threads = whole_number(arg, 1, max_threads)) {
          job.threads = static_cast<int32_t>(*threads);
        } else {
          out << invalid_threads_message;
          job.threads = 0;
        }
        break;
      case 's':
        job.status_interval = seconds_of(arg);
        break;
      case 'r':
        job.payoff_limit = seconds_of(arg);
        break;
      case 'f':
        from = arg;
        break;
      case 'u':
        upto = arg;
        break;
      default:
        break;
    }
  }

  if (from != nullptr || upto != nullptr) {
    if (upto == nullptr) refuse(from, "the range also needs -u=");
    if (from == nullptr) refuse(upto, "the range also needs -f=");
    const int64_t start = billions(from, 0);
    const int64_t end = billions(upto, INT32_MIN);
    if (end < start)
      throw fatal_error{text_format("The options '%s' and '%s' are invalid - the range ends before it starts!", from,
                                    upto),
                        exit_bad_command_line};
    if (end == start)
      throw fatal_error{text_format("The options '%s' and '%s' are invalid - the range is empty!", from, upto),
                        exit_bad_command_line};
    job.command_line_range = prime_range{start * billion, end * billion};
  }
  return action;
}

}  // namespace veksieve
