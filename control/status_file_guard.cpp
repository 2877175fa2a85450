// Status file reading and creation for start-up. The new file is written with
// one durable write: a run that cannot record its range must not start, since
// it could not record its factors either.
#include "control/status_file_guard.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "common/config.hpp"
#include "common/text_format.hpp"
#include "control/fatal_error.hpp"
#include "control/options.hpp"
#include "control/sequence_table.hpp"
#include "report/exact_arithmetic.hpp"

namespace veksieve {

status_contents read_status(std::istream& in, const std::string& name, const results_sent_question& ask) {
  status_reading reading = read_status(in, ask);
  switch (reading.problem) {
    case status_problem::none:
      break;
    case status_problem::number_too_large:
      throw fatal_error{text_format("The file '%s' is invalid - the number on line %lld does not fit 64 bits!",
                                    name.c_str(), static_cast<long long>(reading.line_number)),
                        exit_bad_status_file};
    case status_problem::results_not_sent:
      throw fatal_error{"Please send the results to the Vek team before starting a new sieve.", exit_no_range};
    case status_problem::not_a_status_file:
      throw fatal_error{text_format("The file '%s' is no status file - line %lld is none of its lines, and nothing "
                                    "was changed!",
                                    name.c_str(), static_cast<long long>(reading.line_number)),
                        exit_bad_status_file};
    case status_problem::negative_pmin:
      throw fatal_error{text_format("The file '%s' is invalid - pmin=%lld is negative!", name.c_str(),
                                    static_cast<long long>(reading.contents.pmin)),
                        exit_bad_status_file};
  }
  for (const auto& [name_of_number, value] : {std::pair{"pmax", reading.contents.pmax},
                                              std::pair{"pmin", reading.contents.pmin}}) {
    if (value > status_number_limit)
      throw fatal_error{text_format("The file '%s' is invalid - %s=%lld lies beyond 2^62, the end of every range!",
                                    name.c_str(), name_of_number, static_cast<long long>(value)),
                        exit_bad_status_file};
  }
  const status_contents& status = reading.contents;
  if (status.pmax != 0 && status.pmin > status.pmax)
    throw fatal_error{text_format("The file '%s' is invalid - pmin=%lld lies above pmax=%lld, and nothing was changed!",
                                  name.c_str(), static_cast<long long>(status.pmin),
                                  static_cast<long long>(status.pmax)),
                      exit_bad_status_file};
  return std::move(reading.contents);
}

file_lock lock_status_file(const run_options& options) {
  const std::string& name = options.status_file;
  std::error_code no_answer;
  for (const std::string& other : {name, options.sequence_file}) {
    if (!options.factors_file.empty() && std::filesystem::equivalent(options.factors_file, other, no_answer))
      throw fatal_error{text_format("The factors file '%s' is the file '%s' - nothing was changed!",
                                    options.factors_file.c_str(), other.c_str()),
                        exit_bad_command_line};
  }
  if (std::filesystem::equivalent(name, options.sequence_file, no_answer))
    throw fatal_error{text_format("The file '%s' is the sequence file - it cannot be the status file as well, and "
                                  "nothing was changed!",
                                  name.c_str()),
                      exit_bad_status_file};
  file_lock lock(name);
  if (lock.status() == file_lock::state::in_use)
    throw fatal_error{text_format("The file '%s' is in use by another veksieve run - nothing was changed!",
                                  name.c_str()),
                      exit_status_file_in_use};
  return lock;
}

std::string keep_as_backup(const std::string& name) {
  for (int number = 0;; ++number) {
    const std::string backup = number == 0 ? name + ".bak" : text_format("%s.bak.%d", name.c_str(), number);
    const int error = copy_durably(name, backup);
    if (error == 0) return backup;
    if (error != EEXIST) {
      throw fatal_error{text_format("The file '%s' cannot be kept as '%s' - %s, and nothing was changed!",
                                    name.c_str(), backup.c_str(), std::strerror(error)),
                        exit_status_file_unwritable};
    }
  }
}

void empty_status_file(const std::string& name) {
  bool opened = false;
  const int error = write_durably(name, "", write_mode::replace, &opened);
  if (error != 0) cannot_write(opened ? "written" : "emptied", name, error);
}

void create_status_file(const std::string& name, int64_t pmin, int64_t pmax) {
  bool opened = false;
  const int error = write_durably(name, range_lines(pmin, pmax), write_mode::replace, &opened);
  if (error != 0) cannot_write(opened ? "written" : "created", name, error);
}

void strike_reported_factors(sequence_table& table, const status_contents& status, const std::string& name,
                             std::ostream& out) {
  for (const factor_line& factor : status.factors) {
    if (factor.n < static_cast<uint32_t>(table.nmin) || factor.n > static_cast<uint32_t>(table.nmax)) continue;
    // A line that does not verify strikes nothing: the candidate's true
    // factor, if it has one, is then found again.
    if (!divides_k_2n_c(factor.p, factor.k, factor.n, factor.c)) {
      out << "Passing over the line '" << factor_text(factor) << "' of '" << name << "': its p does not divide k*2^n"
          << (factor.c < 0 ? "-1" : "+1") << "\n";
      continue;
    }
    table.strike(factor.k, factor.n, factor.c);
  }
}

}  // namespace veksieve
