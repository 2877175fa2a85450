// Status file reading and creation for start-up. The new file is written with
// one durable write: a run that cannot record its range must not start, since
// it could not record its factors either.
#include "control/status_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/config.hpp"
#include "control/fatal_error.hpp"
#include "control/sieve_job.hpp"
#include "control/text_format.hpp"

namespace veksieve {

namespace {

[[noreturn]] void cannot(const char* what, const std::string& name, int error) {
  throw fatal_error{text_format("The file '%s' cannot be %s - %s!", name.c_str(), what, std::strerror(error)),
                    exit_status_file_unwritable};
}

}  // namespace

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
  return std::move(reading.contents);
}

void create_status_file(const std::string& name, int64_t pmin, int64_t pmax) {
  bool opened = false;
  const int error = write_durably(name, range_lines(pmin, pmax), write_mode::replace, &opened);
  if (error != 0) cannot(opened ? "written" : "created", name, error);
}

void delete_status_file(const std::string& name) {
  if (std::remove(name.c_str()) != 0 && errno != ENOENT) cannot("deleted", name, errno);
}

void strike_reported_factors(sieve_job& job, const status_contents& status) {
  for (const factor_line& factor : status.factors) {
    if (factor.n < static_cast<uint32_t>(job.nmin) || factor.n > static_cast<uint32_t>(job.nmax)) continue;
    const uint32_t bit = factor.n - static_cast<uint32_t>(job.nmin);
    for (int32_t i = 0; i < job.count; ++i) {
      if (job.k[static_cast<std::size_t>(i)] != factor.k) continue;
      job.bitmap[static_cast<std::size_t>(i)][bit / 32] &= ~(uint32_t{1} << (bit % 32));
    }
  }
}

}  // namespace veksieve
