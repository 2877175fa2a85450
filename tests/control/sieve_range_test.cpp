// Settling the range: resuming from a status file, the range prompt with its
// confirmation, the completed-results question, and the ways each can fail.
// Real files in a temporary directory, answers from a string.
#include "control/sieve_range.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "control/fatal_error.hpp"
#include "control/status_file_guard.hpp"
#include "tests/support/temp_dir.hpp"

namespace veksieve {
namespace {

using testing::temp_dir;

constexpr const char* done_question =
    "There is a complete set of results in the file '%s' - have these been sent to the Vek team?\n\n"
    "NB If you say YES, the file will be overwritten and the data will be lost!";
constexpr const char* send_request = "Please send the results to the Vek team before starting a new sieve.";

class sieve_range_test : public ::testing::Test {
 protected:
  sieve_range_test() {
    // Two k's of three bitmap words each, the second with a few bits set.
    table.bitmap_words = 3;
    table.bitmap_storage = {{0, 0, 0}, {5, 0, 1u << 31}};
    options.status_file = dir.file("VekStatus.dat");
  }

  // Settles the range with `input` as the typed answers; returns what was printed.
  std::string settle(const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out;
    range = settle_range(options, table, in, out);
    return out.str();
  }

  // The same for a run that must end: its message and exit status.
  fatal_error settle_fails(const std::string& input) {
    try {
      settle(input);
    } catch (const fatal_error& e) {
      return e;
    }
    ADD_FAILURE() << "the range was settled";
    return {};
  }

  std::string question() const {
    std::string text = done_question;
    return text.replace(text.find("%s"), 2, options.status_file);
  }

  bool bitmaps_as_read() const {
    return table.bitmap_storage[0] == std::vector<uint32_t>{0, 0, 0} &&
           table.bitmap_storage[1] == std::vector<uint32_t>{5, 0, 1u << 31};
  }

