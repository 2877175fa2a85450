// The built program run as a process in a fresh directory: the messages of a
// defective Vek.dat byte for byte with their exit status, the start-up order,
// and the ways the range dialogue ends the program before any sieving.
#include <gtest/gtest.h>

#include <string>

#include "program_runner.hpp"

namespace veksieve {
namespace {

using test::program_result;
using test::run_program;
using test::temp_dir;

constexpr int bad_sequence_file = 2;
constexpr int no_range = 3;
constexpr int status_file_unwritable = 4;
constexpr int bad_status_file = 5;

constexpr const char* good_vek = "2\n2\n100\nk=3\n5\n+6\nk=4847\n2\n3\n";
constexpr const char* prompts = "Sieve from p=? billion: Sieve upto p=? billion: ";

program_result run_with_vek(const temp_dir& dir, const std::string& vek, const std::string& input = "") {
  dir.write("Vek.dat", vek);
  return run_program(dir, {}, input);
}

TEST(program, the_six_sequence_file_messages_byte_for_byte) {
  {
    temp_dir dir;
    const program_result r = run_program(dir, {}, "");
    EXPECT_EQ(r.out, "The file 'Vek.dat' cannot be found in the current directory!");
    EXPECT_EQ(r.exit_status, bad_sequence_file);
  }
  struct message_case {
    const char* vek;
    const char* message;
  };
  const message_case cases[] = {
      {"k=3\n5\n", "The file 'Vek.dat' is invalid - bad first line!"},
      {"1\n2\n1\nk=3\n", "The file 'Vek.dat' is invalid - bad range of n on lines 2 and 3!"},
      {"1\n2\n100\n5\n", "The file 'Vek.dat' is invalid - bad k value at line 4!"},
      {"3\n2\n100\nk=3\n5\nk=5\n7\n", "The file 'Vek.dat' is invalid - insufficient k's!"},
      {"1\n2\n100\nk=5\n101\n", "The file'Vek.dat' is invalid - for k=5, there is n=101, which is out of range!"},
  };
  for (const message_case& c : cases) {
    temp_dir dir;
    const program_result r = run_with_vek(dir, c.vek, "3\n5\ny\n");
    EXPECT_EQ(r.out, c.message) << c.vek;
    EXPECT_EQ(r.exit_status, bad_sequence_file) << c.vek;
    EXPECT_FALSE(dir.exists("VekStatus.dat")) << c.vek;
  }
}

TEST(program, alpha_message_comes_first_then_start_up_goes_on) {
  temp_dir dir;
  program_result r = run_program(dir, {"-a=500", "-A=7", "-a=0"}, "");
  EXPECT_EQ(r.out, "Invalid alpha - using the default (2.5)\nInvalid alpha - using the default (2.5)\n"
                   "The file 'Vek.dat' cannot be found in the current directory!");

  // A good file reaches the range prompt; an input that ends there ends the program.
  r = run_with_vek(dir, good_vek, "1\n2\nn\n");
  EXPECT_EQ(r.out, std::string(prompts) + "\nThe sieve is from p=1 billion to 2 billion - OK (Y/N)? " +
                       "Sieve from p=? billion: \nThe input has ended before a range was confirmed - nothing was sieved.");
  EXPECT_EQ(r.exit_status, no_range);
  EXPECT_FALSE(dir.exists("VekStatus.dat"));
}

TEST(program, unsent_results_end_the_program_with_the_file_untouched) {
  const std::string done = "pmax=2000000000\npmin=1000000000\n1000000007 | 3*2^5+1\nDone\n";
  for (const char* answer : {"n\n", "\n", ""}) {
    temp_dir dir;
    dir.write("run.dat", done);
    dir.write("Vek.dat", good_vek);
    const program_result r = run_program(dir, {"-o=run.dat"}, answer);
    EXPECT_EQ(r.out, "There is a complete set of results in the file 'run.dat' - have these been sent to the Vek "
                     "team?\r\n\r\nNB If you say YES, the file will be overwritten and the data will be lost!\n"
                     "Please send the results to the Vek team before starting a new sieve.");
    EXPECT_EQ(r.exit_status, no_range);
    EXPECT_EQ(dir.read("run.dat"), done);
  }
}

TEST(program, status_file_problems_end_the_program_before_sieving) {
  temp_dir dir;
  dir.write("Vek.dat", good_vek);
  program_result r = run_program(dir, {"-o=nowhere/run.dat"}, "3\n5\ny\n");
  EXPECT_EQ(r.out, std::string(prompts) + "\nThe sieve is from p=3 billion to 5 billion - OK (Y/N)? "
                                          "The file 'nowhere/run.dat' cannot be created - No such file or directory!");
  EXPECT_EQ(r.exit_status, status_file_unwritable);

  const std::string negative = "pmax=5000000000\npmin=-7\n";
  dir.write("VekStatus.dat", negative);
  r = run_program(dir, {}, "3\n5\ny\n");
  EXPECT_EQ(r.out, "The file 'VekStatus.dat' is invalid - pmin=-7 is negative!");
  EXPECT_EQ(r.exit_status, bad_status_file);
  EXPECT_EQ(dir.read("VekStatus.dat"), negative);
}

}  // namespace
}  // namespace veksieve
