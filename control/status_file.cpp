// Status file reading and creation. Lines are read whole and recognised by
// their first characters, so LF and CR LF files read alike. The new file is
// written with one write and synced: a run that cannot record its range must
// not start, since it could not record its factors either.
#include "control/status_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "control/fatal_error.hpp"
#include "control/leading_number.hpp"
#include "control/text_format.hpp"

namespace veksieve {

namespace {

[[noreturn]] void cannot(const char* what, const std::string& name, int error) {
  throw fatal_error{text_format("The file '%s' cannot be %s - %s!", name.c_str(), what, std::strerror(error)),
                    exit_status_file_unwritable};
}

}  // namespace

status_contents read_status(std::istream& in, const std::string& name, const results_sent_question& ask) {
  status_contents status;
  std::string line;
  for (int64_t line_number = 1; std::getline(in, line); ++line_number) {
    const std::string_view text = line;
    const std::string_view head = text.substr(0, 5);
    if (head == "pmax=" || head == "pmin=") {
      const leading_number number = read_leading_number(text.substr(5));
      if (!number.fits)
        throw fatal_error{text_format("The file '%s' is invalid - the number on line %lld does not fit 64 bits!",
                                      name.c_str(), static_cast<long long>(line_number)),
                          exit_bad_status_file};
      (head == "pmax=" ? status.pmax : status.pmin) = number.value;
    } else if (head == "Write") {
      status.console_only = true;
    } else if (text.substr(0, 4) == "Done") {
      if (!ask())
        throw fatal_error{"Please send the results to the Vek team before starting a new sieve.", exit_no_range};
      status.pmin = 0;
      status.pmax = 0;
      status.results_sent = true;
      return status;
    }
  }
  // The prime source cannot start below 0; refuse before anything is changed.
  if (status.pmin < 0)
    throw fatal_error{text_format("The file '%s' is invalid - pmin=%lld is negative!", name.c_str(),
                                  static_cast<long long>(status.pmin)),
                      exit_bad_status_file};
  return status;
}

void create_status_file(const std::string& name, int64_t pmin, int64_t pmax) {
  const std::string text =
      text_format("pmax=%lld\npmin=%lld\n", static_cast<long long>(pmax), static_cast<long long>(pmin));
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) cannot("created", name, errno);
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      cannot("written", name, error);
    }
    written += static_cast<size_t>(n);
  }
  // EINVAL: a file that cannot be synced, such as /dev/null.
  if (::fsync(fd) != 0 && errno != EINVAL) {
    const int error = errno;
    ::close(fd);
    cannot("written", name, error);
  }
  if (::close(fd) != 0) cannot("written", name, errno);
}

void delete_status_file(const std::string& name) {
  if (std::remove(name.c_str()) != 0 && errno != ENOENT) cannot("deleted", name, errno);
}

}  // namespace veksieve
