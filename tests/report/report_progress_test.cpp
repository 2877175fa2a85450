// Progress as the committer writes it: status-line texts,
// the checkpoint rule with a hand-moved calendar clock, and the memory
// callbacks' zero fill.
#include <gtest/gtest.h>

#include <algorithm>

#include "capture.hpp"
#include "report/sieve_memory.hpp"
#include "test_support.hpp"

namespace veksieve {
namespace {

struct progress_fixture : ::testing::Test {
  testing::scratch_dir dir;
  testing::captured_output out;
  console_channel channel{out.file(), [] { return uint32_t{0}; }};
  int64_t now = 1700000000;
  testing::test_job job = testing::make_job(2, 10, {21}, dir.file("VekStatus.dat"));
  std::string status_text() { return testing::read_file(job.options.status_file); }
};

TEST_F(progress_fixture, status_lines_cut_the_scaled_prime_to_one_decimal) {
  testing::commit_harness rep(job, channel, now);
  for (int64_t p : {int64_t{999983}, int64_t{1000003}, int64_t{1999993}, int64_t{1000000007},
                    int64_t{2999999929}, int64_t{1000000000039}, int64_t{281474976710597}}) {
    rep.commit.commit_progress(p);
  }
  EXPECT_EQ(out.text(),
            "Sieved up to 999983\n"
            "Sieved up to 1000003 (1.0 million)\n"
            "Sieved up to 1999993 (1.9 million)\n"
            "Sieved up to 1000000007 (1.0 billion)\n"
            "Sieved up to 2999999929 (2.9 billion)\n"
            "Sieved up to 1000000000039 (1.0 trillion)\n"
            "Sieved up to 281474976710597 (281.4 trillion)\n");
  EXPECT_EQ(status_text(), "");
}

TEST_F(progress_fixture, checkpoint_after_more_than_the_interval_records_the_prime_less_one) {
  testing::commit_harness rep(job, channel, now);
  now += 900;
  rep.commit.commit_progress(1000003);  // exactly 900 seconds: not yet
  EXPECT_EQ(status_text(), "");
  now += 1;
  rep.commit.commit_progress(1262143);
  EXPECT_EQ(status_text(), "pmin=1262142\n");  // a resumed run starts at 1262143 itself

  // A factor line 600 seconds later moves the next checkpoint to 901
  // seconds after it.
  now += 600;
  rep.commit.commit_factor(337, 0, 4);  // 21 * 2^4 + 1 = 337
  now += 900;
  rep.commit.commit_progress(1524287);
  EXPECT_EQ(status_text(), "pmin=1262142\n337 | 21*2^4+1\n");
  now += 1;
  rep.commit.commit_progress(1786369);
  EXPECT_EQ(status_text(), "pmin=1262142\n337 | 21*2^4+1\npmin=1786368\n");
  EXPECT_EQ(out.lines().size(), 5u);  // four status lines and the factor line
}

TEST_F(progress_fixture, a_shortened_interval_applies_the_same_rule) {
  testing::commit_harness rep(job, channel, now, {}, 0);
  rep.commit.commit_progress(1000003);  // same second as the start
  now += 1;
  rep.commit.commit_progress(1262143);
  rep.commit.commit_progress(1524287);  // same second as the checkpoint
  EXPECT_EQ(status_text(), "pmin=1262142\n");
}

TEST(sieve_memory, blocks_are_zero_filled_and_released) {
  for (uint32_t size : {1u, 4096u, 1u << 20}) {
    auto* block = static_cast<unsigned char*>(sieve_alloc(nullptr, size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::count(block, block + size, 0), static_cast<std::ptrdiff_t>(size));
    sieve_free(nullptr, block);
  }
}

}  // namespace
}  // namespace veksieve
