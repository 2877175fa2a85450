// The sieve run in this process: what it refuses before sieving, how it ends
// when results cannot be saved, and the signal handling it installs.
#include "control/sieve_run.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "capture.hpp"
#include "control/fatal_error.hpp"
#include "report/interruption.hpp"
#include "test_support.hpp"

namespace veksieve {
namespace {

using namespace std::chrono_literals;

TEST(sieve_run, a_job_the_search_cannot_be_sized_for_is_refused_before_sieving) {
  testing::scratch_dir dir;
  testing::test_job job = testing::make_job(2, 1000, {1013, 1019, 1021}, dir.file("VekStatus.dat"));
  job.table.step = {65521, 65519, 65497};  // least common multiple far above 2^32
  job.range.pmin = 1000000;
  job.range.pmax = 2000000;
  testing::captured_output out;
  run_settings settings;
  settings.console = out.file();
  EXPECT_EQ(testing::run_sieve(job, settings), exit_bad_sequence_file);
  EXPECT_EQ(out.text().rfind("The sequences of 'Vek.dat' cannot be sieved: ", 0), 0u) << out.text();
  EXPECT_FALSE(std::filesystem::exists(job.options.status_file));
}

TEST(sieve_run, results_that_cannot_be_saved_are_listed_and_the_range_is_not_marked_done) {
  // 1013 * 2^n + 1 over odd n from 10001 to 10399 has factors between one
  // and two million; the first of them cannot be saved on a full disk.
  std::vector<int32_t> ks = {1013};
  testing::test_job job = testing::make_job(10000, 10399, ks, "/dev/full");
  job.table.bitmap_storage[0].assign(job.table.bitmap_storage[0].size(), 0xAAAAAAAAu);  // odd n only
  job.table.step = {2};
  job.table.residue = {1};
  job.range.pmin = 1000000;
  job.range.pmax = 2000000;
  testing::captured_output out;
  run_settings settings;
  settings.console = out.file();
  settings.retry = {1ms, 20ms};
  EXPECT_EQ(testing::run_sieve(job, settings), exit_status_file_unwritable);

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

// Blocks from the heap while the budget lasts: one engine's worth.
struct memory_budget {
  std::atomic<int> blocks_left;
  static void* allocate(void* context, uint32_t size) {
    auto& budget = *static_cast<memory_budget*>(context);
    return budget.blocks_left.fetch_sub(1) > 0 ? std::calloc(size, 1) : nullptr;
  }
  static void release(void*, void* block) { std::free(block); }
};

std::vector<std::string> factor_lines_of(const std::string& file) {
  std::vector<std::string> lines;
  std::istringstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.find(" | ") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

TEST(sieve_run, a_worker_without_memory_ends_the_run_at_the_committed_frontier) {
  testing::scratch_dir dir;
  auto make = [&](const std::string& name, int64_t pmax) {
    testing::test_job job = testing::make_job(10000, 10399, {1013}, dir.file(name));
    job.table.bitmap_storage[0].assign(job.table.bitmap_storage[0].size(), 0xAAAAAAAAu);  // odd n only
    job.table.step = {2};
    job.table.residue = {1};
    job.range.pmin = 1000000;
    job.range.pmax = pmax;
    job.range.resumable = true;
    testing::write_file(job.options.status_file, "pmax=" + std::to_string(pmax) + "\npmin=1000000\n");
    return job;
  };
  testing::test_job job = make("short.dat", 40000000);
  memory_budget budget{10};  // the blocks of one engine's state: the second worker gets none
  testing::captured_output out;
  run_settings settings;
  settings.console = out.file();
  settings.threads = 2;
  settings.memory = {memory_budget::allocate, memory_budget::release, &budget};
  EXPECT_EQ(testing::run_sieve(job, settings), exit_failure);

  const auto lines = out.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "There is not enough memory to sieve!");
  const std::string& stopped = lines[lines.size() - 2];
  ASSERT_EQ(stopped.rfind("Interrupted before p=", 0), 0u) << stopped;
  const int64_t frontier = std::stoll(stopped.substr(21));
  const std::string file = testing::read_file(job.options.status_file);
  EXPECT_EQ(file.substr(file.rfind("pmin=")), "pmin=" + std::to_string(frontier - 1) + "\n");

  // What was committed is what one thread finds below the frontier.
  testing::test_job whole = make("whole.dat", frontier - 1);
  testing::captured_output ignored;
  run_settings one_thread;
  one_thread.console = ignored.file();
  one_thread.threads = 1;
  EXPECT_EQ(testing::run_sieve(whole, one_thread), 0);
  EXPECT_EQ(factor_lines_of(file), factor_lines_of(testing::read_file(whole.options.status_file)));
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
