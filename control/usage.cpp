// One screen of usage: what the program reads and writes, every option, the
// exit statuses and an example. The version comes from the build (CMake's
// project version). Both entry points answer the starts that do not sieve here.
#include "control/usage.hpp"

#include <ostream>

#include "common/config.hpp"
#include "common/text_format.hpp"
#include "control/remove_factored.hpp"

namespace veksieve {

namespace {

constexpr const char* usage_head = R"(Usage: veksieve [-a=ALPHA] [-o=FILE] [-t=N] [-f=FROM -u=UPTO]
                [-s=SECONDS] [-r=SECONDS] [--factors=FILE] [-i=FILE]
       veksieve --remove-factored [-o=FILE] [-i=FILE] [--write-abcd=FILE]
       veksieve --write-abcd=FILE [-o=FILE] [-i=FILE]
       veksieve --help | --version

Sieves the candidates k*2^n+1 listed in Vek.dat (in the current directory),
or the k*2^n+1 and k*2^n-1 of an ABCD file given with -i=, by the primes of
a range, and records each factor and the progress in the status file, so
that an interrupted run resumes where it stopped. Without -f= and -u= it
resumes the status file's range or asks for a new one.

Options (the letter may be upper or lower case; the first occurrence counts):
)";

constexpr const char* usage_tail = R"(
Files:
  Vek.dat        the candidates: counts, nmin, nmax, then "k=" lines with
                 their exponents n
  ABCD           "ABCD k*2^$a+1 [n0]" or "ABCD k*2^$a-1 [n0]" per sequence,
                 then one line per further n: its distance to the previous
  VekStatus.dat  pmax= and pmin= lines, one "p | k*2^n+1" line per factor,
                 "Done" when the range is finished

Exit status:
  0  the range was sieved and saved (or Vek.dat was rewritten)
  1  any other failure
  2  Vek.dat is missing or defective
  3  no range: results not sent, input ended, or -f=/-u= over a status file
     that holds a range
  4  the status file (or Vek.dat) cannot be written
  5  the status file cannot be used
  6  -f=, -u=, -s=, -r=, -i=, --factors= or --write-abcd= cannot be used
  7  another veksieve run holds the status file
  128+N  interrupted by signal N (Ctrl-C: 130); the next start resumes

Example:
  veksieve -f=3 -u=5    sieve p from 3 to 5 billion; stop with Ctrl-C,
                        resume by starting veksieve again in the same place
)";

// The options, one per line in two columns (a name too wide for the first
// puts its text on the next line); help and version share the last line.
std::string option_lines() {
  constexpr int name_width = 10;
  const std::string indent(name_width + 3, ' ');
  std::string lines;
  std::string answers;
  for (const option_row& row : option_table) {
    std::string help = option_help(row);
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
      help.insert(at + 1, indent);
    if (row.id == option_id::help || row.id == option_id::version) {
      answers += text_format("  %s  %-17s", row.spelling, help.c_str());
      continue;
    }
    const std::string name = *row.value == '\0' ? row.spelling : text_format("%s=%s", row.spelling, row.value);
    if (name.size() <= name_width) {
      lines += text_format("  %-*s %s\n", name_width, name.c_str(), help.c_str());
    } else {
      lines += "  " + name + "\n" + indent + help + "\n";
    }
  }
  answers.erase(answers.find_last_not_of(' ') + 1);
  return lines + answers + "\n";
}

}  // namespace

std::optional<int> run_without_sieving(const run_options& options, std::ostream& out) {
  switch (options.action) {
    case start_action::help:
      out << usage_head << option_lines() << usage_tail << std::flush;
      return 0;
    case start_action::version:
      out << "veksieve " VEKSIEVE_VERSION "\n" << std::flush;
      return 0;
    case start_action::remove_factored:
    case start_action::write_abcd:
      return remove_factored(options, out);
    case start_action::sieve:
      break;
  }
  return std::nullopt;
}

}  // namespace veksieve
