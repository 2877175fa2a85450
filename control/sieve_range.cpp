// The range dialogue. Numbers are typed in billions; each must keep its range
// within 2^62, so that its product by 10^9 fits 64 bits, the start may not be
// negative (the prime source starts at 0 or above), and the end must lie
// above the start: an empty or reversed range would finish at once and leave
// "Done" for primes never sieved. A status file is never written afresh
// without its old contents kept beside it as a backup. An
// input that ends cannot confirm a range, and is no yes to the
// completed-results question either. A range from the command line asks
// nothing, so it is refused wherever the dialogue would have asked.
#include "control/sieve_range.hpp"

#include <algorithm>
#include <cinttypes>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/leading_number.hpp"
#include "common/text_format.hpp"
#include "control/fatal_error.hpp"
#include "control/status_file_guard.hpp"

namespace veksieve {

namespace {

// One line of the user's answer, or nothing once the input has ended.
std::optional<std::string> answer(std::istream& in, std::ostream& out) {
  out.flush();
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  return line;
}

bool is_yes(const std::optional<std::string>& line) {
  return line && !line->empty() && ((*line)[0] == 'Y' || (*line)[0] == 'y');
}

[[noreturn]] void input_ended() {
  throw fatal_error{"\nThe input has ended before a range was confirmed - nothing was sieved.", exit_no_range};
}

// Asks `prompt` until the answer's leading number lies in [lowest, max_range_billions].
int64_t ask_billions(std::istream& in, std::ostream& out, const char* prompt, int64_t lowest) {
  for (;;) {
    out << prompt;
    const std::optional<std::string> line = answer(in, out);
    if (!line) input_ended();
    const leading_number number = read_leading_number(*line);
    if (number.value < 0 && lowest == 0)
      out << "The sieve cannot start below p=0 - please type 0 or more.\n";
    else if (number.value > max_range_billions)
      out << "That is too large - please type at most " << max_range_billions << ".\n";
    else if (number.value < lowest)
      out << "That is too small - please type at least -2147483648.\n";
    else
      return number.value;
  }
}

// Asks for a range until one is confirmed.
prime_range ask_range(std::istream& in, std::ostream& out) {
  for (;;) {
    const int64_t pmin = ask_billions(in, out, "Sieve from p=? billion: ", 0) * billion;
    const int64_t pmax = ask_billions(in, out, "Sieve upto p=? billion: ", INT32_MIN) * billion;
    if (pmax < pmin) {
      out << "The sieve cannot end below its start - please type both numbers again.\n";
      continue;
    }
    if (pmax == pmin) {
      out << "The sieve cannot end where it starts - please type both numbers again.\n";
      continue;
    }
    out << text_format("\nThe sieve is from p=%" PRId64 " billion to %" PRId64 " billion - OK (Y/N)? ",
                       pmin / billion, pmax / billion);
    const std::optional<std::string> line = answer(in, out);
    if (!line) input_ended();
    if (is_yes(line)) return {pmin, pmax};
  }
}

[[noreturn]] void refuse_command_line_range_over_results(const std::string& name) {
  throw fatal_error{"The file '" + name +
                        "' holds a complete set of results - these must be sent to the Vek team before a new sieve "
                        "starts. Once they are, delete the file (or start without -f= and -u= and answer YES).",
                    exit_no_range};
}

bool results_were_sent(std::istream& in, std::ostream& out, const std::string& name) {
  out << "There is a complete set of results in the file '" << name
      << "' - have these been sent to the Vek team?\n\nNB If you say YES, the file will be overwritten and "
         "the data will be lost!\n";
  return is_yes(answer(in, out));
}

}  // namespace

range_state settle_range(const run_options& options, sequence_table& table, std::istream& in, std::ostream& out) {
  status_contents status;
  // Only a regular file can hold a run to resume. A device such as /dev/full
  // or /dev/zero reads as one endless line that would fill the memory.
  std::error_code not_there;
  if (std::filesystem::is_regular_file(options.status_file, not_there)) {
    std::ifstream file(options.status_file, std::ios::binary);
    if (file) {
      status = read_status(file, options.status_file, [&] {
        if (options.command_line_range) refuse_command_line_range_over_results(options.status_file);
        return results_were_sent(in, out, options.status_file);
      });
      if (status.results_sent) {
        file.close();
        // The text warns that the file is overwritten; it is kept all the same.
        const std::string backup = keep_as_backup(options.status_file);
        out << "The results are kept as '" << backup << "'.\n";
        empty_status_file(options.status_file);
      }
    }
  }

  int64_t pmin = status.pmin;
  int64_t pmax = status.pmax;
  if (pmax != 0 && options.command_line_range) {
    throw fatal_error{text_format("The file '%s' holds an unfinished range (p=%" PRId64 " to %" PRId64
                                  ") - start veksieve without -f= and -u= to resume it.",
                                  options.status_file.c_str(), pmin, pmax),
                      exit_no_range};
  }
  range_state range;
  range.resumable = pmax != 0;
  range.resumed = pmax != 0;
  range.range_start = status.range_start;
  range.saved_factors = static_cast<int64_t>(status.factors.size());
  if (range.resumed) strike_reported_factors(table, status, options.status_file, out);
  if (pmax == 0) {
    const prime_range chosen = options.command_line_range ? *options.command_line_range : ask_range(in, out);
    pmin = chosen.pmin;
    pmax = chosen.pmax;
    if (pmin == 0) {
      for (std::vector<uint32_t>& bits : table.bitmap_storage) std::fill(bits.begin(), bits.end(), ~uint32_t{0});
    } else {
      // A file that names no range (damaged, cut short, edited by hand) may
      // still hold factor lines: it is kept before it is written afresh.
      if (status.holds_lines) {
        const std::string backup = keep_as_backup(options.status_file);
        out << "The file '" << options.status_file << "' names no range - it is kept as '" << backup
            << "' and started afresh.\n";
      }
      create_status_file(options.status_file, pmin, pmax);
      range.resumable = true;
    }
  }

  range.pmin = pmin;
  range.pmax = pmax;
  range.console_only = status.console_only || pmin == 0;
  return range;
}

}  // namespace veksieve
