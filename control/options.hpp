// The command line. Options of one letter, '=' and a value ("-a=", "-o=",
// "-t=", "-f=", "-u=", "-s=", "-r=") are scanned from the last argument back,
// so the first occurrence of an option is applied last and wins. The word
// options (--help, --version, --remove-factored) choose what the program
// does; any other argument starting with '-' is named on the console and
// ignored. Every option is a row of one table, from which the scan, the
// usage text and the messages about rejected values are made.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "common/config.hpp"

namespace veksieve {

// Ranges are typed (at the prompt or with -f= and -u=) in billions.
constexpr int64_t billion = 1'000'000'000;

// A range of primes: those above pmin up to pmax.
struct prime_range {
  int64_t pmin = 0;
  int64_t pmax = 0;
};

enum class start_action { sieve, help, version, remove_factored, write_abcd };

// What the command line gave.
struct run_options {
  start_action action = start_action::sieve;
  std::optional<double> alpha;  // -a=, the default for a rejected value; without it the modelled one
  std::string status_file = default_status_file;
  std::string sequence_file = sequence_file_name;  // -i=
  std::string abcd_file;        // --write-abcd=: the sequence file written there as ABCD; empty: none
  std::string factors_file;     // --factors=: every factor line appended there too; empty: none
  int32_t threads = 0;          // -t=; 0: one per CPU this process may run on
  int64_t status_interval = 0;  // -s=: seconds between status lines in a log; 0: every line
  int64_t payoff_limit = 0;     // -r=: seconds per factor beyond which the run stops; 0: never
  // -f= and -u=: a new range, started without questions when the status
  // file holds none.
  std::optional<prime_range> command_line_range;
};

enum class option_id {
  alpha, status_file, sequence_file, threads, from, upto, status_interval, payoff_limit, factors_file,
  remove_factored, write_abcd, help, version
};

struct option_row {
  option_id id;
  // As typed: "-a" takes "=VALUE" and its letter in either case; a word
  // without a value may have several spellings, joined by ", ".
  const char* spelling;
  const char* value;  // the value's name in the usage; empty for a word
  double least, most;  // the bounds of a number value
  double preset;       // the value without the option, where the usage names it
  // The usage text, a printf format taking least, most and preset in that
  // order; a '\n' continues it in the text column.
  const char* help;
};

inline constexpr option_row option_table[] = {
    {option_id::alpha, "-a", "ALPHA", min_alpha, max_alpha, default_alpha,
     "tuning value of the search, %g to %g (default: a cost model\npicks it for the sequence file, mostly %g)"},
    {option_id::status_file, "-o", "FILE", 0, 0, 0, "the status file (default VekStatus.dat)"},
    {option_id::sequence_file, "-i", "FILE", 0, 0, 0, "the sequence file, Vek.dat or ABCD (default Vek.dat)"},
    {option_id::threads, "-t", "N", 1, max_threads, 0, "worker threads, %g to %g (default: one per CPU it may use)"},
    {option_id::from, "-f", "FROM", 0, max_range_billions, 0,
     "start a new range from FROM billion, without questions ..."},
    {option_id::upto, "-u", "UPTO", INT32_MIN, max_range_billions, 0,
     "... up to UPTO billion; refused while the status file holds a\n"
     "range that is unfinished or whose results are not yet sent"},
    {option_id::status_interval, "-s", "SECONDS", 1, max_option_seconds, 0,
     "in a log, a status line at most once every SECONDS"},
    {option_id::payoff_limit, "-r", "SECONDS", 1, max_option_seconds, 0,
     "stop (resumable) once a factor takes longer than SECONDS"},
    {option_id::factors_file, "--factors", "FILE", 0, 0, 0,
     "also append every verified factor line to FILE, each once"},
    {option_id::remove_factored, "--remove-factored", "", 0, 0, 0,
     "rewrite Vek.dat without the candidates that the status file's\n"
     "factor lines name; the old file is kept as Vek.dat.bak"},
    {option_id::write_abcd, "--write-abcd", "FILE", 0, 0, 0,
     "write the sequence file to FILE as ABCD, without the candidates\n"
     "that the status file's factor lines name"},
    {option_id::help, "-h, -?, --help", "", 0, 0, 0, "this text"},
    {option_id::version, "--version", "", 0, 0, 0, "the version"},
};

// The row that `arg` is an option of, or null.
const option_row* find_option(std::string_view arg);

// The row's usage text, its numbers filled in.
std::string option_help(const option_row& row);

// The options of argv[1..argc-1]. For help and version nothing else is
// looked at or printed. Otherwise each unknown option prints one line, and
// each rejected "-a=" or "-t=" value its message, to `out` when it is
// examined. Throws fatal_error when -f= or -u= cannot give a range.
run_options scan_options(int argc, const char* const* argv, std::ostream& out);

}  // namespace veksieve