  temp_dir dir;
  run_options options;
  sequence_table table;
  range_state range;
};

TEST_F(sieve_range_test, resumes_from_the_last_lines_without_a_prompt) {
  const std::string text = "pmax=5000000000\npmin=3000000000\n";
  dir.write("VekStatus.dat", text);
  EXPECT_EQ(settle(""), "");
  EXPECT_EQ(range.pmin, 3000000000);
  EXPECT_EQ(range.pmax, 5000000000);
  EXPECT_FALSE(range.console_only);
  EXPECT_TRUE(bitmaps_as_read());
  EXPECT_EQ(dir.read("VekStatus.dat"), text);

  const std::string longer = text + "pmin=3100000000\n3100000007 | 5*2^10+1\npmin=3200000000\n3200000011 | 3*2^20+1\n";
  dir.write("VekStatus.dat", longer);
  EXPECT_EQ(settle(""), "");
  EXPECT_EQ(range.pmin, 3200000000);
  EXPECT_EQ(range.pmax, 5000000000);
  EXPECT_EQ(dir.read("VekStatus.dat"), longer);
}

TEST_F(sieve_range_test, crlf_status_file_reads_like_lf) {
  dir.write("VekStatus.dat", "pmax=5000000000\r\npmin=3000000000\r\npmin=3100000000\r\nWrite\r\n");
  EXPECT_EQ(settle(""), "");
  EXPECT_EQ(range.pmin, 3100000000);
  EXPECT_EQ(range.pmax, 5000000000);
  EXPECT_TRUE(range.console_only);

  dir.write("VekStatus.dat", "pmax=5000000000\r\nDone\r\n");
  EXPECT_EQ(settle("y\r\n0\r\n1\r\nY\r\n"), question() + "\nThe results are kept as '" + options.status_file +
                                                         ".bak'.\nSieve from p=? billion: Sieve upto p=? billion: "
                                                         "\nThe sieve is from p=0 billion to 1 billion - OK (Y/N)? ");
}

TEST_F(sieve_range_test, pmax_without_pmin_resumes_from_zero_leaving_bitmaps) {
  dir.write("VekStatus.dat", "pmax=5000000000\n");
  EXPECT_EQ(settle(""), "");
  EXPECT_EQ(range.pmin, 0);
  EXPECT_EQ(range.pmax, 5000000000);
  EXPECT_TRUE(range.console_only);
  EXPECT_TRUE(bitmaps_as_read());
}

TEST_F(sieve_range_test, typed_range_creates_the_status_file) {
  EXPECT_EQ(settle("3\n5\ny\n"), "Sieve from p=? billion: Sieve upto p=? billion: "
                                 "\nThe sieve is from p=3 billion to 5 billion - OK (Y/N)? ");
  EXPECT_EQ(range.pmin, 3000000000);
  EXPECT_EQ(range.pmax, 5000000000);
  EXPECT_FALSE(range.console_only);
  EXPECT_TRUE(bitmaps_as_read());
  EXPECT_EQ(dir.read("VekStatus.dat"), "pmax=5000000000\npmin=3000000000\n");

  // "pmin=" alone is no range: the prompt follows and the file starts
  // afresh, kept whole beside it first (numbered once a backup exists).
  const std::string no_range = "pmin=3000000000\n97 | 3*2^5+1\n";
  for (const char* backup : {".bak", ".bak.1"}) {
    dir.write("VekStatus.dat", no_range);
    EXPECT_EQ(settle("  7 billion\n+9\nYes\n"),
              "Sieve from p=? billion: Sieve upto p=? billion: \nThe sieve is from p=7 billion to 9 billion - OK "
              "(Y/N)? The file '" + options.status_file + "' names no range - it is kept as '" + options.status_file + backup +
                  "' and started afresh.\n");
    EXPECT_EQ(dir.read("VekStatus.dat"), "pmax=9000000000\npmin=7000000000\n");
    EXPECT_EQ(dir.read(std::string("VekStatus.dat") + backup), no_range);
  }
}

TEST_F(sieve_range_test, range_from_zero_sets_every_bit_and_writes_no_file) {
  settle("0\n1\nY\n");
  EXPECT_EQ(range.pmin, 0);
  EXPECT_EQ(range.pmax, 1000000000);
  EXPECT_TRUE(range.console_only);
  for (const std::vector<uint32_t>& bits : table.bitmap_storage) EXPECT_EQ(bits, (std::vector<uint32_t>(3, ~0u)));
  EXPECT_FALSE(dir.exists("VekStatus.dat"));

  // Text where a number belongs reads as 0.
  settle("none\n1\ny\n");
  EXPECT_EQ(range.pmin, 0);
  EXPECT_FALSE(dir.exists("VekStatus.dat"));
}

TEST_F(sieve_range_test, declined_range_asks_both_numbers_again) {
  const std::string out = settle("3\n5\nn\n4\n6\nyes\n");
  EXPECT_EQ(out, "Sieve from p=? billion: Sieve upto p=? billion: "
                 "\nThe sieve is from p=3 billion to 5 billion - OK (Y/N)? "
                 "Sieve from p=? billion: Sieve upto p=? billion: "
                 "\nThe sieve is from p=4 billion to 6 billion - OK (Y/N)? ");
  EXPECT_EQ(range.pmin, 4000000000);
  EXPECT_EQ(range.pmax, 6000000000);
  EXPECT_EQ(dir.read("VekStatus.dat"), "pmax=6000000000\npmin=4000000000\n");
}

TEST_F(sieve_range_test, completed_results_question) {
  const std::string done = "pmax=5000000000\npmin=3000000000\n5 | 3*2^2+1\nWrite\nDone\npmax=9\n";

  // Yes: the file is kept as a backup and written afresh, the prompt
  // follows, and the earlier "Write" still counts.
  dir.write("VekStatus.dat", done);
  EXPECT_EQ(settle("y\n3\n5\ny\n"), question() + "\nThe results are kept as '" + options.status_file +
                                          ".bak'.\nSieve from p=? billion: Sieve upto p=? billion: "
                                          "\nThe sieve is from p=3 billion to 5 billion - OK (Y/N)? ");
  EXPECT_EQ(range.pmin, 3000000000);
  EXPECT_TRUE(range.console_only);
  EXPECT_EQ(dir.read("VekStatus.dat"), "pmax=5000000000\npmin=3000000000\n");
  EXPECT_EQ(dir.read("VekStatus.dat.bak"), done);

  // Yes and a range from 0: the file is left empty (the run's lock removes
  // it at the end) and none is written.
  dir.write("VekStatus.dat", done);
  settle("Y\n0\n2\ny\n");
  EXPECT_EQ(dir.read("VekStatus.dat"), "");
  EXPECT_EQ(dir.read("VekStatus.dat.bak.1"), done);

  // Anything but yes, an empty answer and an ended input included, ends the
  // program with the file as it was.
  for (const char* answer : {"n\n", "\n", "", " y\n", "N\n3\n5\ny\n"}) {
    dir.write("VekStatus.dat", done);
    const fatal_error e = settle_fails(answer);
    EXPECT_EQ(e.message, send_request) << answer;
    EXPECT_EQ(e.exit_status, exit_no_range);
    EXPECT_EQ(dir.read("VekStatus.dat"), done);
  }
}

TEST_F(sieve_range_test, unusable_numbers_at_the_prompt_are_asked_again) {
  const std::string out = settle("-3\n99999999999\n3\n-99999999999\n4611686019\n5\ny\n");
  EXPECT_EQ(out, "Sieve from p=? billion: The sieve cannot start below p=0 - please type 0 or more.\n"
                 "Sieve from p=? billion: That is too large - please type at most 4611686018.\n"
                 "Sieve from p=? billion: "
                 "Sieve upto p=? billion: That is too small - please type at least -2147483648.\n"
                 "Sieve upto p=? billion: That is too large - please type at most 4611686018.\n"
                 "Sieve upto p=? billion: "
                 "\nThe sieve is from p=3 billion to 5 billion - OK (Y/N)? ");
  EXPECT_EQ(range.pmin, 3000000000);
  EXPECT_EQ(range.pmax, 5000000000);

  // The largest number keeps its product exact.
  std::filesystem::remove(options.status_file);
  settle("4611686017\n4611686018\ny\n");
  EXPECT_EQ(range.pmax, 4611686018000000000);
  EXPECT_EQ(dir.read("VekStatus.dat"), "pmax=4611686018000000000\npmin=4611686017000000000\n");
}

TEST_F(sieve_range_test, reversed_or_empty_range_is_refused_and_both_numbers_asked_again) {
  // Once accepted, such a range finished at once with "Done" for primes never sieved.
  const std::string again = "The sieve cannot end below its start - please type both numbers again.\n";
  const std::string empty = "The sieve cannot end where it starts - please type both numbers again.\n";
  const std::string out = settle("3\n1\n0\n-1\n3.7\n3\n3\n4\ny\n");
  EXPECT_EQ(out, "Sieve from p=? billion: Sieve upto p=? billion: " + again +
                     "Sieve from p=? billion: Sieve upto p=? billion: " + again +
                     "Sieve from p=? billion: Sieve upto p=? billion: " + empty +
                     "Sieve from p=? billion: Sieve upto p=? billion: "
                     "\nThe sieve is from p=3 billion to 4 billion - OK (Y/N)? ");
  EXPECT_EQ(range.pmin, 3000000000);
  EXPECT_EQ(range.pmax, 4000000000);
  EXPECT_EQ(dir.read("VekStatus.dat"), "pmax=4000000000\npmin=3000000000\n");
}

TEST_F(sieve_range_test, command_line_range_starts_like_a_confirmed_typed_one) {
  options.command_line_range = prime_range{3000000000, 5000000000};
  EXPECT_EQ(settle(""), "");
  EXPECT_EQ(range.pmin, 3000000000);
  EXPECT_EQ(range.pmax, 5000000000);
  EXPECT_FALSE(range.console_only);
  EXPECT_EQ(dir.read("VekStatus.dat"), "pmax=5000000000\npmin=3000000000\n");

  // No range in the file: it starts afresh, and from 0 every bit is a candidate.
  dir.write("VekStatus.dat", "pmin=7\nWrite\n");
  options.command_line_range = prime_range{0, 1000000000};
  EXPECT_EQ(settle(""), "");
  EXPECT_TRUE(range.console_only);
  for (const std::vector<uint32_t>& bits : table.bitmap_storage) EXPECT_EQ(bits, (std::vector<uint32_t>(3, ~0u)));
  EXPECT_EQ(dir.read("VekStatus.dat"), "pmin=7\nWrite\n");
}

TEST_F(sieve_range_test, command_line_range_is_refused_over_a_range_in_the_file) {
  options.command_line_range = prime_range{3000000000, 5000000000};
  const std::string unfinished = "pmax=9000000000\npmin=7000000000\npmin=7500000000\n";
  dir.write("VekStatus.dat", unfinished);
  fatal_error e = settle_fails("y\n");
  EXPECT_EQ(e.message, "The file '" + options.status_file +
                           "' holds an unfinished range (p=7500000000 to 9000000000) - start veksieve without -f= "
                           "and -u= to resume it.");
  EXPECT_EQ(e.exit_status, exit_no_range);
  EXPECT_EQ(dir.read("VekStatus.dat"), unfinished);

  // Finished: nothing is asked, and the message says what the question means.
  const std::string done = unfinished + "7500000001 | 3*2^5+1\nDone\n";
  dir.write("VekStatus.dat", done);
  e = settle_fails("y\n");
  EXPECT_EQ(e.message, "The file '" + options.status_file +
                           "' holds a complete set of results - these must be sent to the Vek team before a new "
                           "sieve starts. Once they are, delete the file (or start without -f= and -u= and answer "
                           "YES).");
  EXPECT_EQ(e.exit_status, exit_no_range);
  EXPECT_EQ(dir.read("VekStatus.dat"), done);
}

TEST_F(sieve_range_test, ended_input_is_no_range) {
  for (const char* input : {"", "3\n", "3\n5\n", "3\n5\nn\n4\n"}) {
    const fatal_error e = settle_fails(input);
    EXPECT_EQ(e.message, "\nThe input has ended before a range was confirmed - nothing was sieved.") << input;
    EXPECT_EQ(e.exit_status, exit_no_range);
    EXPECT_FALSE(dir.exists("VekStatus.dat"));
  }
}

TEST_F(sieve_range_test, unusable_status_file_ends_the_program_untouched) {
  const std::string negative = "pmax=5000000000\npmin=-1000\n";
  dir.write("VekStatus.dat", negative);
  fatal_error e = settle_fails("3\n5\ny\n");
  EXPECT_EQ(e.message, "The file '" + options.status_file + "' is invalid - pmin=-1000 is negative!");
  EXPECT_EQ(e.exit_status, exit_bad_status_file);
  EXPECT_EQ(dir.read("VekStatus.dat"), negative);

  const std::string huge = "pmax=5000000000\npmin=3000000000\npmin=99999999999999999999\n";
  dir.write("VekStatus.dat", huge);
  e = settle_fails("3\n5\ny\n");
  EXPECT_EQ(e.message, "The file '" + options.status_file + "' is invalid - the number on line 3 does not fit 64 bits!");
  EXPECT_EQ(e.exit_status, exit_bad_status_file);
  EXPECT_EQ(dir.read("VekStatus.dat"), huge);

  const std::string beyond = "pmax=4611686018427387905\npmin=3000000000\n";  // 2^62 + 1
  dir.write("VekStatus.dat", beyond);
  e = settle_fails("3\n5\ny\n");
  EXPECT_EQ(e.message, "The file '" + options.status_file +
                           "' is invalid - pmax=4611686018427387905 lies beyond 2^62, the end of every range!");
  EXPECT_EQ(e.exit_status, exit_bad_status_file);
  EXPECT_EQ(dir.read("VekStatus.dat"), beyond);

  // The extremes that are kept exactly; a superseded negative pmin is no matter.
  dir.write("VekStatus.dat", "pmin=-5\npmax=4611686018427387904\npmin=1\n");
  settle("");
  EXPECT_EQ(range.pmax, int64_t{1} << 62);
  EXPECT_EQ(range.pmin, 1);
}

TEST_F(sieve_range_test, status_file_that_cannot_be_created_ends_the_program) {
  options.status_file = dir.file("missing/VekStatus.dat");
  fatal_error e = settle_fails("3\n5\ny\n");
  EXPECT_EQ(e.message, "The file '" + options.status_file + "' cannot be created - No such file or directory!");
  EXPECT_EQ(e.exit_status, exit_status_file_unwritable);

  // A directory in the file's place reads as no file and cannot be written.
  std::filesystem::create_directory(dir.path() / "taken");
  options.status_file = dir.file("taken");
  e = settle_fails("3\n5\ny\n");
  EXPECT_EQ(e.message, "The file '" + options.status_file + "' cannot be created - Is a directory!");
}

TEST(status_file, reading_rules_in_order) {
  // A line is recognised by its first characters only.
  std::istringstream in("pmax=7 tail\npmin= +4\nWriteable\n\n \r\nDoneish\n");
  int asked = 0;
  const status_contents s = read_status(in, "f", [&] {
    ++asked;
    return true;
  });
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(s.pmax, 0);  // reset by the "Done" answered yes
  EXPECT_EQ(s.pmin, 0);
  EXPECT_TRUE(s.console_only);
  EXPECT_TRUE(s.results_sent);

  std::istringstream in2("pmax=7 tail\npmin= +4\npmin=x\n5 | 3*2^3+1\n7 | 3");
  const status_contents s2 = read_status(in2, "f", [] { return true; });
  EXPECT_EQ(s2.pmax, 7);
  EXPECT_EQ(s2.pmin, 0);  // "pmin=x" reads as 0 and is the last
  EXPECT_EQ(s2.factors.size(), 1u);  // a last line cut short is a write that was cut short
  EXPECT_FALSE(s2.console_only);
  EXPECT_FALSE(s2.results_sent);

  // Any other line marks a file that is no status file: it is never written.
  for (const char* other : {"Writ\n", " pmin=9\n", "PMIN=8\n", "pmin\n", "10000\n", "k=5297\n", "1 | 3*2^5+1\n"}) {
    std::istringstream in3(std::string("pmax=7\n") + other + "pmin=5\n");
    try {
      read_status(in3, "f", [] { return true; });
      ADD_FAILURE() << other;
    } catch (const fatal_error& e) {
      EXPECT_EQ(e.message, "The file 'f' is no status file - line 2 is none of its lines, and nothing was changed!");
      EXPECT_EQ(e.exit_status, exit_bad_status_file);
    }
  }
  std::istringstream reversed("pmax=5000000\npmin=9000000\n");
  try {
    read_status(reversed, "f", [] { return true; });
    ADD_FAILURE() << "pmin above pmax was resumed";
  } catch (const fatal_error& e) {
    EXPECT_EQ(e.message, "The file 'f' is invalid - pmin=9000000 lies above pmax=5000000, and nothing was changed!");
  }
}

}  // namespace
}  // namespace veksieve
