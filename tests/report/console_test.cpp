// The console channel: the texts of its calls, line ends and the rate ring,
// driven by a hand-moved millisecond clock.
#include "report/console.hpp"

#include <gtest/gtest.h>

#include <cinttypes>

#include "capture.hpp"

namespace veksieve {
namespace {

struct channel_fixture : ::testing::Test {
  testing::captured_output out;
  uint32_t now = 0;
  console_channel channel{out.file(), [this] { return now; }};

  void status(int64_t p, uint32_t at) {
    now = at;
    channel.status(p);
  }
};

TEST_F(channel_fixture, each_kind_of_line_has_its_text_and_one_newline) {
  channel.completed();
  channel.reached(281474976710677);
  channel.factor(1000000007, 5359, 1234);
  channel.verification_failed(7, 3, 5);
  channel.message("");  // nothing at all
  channel.messagef("%s", "#S as it stands");
  EXPECT_EQ(out.text(),
            "Done\n281474976710677\n1000000007 | 5359*2^1234+1\n"
            "Verification failed: 7 does not divide 3*2^5+1!\n#S as it stands\n");
  EXPECT_EQ(channel.rate_index(), -1);  // only status lines touch the ring
}

TEST_F(channel_fixture, rate_is_measured_from_the_first_status_line_while_the_ring_fills) {
  status(1000003, 5000);
  status(1262147, 5700);  // (1262147 - 1000003) * 1000 / 700 = 374491.43
  status(1524287, 6000);  // (1524287 - 1000003) * 1000 / 1000 = 524284
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Sieved up to 1000003 (1.0 million)");
  EXPECT_EQ(lines[1], "Sieved up to 1262147 (1.2 million); rate 374491 p/sec");
  EXPECT_EQ(lines[2], "Sieved up to 1524287 (1.5 million); rate 524284 p/sec");
  EXPECT_EQ(channel.rate_index(), -4);
}

TEST_F(channel_fixture, full_ring_measures_over_the_last_99_intervals) {
  // Status line i (from 0) carries 1000 * i * i at i * 10 ms, so the rate
  // against line j is 100000 * (i + j) p/sec: it tells which sample was used.
  for (int64_t i = 0; i < 100; ++i) status(1000 * i * i, static_cast<uint32_t>(i * 10));
  EXPECT_EQ(channel.rate_index(), 0);
  EXPECT_EQ(out.lines()[99], "Sieved up to 9801000 (9.8 million); rate 9900000 p/sec");  // against line 0

  for (int64_t i = 100; i < 203; ++i) status(1000 * i * i, static_cast<uint32_t>(i * 10));
  const auto lines = out.lines();
  EXPECT_EQ(lines[100], "Sieved up to 10000000 (9.9 million); rate 10100000 p/sec");  // 101st against 2nd
  EXPECT_EQ(lines[101], "Sieved up to 10201000 (10.2 million); rate 10300000 p/sec");  // 102nd against 3rd
  EXPECT_EQ(lines[199], "Sieved up to 39601000 (39.6 million); rate 29900000 p/sec");  // 200th against 101st
  EXPECT_EQ(lines[202], "Sieved up to 40804000 (40.8 million); rate 30500000 p/sec");  // 203rd against 104th
  EXPECT_EQ(channel.rate_index(), 3);
}

TEST_F(channel_fixture, rate_survives_the_clock_wrapping_past_2_to_the_31_and_32) {
  status(1000003, 0x7FFFFE00u);
  status(1500007, 0x80000100u);  // 768 ms later, past 2^31
  status(2000029, 0xFFFFFF00u);
  status(2500009, 0x00000064u);  // 356 ms later, past 2^32
  const auto lines = out.lines();
  EXPECT_EQ(lines[1], "Sieved up to 1500007 (1.5 million); rate 651047 p/sec");
  // Against the first line: 2^31 + 612 ms, read modulo 2^32 as signed.
  const double elapsed = static_cast<double>(static_cast<int32_t>(0x00000064u - 0x7FFFFE00u));
  char expected[80];
  std::snprintf(expected, sizeof expected, "Sieved up to 2500009 (2.5 million); rate %.0f p/sec", 1500006 * 1000.0 / elapsed);
  EXPECT_EQ(lines[3], expected);
}

TEST_F(channel_fixture, a_zero_time_difference_shows_no_inf_or_nan) {
  status(1000003, 100);
  status(1000033, 100);  // same millisecond as the first: no rate to show yet
  status(2000003, 1100);
  status(2000029, 100);  // 2^32 ms on, the clock reads as at the first line again
  const auto lines = out.lines();
  EXPECT_EQ(lines[1], "Sieved up to 1000033 (1.0 million)");
  EXPECT_EQ(lines[2], "Sieved up to 2000003 (2.0 million); rate 1000000 p/sec");
  EXPECT_EQ(lines[3], "Sieved up to 2000029 (2.0 million); rate 1000000 p/sec");  // the previous rate
}

TEST_F(channel_fixture, the_prime_reached_neither_reads_nor_moves_the_ring) {
  status(1000003, 0);
  now = 1;
  channel.reached(5000000000);
  status(2000003, 1000);
  EXPECT_EQ(out.lines()[2], "Sieved up to 2000003 (2.0 million); rate 1000000 p/sec");
  EXPECT_EQ(channel.rate_index(), -3);
}

TEST_F(channel_fixture, a_live_status_line_is_rewritten_in_place_under_the_other_lines) {
  channel.show_live(1000000, 3000000);
  status(1000003, 0);
  channel.factor(1000033, 5, 7);
  status(2000003, 1000);  // 1000000 p/sec, 1000000 to go
  channel.completed();
  EXPECT_EQ(out.text(),
            "\rSieved up to 1000003 (1.0 million); 0.0% done\x1b[K"
            "\r\x1b[K1000033 | 5*2^7+1\nSieved up to 1000003 (1.0 million); 0.0% done\x1b[K"
            "\rSieved up to 2000003 (2.0 million); rate 1000000 p/sec; 50.0% done; 0:00:01 left\x1b[K"
            "\nDone\n");
  EXPECT_EQ(duration_text(3 * 86400 + 3723.4), "3d 01:02:03");
}

}  // namespace
}  // namespace veksieve
