// The built program run as a process in a fresh directory: the messages of a
// defective Vek.dat byte for byte with their exit status, the start-up order,
// the ways the range dialogue ends the program before any sieving, help and
// version, and a range given on the command line.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

#include <string>
#include <tuple>
#include <vector>

#include "common/platform.hpp"
#include "tests/support/program_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace veksieve {
namespace {

using testing::program_end;
using testing::temp_dir;

program_end run_program(const temp_dir& dir, const std::vector<std::string>& args, const std::string& input) {
  return testing::run_program(dir.path(), args, input);
}

constexpr int bad_sequence_file = 2;
constexpr int no_range = 3;
constexpr int status_file_unwritable = 4;
constexpr int bad_status_file = 5;
constexpr int bad_command_line = 6;
constexpr int status_file_in_use = 7;
constexpr int interrupted = 128 + SIGINT;

constexpr const char* good_vek = "2\n2\n100\nk=3\n5\n+6\nk=4847\n2\n3\n";
constexpr const char* prompts = "Sieve from p=? billion: Sieve upto p=? billion: ";

// The line that says what good_vek holds, with this machine's thread count.
std::string good_vek_read() {
  const int threads = usable_cpu_count();
  return "Read 'Vek.dat': 2 k's with 4 candidates, n from 2 to 100; sieving with " + std::to_string(threads) +
         (threads == 1 ? " thread\n" : " threads\n");
}

program_end run_with_vek(const temp_dir& dir, const std::string& vek, const std::string& input = "") {
  dir.write("Vek.dat", vek);
  return run_program(dir, {}, input);
}

TEST(program, the_six_sequence_file_messages_byte_for_byte) {
  {
    temp_dir dir;
    const program_end r = run_program(dir, {}, "");
    EXPECT_EQ(r.output, "The file 'Vek.dat' cannot be found in the current directory!\n");
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
    const program_end r = run_with_vek(dir, c.vek, "3\n5\ny\n");
    EXPECT_EQ(r.output, c.message + std::string("\n")) << c.vek;
    EXPECT_EQ(r.exit_status, bad_sequence_file) << c.vek;
    EXPECT_FALSE(dir.exists("VekStatus.dat")) << c.vek;
  }
}

TEST(program, alpha_message_comes_first_then_start_up_goes_on) {
  temp_dir dir;
  program_end r = run_program(dir, {"-a=500", "-A=7", "-a=0"}, "");
  EXPECT_EQ(r.output, "Invalid alpha - using the default (2.5)\nInvalid alpha - using the default (2.5)\n"
                   "The file 'Vek.dat' cannot be found in the current directory!\n");

  // A good file reaches the range prompt; an input that ends there ends the program.
  r = run_with_vek(dir, good_vek, "1\n2\nn\n");
  EXPECT_EQ(r.output, good_vek_read() + prompts + "\nThe sieve is from p=1 billion to 2 billion - OK (Y/N)? " +
                       "Sieve from p=? billion: \nThe input has ended before a range was confirmed - nothing was sieved.\n");
  EXPECT_EQ(r.exit_status, no_range);
  EXPECT_FALSE(dir.exists("VekStatus.dat"));
}

TEST(program, unsent_results_end_the_program_with_the_file_untouched) {
  const std::string done = "pmax=2000000000\npmin=1000000000\n1000000007 | 3*2^5+1\nDone\n";
  for (const char* answer : {"n\n", "\n", ""}) {
    temp_dir dir;
    dir.write("run.dat", done);
    dir.write("Vek.dat", good_vek);
    const program_end r = run_program(dir, {"-o=run.dat"}, answer);
    EXPECT_EQ(r.output, good_vek_read() +
                            "There is a complete set of results in the file 'run.dat' - have these been sent to the Vek "
                            "team?\n\nNB If you say YES, the file will be overwritten and the data will be lost!\n"
                            "Please send the results to the Vek team before starting a new sieve.\n");
    EXPECT_EQ(r.exit_status, no_range);
    EXPECT_EQ(dir.read("run.dat"), done);
  }
}

TEST(program, status_file_problems_end_the_program_before_sieving) {
  temp_dir dir;
  dir.write("Vek.dat", good_vek);
  program_end r = run_program(dir, {"-o=nowhere/run.dat"}, "3\n5\ny\n");
  EXPECT_EQ(r.output, good_vek_read() + prompts + "\nThe sieve is from p=3 billion to 5 billion - OK (Y/N)? "
                                          "The file 'nowhere/run.dat' cannot be created - No such file or directory!\n");
  EXPECT_EQ(r.exit_status, status_file_unwritable);

  // Refused untouched; a pmin above pmax once resumed "from p=9000000 to
  // 5000000" and wrote "Done".
  for (const auto& [text, message] :
       {std::pair<std::string, std::string>{"pmax=5000000000\npmin=-7\n", "pmin=-7 is negative!"},
        {"pmax=5000000\npmin=9000000\n", "pmin=9000000 lies above pmax=5000000, and nothing was changed!"}}) {
    dir.write("VekStatus.dat", text);
    r = run_program(dir, {}, "3\n5\ny\n");
    EXPECT_EQ(r.output, good_vek_read() + "The file 'VekStatus.dat' is invalid - " + message + "\n");
    EXPECT_EQ(r.exit_status, bad_status_file);
    EXPECT_EQ(dir.read("VekStatus.dat"), text);
  }
}

TEST(program, help_and_version_touch_no_file) {
  temp_dir dir;
  const std::string unfinished = "pmax=5000000000\npmin=3000000000\n";
  for (const char* arg : {"--help", "-h", "-?"}) {
    program_end r = run_program(dir, {"-a=500", arg}, "");
    EXPECT_EQ(r.exit_status, 0) << arg;
    EXPECT_EQ(r.output.rfind("Usage: veksieve [-a=ALPHA] [-o=FILE] [-t=N] [-f=FROM -u=UPTO]\n", 0), 0u) << arg;
    for (const char* part : {"\n  -t=N ", "\n  -f=FROM ", "\n  --remove-factored\n", "\nFiles:\n", "\nExit status:\n",
                             "\nExample:\n"})
      EXPECT_NE(r.output.find(part), std::string::npos) << part;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << arg;

    // With a run to resume, it is neither resumed nor changed.
    dir.write("Vek.dat", good_vek);
    dir.write("VekStatus.dat", unfinished);
    const std::string usage = r.output;
    r = run_program(dir, {arg}, "");
    EXPECT_EQ(r.output, usage);
    EXPECT_EQ(dir.read("VekStatus.dat"), unfinished);
    std::filesystem::remove(dir.path() / "Vek.dat");
    std::filesystem::remove(dir.path() / "VekStatus.dat");
  }
  const program_end r = run_program(dir, {"--version"}, "");
  EXPECT_EQ(r.output, "veksieve " VEKSIEVE_VERSION "\n");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(program, unknown_options_are_named_and_the_run_goes_on) {
  temp_dir dir;
  const program_end r = run_with_vek(dir, good_vek, "");
  const program_end named = run_program(dir, {"--hlep", "extra", "-x=1"}, "");
  EXPECT_EQ(named.output,
            "Ignoring unknown option '--hlep'\nIgnoring unknown argument 'extra'\nIgnoring unknown option '-x=1'\n" +
                r.output);
  EXPECT_EQ(named.exit_status, r.exit_status);
}

TEST(program, command_line_range_starts_as_a_confirmed_typed_one) {
  // The same range typed and given as options: both sieve from the start
  // without further questions and leave the same status file.
  for (const bool typed : {true, false}) {
    temp_dir dir;
    dir.write("Vek.dat", good_vek);
    testing::program_process run(dir.path(), typed ? std::vector<std::string>{} : std::vector<std::string>{"-f=1", "-U=2"},
                                 typed ? "1\n2\ny\n" : "");
    ASSERT_TRUE(run.wait_for("Sieved up to 100")) << run.output();
    run.signal(SIGINT);
    const program_end r = run.finish();
    EXPECT_EQ(r.exit_status, interrupted);
    EXPECT_EQ(r.output.rfind(good_vek_read() + (typed ? std::string(prompts) +
                                                           "\nThe sieve is from p=1 billion to 2 billion - OK (Y/N)? Sieved"
                                                     : std::string("Sieved")),
                             0),
              0u)
        << r.output;
    const std::string status = dir.read("VekStatus.dat");
    EXPECT_EQ(status.rfind("pmax=2000000000\npmin=1000000000\npmin=100", 0), 0u) << status;
  }
}

TEST(program, command_line_range_refused_leaves_the_file_untouched) {
  temp_dir dir;
  dir.write("Vek.dat", good_vek);
  const std::string unfinished = "pmax=5000000000\npmin=3000000000\n";
  const std::string done = unfinished + "Done\n";
  for (const std::string& text : {unfinished, done}) {
    dir.write("VekStatus.dat", text);
    const program_end r = run_program(dir, {"-f=1", "-u=2"}, "y\n");
    EXPECT_EQ(r.exit_status, no_range);
    EXPECT_EQ(r.output.rfind(good_vek_read() + "The file 'VekStatus.dat' holds ", 0), 0u) << r.output;
    EXPECT_EQ(dir.read("VekStatus.dat"), text);
  }
  const program_end r = run_program(dir, {"-f=2", "-u=1"}, "");
  EXPECT_EQ(r.output, "The options '-f=2' and '-u=1' are invalid - the range ends before it starts!\n");
  EXPECT_EQ(r.exit_status, bad_command_line);
  EXPECT_EQ(dir.read("VekStatus.dat"), done);
}

TEST(program, no_file_is_overwritten_by_mistake) {
  temp_dir dir;
  dir.write("Vek.dat", good_vek);
  dir.write("notes.txt", "pmax=5\nmy notes\n");
  std::filesystem::create_symlink("Vek.dat", dir.path() / "link.dat");
  // The sequence file (also through a link) and a file that is no status
  // file are refused before anything is written.
  for (const char* name : {"Vek.dat", "link.dat", "notes.txt"}) {
    const program_end r = run_program(dir, {std::string("-o=") + name, "-f=1", "-u=2"}, "");
    EXPECT_EQ(r.exit_status, bad_status_file) << name;
    EXPECT_NE(r.output.find(std::string("The file '") + name + "' is "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("nothing was changed"), std::string::npos) << r.output;
  }
  EXPECT_EQ(dir.read("Vek.dat"), good_vek);
  EXPECT_EQ(dir.read("notes.txt"), "pmax=5\nmy notes\n");

  // A file that names no range, and one whose results were sent, are kept
  // whole before a new range is written over them.
  const std::string no_range = "pmin=7\n13 | 3*2^2+1\n";
  const std::string done = "pmax=2000000000\npmin=1000000000\n1000000007 | 3*2^5+1\nDone\n";
  for (const auto& [old_text, args, input] :
       {std::tuple{no_range, std::vector<std::string>{"-f=1", "-u=2"}, std::string()},
        std::tuple{done, std::vector<std::string>{}, std::string("y\n1\n2\ny\n")}}) {
    dir.write("VekStatus.dat", old_text);
    std::filesystem::remove(dir.path() / "VekStatus.dat.bak");
    testing::program_process run(dir.path(), args, input);
    ASSERT_TRUE(run.wait_for("Sieved up to")) << run.output();
    run.signal(SIGINT);
    EXPECT_NE(run.finish().output.find("kept as 'VekStatus.dat.bak'"), std::string::npos);
    EXPECT_EQ(dir.read("VekStatus.dat.bak"), old_text);
    EXPECT_EQ(dir.read("VekStatus.dat").rfind("pmax=2000000000\npmin=1000000000\n", 0), 0u);
  }
}

TEST(program, one_run_per_status_file) {
  temp_dir dir;
  dir.write("Vek.dat", good_vek);
  testing::program_process first(dir.path(), {"-f=1", "-u=2"}, "");
  ASSERT_TRUE(first.wait_for("Sieved up to")) << first.output();
  const program_end second = run_program(dir, {}, "");
  EXPECT_EQ(second.output, "The file 'VekStatus.dat' is in use by another veksieve run - nothing was changed!\n");
  EXPECT_EQ(second.exit_status, status_file_in_use);
  first.signal(SIGINT);
  EXPECT_EQ(first.finish().exit_status, interrupted);
  // Released with the first run: the range resumes.
  testing::program_process resumed(dir.path(), {}, "");
  EXPECT_TRUE(resumed.wait_for("Resuming 'VekStatus.dat'")) << resumed.output();
}

TEST(program, a_range_that_is_not_a_range_is_refused) {
  temp_dir dir;
  dir.write("Vek.dat", good_vek);
  for (const auto& [from, upto] : {std::pair{"-f=abc", "-u=xyz"}, std::pair{"-f=0.5", "-u=0.9"},
                                   std::pair{"-f=1e3", "-u=2000"}, std::pair{"-f=1", "-u=1"}}) {
    const program_end r = run_program(dir, {from, upto}, "");
    EXPECT_EQ(r.exit_status, bad_command_line) << from;
    EXPECT_EQ(r.output.rfind("The option", 0), 0u) << r.output;
  }
  EXPECT_FALSE(dir.exists("VekStatus.dat"));

  const program_end typed = run_program(dir, {}, "1\n1\n");
  EXPECT_EQ(typed.output, good_vek_read() + prompts +
                              "The sieve cannot end where it starts - please type both numbers again.\n"
                              "Sieve from p=? billion: \nThe input has ended before a range was confirmed - "
                              "nothing was sieved.\n");
}

TEST(program, a_resume_strikes_only_lines_that_verify) {
  // 3*2^23+1 = 1006633 * 25; 3*2^39+1 has the factor 1043401.
  temp_dir dir;
  dir.write("Vek.dat", "1\n2\n100\nk=3\n23\n39\n");
  const std::string status = "pmax=1100000\npmin=1000000\n1000003 | 3*2^23+1\n1043401 | 3*2^39+1\n";
  dir.write("VekStatus.dat", status);
  const program_end r = run_program(dir, {}, "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(r.output.find("Passing over the line '1000003 | 3*2^23+1' of 'VekStatus.dat'"), std::string::npos)
      << r.output;
  EXPECT_EQ(dir.read("VekStatus.dat"), status + "1006633 | 3*2^23+1\nDone\n");
}

}  // namespace
}  // namespace veksieve
