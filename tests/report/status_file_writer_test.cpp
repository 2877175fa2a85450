// Status-file appends that fail: the console says so once, a file that stays
// unwritable is given up on after the retry limit and stops the sieve, every
// lost line is kept for the end of the run, and no torn line is left behind.
#include "report/status_file.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "capture.hpp"
#include "report/committer.hpp"
#include "test_support.hpp"

namespace veksieve {
namespace {

using namespace std::chrono_literals;

struct writer_fixture : ::testing::Test {
  testing::scratch_dir dir;
  testing::captured_output out;
  console_channel channel{out.file(), [] { return uint32_t{0}; }};
  std::atomic<bool> stop{false};
  int64_t now = 1000;

  // 21 * 2^4 + 1 = 337 and 21 * 2^6 + 1 = 1345 = 5 * 269.
  void run_into_a_failing_file(const std::string& path) {
    SCOPED_TRACE(path);
    testing::test_job job = testing::make_job(2, 10, {21}, path);
    testing::commit_harness rep(job, channel, now, {5ms, 60ms});

    const finding first[] = {{337, 0, 4}};
    EXPECT_FALSE(rep.commit.commit(first));  // the run is told to stop
    EXPECT_TRUE(rep.status.gave_up());

    const auto start = std::chrono::steady_clock::now();
    rep.commit.commit_factor(269, 0, 6);  // no second minute of retries
    rep.commit.commit_progress(1000003);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_FALSE(testing::candidate(job, 0, 6));

    const std::vector<std::string> unsaved = {"337 | 21*2^4+1\n", "269 | 21*2^6+1\n"};
    EXPECT_EQ(rep.status.unsaved_lines(), unsaved);
    const auto lines = out.lines();
    ASSERT_EQ(lines.size(), 5u) << out.text();
    EXPECT_EQ(lines[0], "337 | 21*2^4+1");
    EXPECT_EQ(lines[1].rfind("The status file '" + path + "' cannot be written: ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "Giving up on the status file '" + path + "'");
    EXPECT_EQ(lines[3], "269 | 21*2^6+1");
    EXPECT_EQ(lines[4], "Sieved up to 1000003 (1.0 million)");
  }
};

TEST_F(writer_fixture, a_full_disk_stops_the_sieve_and_keeps_the_lines) {
  run_into_a_failing_file("/dev/full");
}

TEST_F(writer_fixture, a_missing_directory_stops_the_sieve_and_keeps_the_lines) {
  run_into_a_failing_file(dir.file("missing/VekStatus.dat"));
}

TEST_F(writer_fixture, a_file_in_place_of_the_directory_stops_the_sieve_and_keeps_the_lines) {
  testing::write_file(dir.file("plain"), "");
  run_into_a_failing_file(dir.file("plain/VekStatus.dat"));
}

TEST_F(writer_fixture, a_read_only_directory_stops_the_sieve_and_keeps_the_lines) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  std::filesystem::create_directory(dir.file("ro"));
  std::filesystem::permissions(dir.file("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  run_into_a_failing_file(dir.file("ro/VekStatus.dat"));
}

TEST_F(writer_fixture, a_file_that_becomes_writable_again_gets_the_line) {
  const std::string path = dir.file("later/VekStatus.dat");
  status_file_writer writer(path, channel, {5ms, 10s}, &stop);
  std::thread fix([&] {
    std::this_thread::sleep_for(40ms);
    std::filesystem::create_directory(dir.file("later"));
  });
  EXPECT_TRUE(writer.append("pmin=1262142\n"));
  fix.join();
  EXPECT_TRUE(writer.append("Done\n"));
  EXPECT_EQ(testing::read_file(path), "pmin=1262142\nDone\n");
  EXPECT_FALSE(writer.gave_up());
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 2u) << out.text();
  EXPECT_EQ(lines[0].rfind("The status file '" + path + "' cannot be written: No such file or directory", 0), 0u);
  EXPECT_EQ(lines[1], "The status file '" + path + "' can be written again");
}

TEST_F(writer_fixture, an_interrupted_run_is_not_kept_waiting_for_the_disk) {
  stop = true;
  status_file_writer writer("/dev/full", channel, {5ms, 10s}, &stop);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(writer.append("pmin=1262142\n"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(writer.unsaved_lines(), std::vector<std::string>{"pmin=1262142\n"});
}

TEST_F(writer_fixture, a_line_cut_short_by_the_disk_is_taken_back) {
  const std::string path = dir.file("VekStatus.dat");
  testing::write_file(path, "pmax=5000000000\npmin=3000000000\n");
  const auto size = std::filesystem::file_size(path);
  // A file size limit lets the write through in part, then fails it: what a
  // disk filling up mid-line does. Done in a child, which owns the limit.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(size + 6), static_cast<rlim_t>(size + 6)};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(write_durably(path, "3000000019 | 5359*2^1234567+1\n"));
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), EFBIG);
  EXPECT_EQ(testing::read_file(path), "pmax=5000000000\npmin=3000000000\n");
  EXPECT_EQ(write_durably(path, "Done\n"), 0);
  EXPECT_EQ(testing::read_file(path), "pmax=5000000000\npmin=3000000000\nDone\n");
}

}  // namespace
}  // namespace veksieve
