// The option scan: backwards, so the first occurrence wins; the letter is
// case-blind; each rejected "-a=" or "-t=" prints its message once; unknown
// options are named; help and version stop the scan; -f= and -u= together
// give a range in billions.
#include "control/options.hpp"

#include <gtest/gtest.h>

#include "control/fatal_error.hpp"

#include <algorithm>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace veksieve {
namespace {

constexpr const char* alpha_message = "Invalid alpha - using the default (2.5)\n";

constexpr const char* threads_message =
    "Invalid number of threads - using the default (one per CPU), or give 1 to 1024\n";

struct scanned {
  double alpha;
  std::string status_file;
  std::string out;
  int32_t threads;
  std::optional<prime_range> range;
  start_action action;
};

scanned scan(std::vector<const char*> args) {
  args.insert(args.begin(), "veksieve");
  std::ostringstream out;
  const run_options o = scan_options(static_cast<int>(args.size()), args.data(), out);
  return {o.alpha.value_or(default_alpha), o.status_file, out.str(), o.threads, o.command_line_range, o.action};
}

fatal_error scan_fails(std::vector<const char*> args) {
  try {
    scan(std::move(args));
  } catch (const fatal_error& e) {
    return e;
  }
  ADD_FAILURE() << "the options were accepted";
  return {};
}

std::string repeated(const char* text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

TEST(options, defaults_without_arguments) {
  const scanned s = scan({});
  EXPECT_EQ(s.alpha, 2.5);
  EXPECT_EQ(s.status_file, "VekStatus.dat");
  EXPECT_EQ(s.out, "");
}

TEST(options, alpha_values_accepted_and_rejected) {
  struct alpha_case {
    const char* arg;
    double alpha;
    bool rejected;
  };
  const alpha_case cases[] = {
      {"-a=0.1", 0.1, false},   {"-a=105", 105.0, false}, {"-a=105.0", 105.0, false},
      {"-a=3.5x", 3.5, false},  {"-a= 4", 4.0, false},    {"-a=+4", 4.0, false},
      {"-a=1e1", 10.0, false},  {"-A=3.5", 3.5, false},   {"-a=0.09", 2.5, true},
      {"-a=105.5", 2.5, true},  {"-a=x", 2.5, true},      {"-a=", 2.5, true},
      {"-a=-3", 2.5, true},     {"-a=nan", 2.5, true},    {"-a=inf", 2.5, true},
      {"-a=0x10", 2.5, true},   {"-a=+-3", 2.5, true},    {"-a=1e999", 2.5, true},
  };
  for (const alpha_case& c : cases) {
    const scanned s = scan({c.arg});
    EXPECT_EQ(s.alpha, c.alpha) << c.arg;
    EXPECT_EQ(s.out, c.rejected ? alpha_message : "") << c.arg;
  }
}

TEST(options, malformed_and_unknown_options_are_named_and_ignored) {
  for (const char* arg : {"-a3.5", "-alpha=3", "-", "-a", "-b=3", "-o", "--a=3", "--hlep", "-help"}) {
    const scanned s = scan({arg});
    EXPECT_EQ(s.alpha, 2.5) << arg;
    EXPECT_EQ(s.status_file, "VekStatus.dat") << arg;
    EXPECT_EQ(s.out, std::string("Ignoring unknown option '") + arg + "'\n") << arg;
    EXPECT_EQ(s.action, start_action::sieve) << arg;
  }
  for (const char* arg : {"x-a=3", "a=3", "", "file.dat"})
    EXPECT_EQ(scan({arg}).out, std::string("Ignoring unknown argument '") + arg + "'\n") << arg;

  // Named in command-line order, before the values' own messages.
  const scanned s = scan({"--x", "-a=500", "-Z", "-a=3"});
  EXPECT_EQ(s.out, "Ignoring unknown option '--x'\nIgnoring unknown option '-Z'\n" + std::string(alpha_message));
}

TEST(options, help_and_version_stop_the_scan) {
  for (const char* arg : {"-h", "-?", "--help"}) {
    const scanned s = scan({"-a=500", "--bad", "-f=9", arg, "--version"});
    EXPECT_EQ(s.action, start_action::help) << arg;
    EXPECT_EQ(s.out, "") << arg;
  }
  EXPECT_EQ(scan({"-u=1", "--version", "-h"}).action, start_action::version);
  EXPECT_EQ(scan({"--remove-factored", "-O=run.dat"}).action, start_action::remove_factored);
  EXPECT_EQ(scan({"--remove-factored", "-O=run.dat"}).status_file, "run.dat");
}

TEST(options, threads_accepted_and_rejected) {
  EXPECT_EQ(scan({}).threads, 0);
  for (const auto& [arg, threads] : std::vector<std::pair<const char*, int32_t>>{
           {"-t=1", 1}, {"-T=8", 8}, {"-t=1024", 1024}}) {
    const scanned s = scan({arg});
    EXPECT_EQ(s.threads, threads) << arg;
    EXPECT_EQ(s.out, "") << arg;
  }
  for (const char* arg : {"-t=0", "-t=-2", "-t=x", "-t=", "-t=1025", "-t=99999999999999999999", "-t=4x", "-t=2.5",
                          "-t= 4"}) {
    const scanned s = scan({arg});
    EXPECT_EQ(s.threads, 0) << arg;
    EXPECT_EQ(s.out, threads_message) << arg;
  }
  EXPECT_EQ(scan({"-t=2", "-t=6"}).threads, 2);
  const scanned s = scan({"-t=0", "-t=6"});  // as for alpha: the first, rejected, resets
  EXPECT_EQ(s.threads, 0);
  EXPECT_EQ(s.out, threads_message);
}

TEST(options, range_from_the_command_line) {
  EXPECT_FALSE(scan({}).range.has_value());
  struct range_case {
    std::vector<const char*> args;
    int64_t pmin, pmax;
  };
  const range_case cases[] = {
      {{"-f=3", "-u=5"}, 3000000000, 5000000000},
      {{"-U=5", "-F=3"}, 3000000000, 5000000000},
      {{"-f=0", "-u=+1"}, 0, 1000000000},
      {{"-f=3", "-u=5", "-f=1", "-u=2"}, 3000000000, 5000000000},
      {{"-f=4611686017", "-u=4611686018"}, 4611686017000000000, 4611686018000000000},
  };
  for (const range_case& c : cases) {
    const scanned s = scan(c.args);
    ASSERT_TRUE(s.range.has_value()) << c.args[0];
    EXPECT_EQ(s.range->pmin, c.pmin) << c.args[0];
    EXPECT_EQ(s.range->pmax, c.pmax) << c.args[0];
  }

  struct refused_case {
    std::vector<const char*> args;
    const char* message;
  };
  const refused_case refused[] = {
      {{"-f=3"}, "The option '-f=3' is invalid - the range also needs -u=!"},
      {{"-u=5"}, "The option '-u=5' is invalid - the range also needs -f=!"},
      {{"-f=5", "-u=3"}, "The options '-f=5' and '-u=3' are invalid - the range ends before it starts!"},
      {{"-f=0", "-u=-1"}, "The options '-f=0' and '-u=-1' are invalid - the range ends before it starts!"},
      {{"-f=-1", "-u=5"}, "The option '-f=-1' is invalid - the sieve cannot start below p=0!"},
      {{"-f=1", "-u=4611686019"}, "The option '-u=4611686019' is invalid - the number is above 4611686018!"},
      {{"-f=1", "-u=-99999999999"}, "The option '-u=-99999999999' is invalid - the number is below -2147483648!"},
      // Anything but a whole number once started a range nobody asked for.
      {{"-f=abc", "-u=xyz"}, "The option '-f=abc' is invalid - 'abc' is not a whole number of billions!"},
      {{"-f=1", "-u=0.9"}, "The option '-u=0.9' is invalid - '0.9' is not a whole number of billions!"},
      {{"-f=1e3", "-u=5"}, "The option '-f=1e3' is invalid - '1e3' is not a whole number of billions!"},
      {{"-f= 3", "-u=5"}, "The option '-f= 3' is invalid - ' 3' is not a whole number of billions!"},
      {{"-f=", "-u=5"}, "The option '-f=' is invalid - '' is not a whole number of billions!"},
      {{"-f=4", "-u=4"}, "The options '-f=4' and '-u=4' are invalid - the range is empty!"},
  };
  for (const refused_case& c : refused) {
    const fatal_error e = scan_fails(c.args);
    EXPECT_EQ(e.message, c.message);
    EXPECT_EQ(e.exit_status, exit_bad_command_line);
  }
}

TEST(options, first_occurrence_wins_and_each_rejection_prints_once) {
  EXPECT_EQ(scan({"-a=3", "-a=4"}).alpha, 3.0);

  scanned s = scan({"-a=3", "-a=500"});
  EXPECT_EQ(s.alpha, 3.0);
  EXPECT_EQ(s.out, alpha_message);

  // The rejection, examined last, resets the value the later argument set.
  s = scan({"-a=500", "-a=3"});
  EXPECT_EQ(s.alpha, 2.5);
  EXPECT_EQ(s.out, alpha_message);

  s = scan({"-a=0", "-A=x", "-a=200", "-a=7"});
  EXPECT_EQ(s.alpha, 2.5);
  EXPECT_EQ(s.out, repeated(alpha_message, 3));

  EXPECT_EQ(scan({"-o=a.txt", "-o=b.txt"}).status_file, "a.txt");
  EXPECT_EQ(scan({"-O=dir/run 1.dat"}).status_file, "dir/run 1.dat");

  s = scan({"-o=x.dat", "-a=2", "junk", "-a=9"});
  EXPECT_EQ(s.alpha, 2.0);
  EXPECT_EQ(s.status_file, "x.dat");
}

// The options named on a man page's bold lines, as "-a=ALPHA" or "--help";
// with `section`, only the entries (".TP") of that section.
std::set<std::string> man_page_options(const std::string& page, const std::string& section = "") {
  std::ifstream in(std::string(VEKSIEVE_DOC) + "/" + page);
  EXPECT_TRUE(in) << page;
  std::set<std::string> names;
  bool inside = section.empty();
  bool entry = false;
  for (std::string line; std::getline(in, line); entry = inside && line == ".TP") {
    if (line.starts_with(".SH")) inside = section.empty() || line == ".SH " + section;
    if (!inside || !(section.empty() ? line.starts_with(".B") : entry)) continue;
    std::string text = line.substr(line.find(' ') + 1);
    std::erase_if(text, [](char c) { return c == '\\' || c == '"'; });
    std::replace(text.begin(), text.end(), ',', ' ');
    std::istringstream words(text);
    for (std::string word, value; words >> word;)
      if (word[0] == '-') names.insert(word.back() == '=' && words >> value ? word + value : word);
  }
  return names;
}

TEST(options, man_pages_name_the_options_of_the_table) {
  std::set<std::string> table;
  for (const option_row& row : option_table) {
    std::string spellings = row.spelling;
    std::replace(spellings.begin(), spellings.end(), ',', ' ');
    std::istringstream each(spellings);
    for (std::string spelling; each >> spelling;) table.insert(*row.value ? spelling + "=" + row.value : spelling);
  }
  EXPECT_EQ(man_page_options("veksieve.1", "OPTIONS"), table);
  for (const std::string& name : man_page_options("veksieve-mpi.1")) EXPECT_EQ(table.count(name), 1u) << name;
}

}  // namespace
}  // namespace veksieve
