// The sieve run in this process: what it refuses before sieving, how it ends
// when results cannot be saved, and the signal handling it installs.
#include "control/sieve_run.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "capture.hpp"
#include "control/fatal_error.hpp"
#include "report/interruption.hpp"
#include "test_support.hpp"

namespace veksieve {
namespace {

using namespace std::chrono_literals;

TEST(sieve_run, a_job_the_search_cannot_be_sized_for_is_refused_before_sieving) {
  testing::scratch_dir dir;
  sieve_job job = testing::make_job(2, 1000, {1013, 1019, 1021}, dir.file("VekStatus.dat"));
  job.step = {65521, 65519, 65497};  // least common multiple far above 2^32
  job.pmin = 1000000;
  job.pmax = 2000000;
  testing::captured_output out;
  run_settings settings;
  settings.console = out.file();
  EXPECT_EQ(run_sieve(job, settings), exit_bad_sequence_file);
  EXPECT_EQ(out.text().rfind("The sequences of 'Vek.dat' cannot be sieved: ", 0), 0u) << out.text();
  EXPECT_FALSE(std::filesystem::exists(job.status_file));
}

TEST(sieve_run, results_that_cannot_be_saved_are_listed_and_the_range_is_not_marked_done) {
  // 1013 * 2^n + 1 over odd n from 10001 to 10399 has factors between one
  // and two million; the first of them cannot be saved on a full disk.
  std::vector<int32_t> ks = {1013};
  sieve_job job = testing::make_job(10000, 10399, ks, "/dev/full");
  job.bitmap_storage[0].assign(job.bitmap_storage[0].size(), 0xAAAAAAAAu);  // odd n only
  job.step = {2};
  job.residue = {1};
  job.pmin = 1000000;
  job.pmax = 2000000;
  testing::captured_output out;
  run_settings settings;
  settings.console = out.file();
  settings.retry = {1ms, 20ms};
  EXPECT_EQ(run_sieve(job, settings), exit_status_file_unwritable);

  const auto lines = out.lines();
  ASSERT_GE(lines.size(), 5u) << out.text();
  std::size_t first_factor = 0;
  while (first_factor < lines.size() && lines[first_factor].find(" | ") == std::string::npos) ++first_factor;
  ASSERT_LT(first_factor + 4, lines.size()) << out.text();
  EXPECT_EQ(lines[first_factor + 1].rfind("The status file '/dev/full' cannot be written: ", 0), 0u);
  EXPECT_EQ(lines[first_factor + 2], "Giving up on the status file '/dev/full'");
  // The sieve stopped at the next prime: what follows is the list.
  const std::size_t list = lines.size() - 2;
  EXPECT_EQ(lines[list], "These lines could not be saved in the status file '/dev/full':");
  EXPECT_EQ(lines[list + 1], lines[first_factor]);
  for (const std::string& line : lines) EXPECT_NE(line, "Done");
}

TEST(interruption, the_first_signal_asks_for_a_stop_and_the_second_takes_its_default_action) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction before_hup {};
  sigaction(SIGHUP, &ignore, &before_hup);  // as under nohup
  {
    interruption_guard guard;
    EXPECT_FALSE(guard.stop_flag().load());
    raise(SIGHUP);  // ignored before the run: stays ignored
    EXPECT_FALSE(guard.stop_flag().load());
    raise(SIGTERM);
    EXPECT_TRUE(guard.stop_flag().load());
    EXPECT_EQ(guard.signal_number(), SIGTERM);

    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);  // a second Ctrl-C ends the program at once
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
  }
  struct sigaction after {};
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_DFL);
  sigaction(SIGHUP, &before_hup, nullptr);
}

TEST(sieve_run, the_checkpoint_interval_variable_only_shortens_the_interval) {
  EXPECT_EQ(parse_checkpoint_interval("0"), 0);
  EXPECT_EQ(parse_checkpoint_interval("30"), 30);
  EXPECT_EQ(parse_checkpoint_interval("900"), 900);
  for (const char* bad : {"", "901", "-1", "30s", " 30x", "99999999999999999999"}) {
    EXPECT_EQ(parse_checkpoint_interval(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace veksieve
