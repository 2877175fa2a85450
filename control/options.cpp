// The option scan. The alpha value is read like strtod reads a decimal number
// (leading blanks, sign, digits, fraction, exponent), but locale-free and
// without hexadecimal forms; no number reads as 0 and is rejected. The range
// values and a thread count are whole numbers and nothing else.
#include "control/options.hpp"

#include <charconv>
#include <cstring>
#include <optional>
#include <ostream>

#include "common/leading_number.hpp"
#include "common/text_format.hpp"
#include "control/fatal_error.hpp"

namespace veksieve {

namespace {

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

// Whether `arg` starts with the spelling `name` of a value option and its
// '='; a single letter matches in either case.
bool takes_value(std::string_view arg, std::string_view name) {
  if (arg.size() <= name.size() || arg[name.size()] != '=') return false;
  if (name.size() == 2) return arg[0] == '-' && arg[1] != '-' && ascii_lower(arg[1]) == name[1];
  return arg.starts_with(name);
}

// The value of an option, after its '='.
const char* value_of(const char* arg, const option_row& row) { return arg + std::strlen(row.spelling) + 1; }

[[noreturn]] void refuse(const char* arg, const std::string& reason) {
  throw fatal_error{text_format("The option '%s' is invalid - %s!", arg, reason.c_str()), exit_bad_command_line};
}

// A number of billions from "-f=" or "-u=": a whole number and nothing else,
// since a script's "0.5" or "1e3" would otherwise be read as 0 or 1 and start
// a range nobody asked for.
int64_t billions(const char* arg, const option_row& row) {
  const std::string_view text = value_of(arg, row);
  const bool signed_number = !text.empty() && (text[0] == '-' || text[0] == '+');
  const std::string_view digits = text.substr(signed_number ? 1 : 0);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
    refuse(arg, text_format("'%s' is not a whole number of billions", value_of(arg, row)));
  const int64_t value = read_leading_number(text).value;
  const auto least = static_cast<int64_t>(row.least);
  const auto most = static_cast<int64_t>(row.most);
  if (value < 0 && least == 0) refuse(arg, "the sieve cannot start below p=0");
  if (value > most) refuse(arg, text_format("the number is above %lld", static_cast<long long>(most)));
  if (value < least) refuse(arg, text_format("the number is below %lld", static_cast<long long>(least)));
  return value;
}

// The value of an option as a whole number within the row's bounds, digits
// and nothing else; nothing otherwise.
std::optional<int64_t> whole_number(const char* arg, const option_row& row) {
  const std::string_view text = value_of(arg, row);
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < row.least || value > row.most)
    return std::nullopt;
  return value;
}

// Whole seconds within the row's bounds, from "-s=" or "-r=".
int64_t seconds_of(const char* arg, const option_row& row) {
  const std::optional<int64_t> seconds = whole_number(arg, row);
  if (!seconds) refuse(arg, text_format("it takes whole seconds from %.0f to %.0f", row.least, row.most));
  return *seconds;
}

// Applies the value options, from the last argument back.
void apply_values(int argc, const char* const* argv, run_options& options, std::ostream& out) {
  const char* from = nullptr;
  const char* upto = nullptr;
  for (int i = argc - 1; i >= 1; --i) {
    const char* arg = argv[i];
    const option_row* row = find_option(arg);
    if (row == nullptr) continue;
    switch (row->id) {
      case option_id::alpha:
        options.alpha = read_alpha(value_of(arg, *row));
        // Written so that NaN is rejected too.
        if (!(*options.alpha >= row->least && *options.alpha <= row->most)) {
          out << text_format("Invalid alpha - using the default (%g)\n", row->preset);
          options.alpha = row->preset;
        }
        break;
      case option_id::status_file:
        options.status_file = value_of(arg, *row);
        break;
      case option_id::sequence_file:
        options.sequence_file = value_of(arg, *row);
        if (options.sequence_file.empty()) refuse(arg, "it needs a file name");
        break;
      case option_id::write_abcd:
        options.abcd_file = value_of(arg, *row);
        if (options.abcd_file.empty()) refuse(arg, "it needs a file name");
        break;
      case option_id::factors_file:
        options.factors_file = value_of(arg, *row);
        if (options.factors_file.empty()) refuse(arg, "it needs a file name");
        break;
      case option_id::threads:
        options.threads = static_cast<int32_t>(whole_number(arg, *row).value_or(0));
        if (options.threads == 0)
          out << text_format("Invalid number of threads - using the default (one per CPU), or give %g to %g\n",
                             row->least, row->most);
        break;
      case option_id::status_interval:
        options.status_interval = seconds_of(arg, *row);
        break;
      case option_id::payoff_limit:
        options.payoff_limit = seconds_of(arg, *row);
        break;
      case option_id::from:
        from = arg;
        break;
      case option_id::upto:
        upto = arg;
        break;
      case option_id::remove_factored:
      case option_id::help:
      case option_id::version:
        break;
    }
  }

  if (from == nullptr && upto == nullptr) return;
  if (upto == nullptr) refuse(from, "the range also needs -u=");
  if (from == nullptr) refuse(upto, "the range also needs -f=");
  const int64_t start = billions(from, *find_option(from));
  const int64_t end = billions(upto, *find_option(upto));
  const char* fault = end < start ? "the range ends before it starts" : end == start ? "the range is empty" : nullptr;
  if (fault != nullptr)
    throw fatal_error{text_format("The options '%s' and '%s' are invalid - %s!", from, upto, fault),
                      exit_bad_command_line};
  options.command_line_range = prime_range{start * billion, end * billion};
}

}  // namespace

const option_row* find_option(std::string_view arg) {
  for (const option_row& row : option_table) {
    if (*row.value != '\0') {
      if (takes_value(arg, row.spelling)) return &row;
      continue;
    }
    for (std::string_view rest = row.spelling; !rest.empty();) {
      const size_t comma = rest.find(", ");
      if (arg == rest.substr(0, comma)) return &row;
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 2);
    }
  }
  return nullptr;
}

std::string option_help(const option_row& row) { return text_format(row.help, row.least, row.most, row.preset); }

run_options scan_options(int argc, const char* const* argv, std::ostream& out) {
  run_options options;
  for (int i = 1; i < argc; ++i) {
    const option_row* row = find_option(argv[i]);
    if (row == nullptr) continue;
    if (row->id == option_id::help || row->id == option_id::version) {
      options.action = row->id == option_id::help ? start_action::help : start_action::version;
      return options;
    }
    if (row->id == option_id::remove_factored) options.action = start_action::remove_factored;
    if (row->id == option_id::write_abcd && options.action == start_action::sieve) options.action = start_action::write_abcd;
  }
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-')
      out << "Ignoring unknown argument '" << argv[i] << "'\n";
    else if (find_option(argv[i]) == nullptr)
      out << "Ignoring unknown option '" << argv[i] << "'\n";
  }
  apply_values(argc, argv, options, out);
  return options;
}

}  // namespace veksieve
