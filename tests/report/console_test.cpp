// The console channel: the texts of its calls, line ends, the rate and the
// live line, driven by a hand-moved millisecond clock.
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
}

TEST_F(channel_fixture, rate_is_measured_between_slices_from_the_first_until_a_minute_has_passed) {
  status(1000003, 5000);
  status(1262147, 5700);    // one slice finished: no rate yet
  status(1524287, 6000);    // two, but only 700 ms apart
  status(1600000, 6050);    // the same slice: this line stands for it
  status(2262147, 6500);    // (1600000 - 1000003) * 1000 / 1050 = 571425.7
  status(31600000, 66050);  // (2262147 - 1000003) * 1000 / 1500 = 841429.3
  status(31700000, 66600);  // against the slice a minute before: 30000000 * 1000 / 60000
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "Sieved up to 1000003 (1.0 million)");
  EXPECT_EQ(lines[1], "Sieved up to 1262147 (1.2 million)");
  EXPECT_EQ(lines[2], "Sieved up to 1524287 (1.5 million)");
  EXPECT_EQ(lines[3], "Sieved up to 1600000 (1.5 million)");
  EXPECT_EQ(lines[4], "Sieved up to 2262147 (2.2 million); rate 571426 p/sec");
  EXPECT_EQ(lines[5], "Sieved up to 31600000 (31.5 million); rate 841429 p/sec");
  EXPECT_EQ(lines[6], "Sieved up to 31700000 (31.6 million); rate 500000 p/sec");
}

// Status lines come as the committer prints them: a chunk's lines at once,
// when its worker is done, with uneven gaps between the chunks. The rate must
// follow the frontier's true advance, not the bursts; the clock wraps past
// 2^32 on the way.
TEST_F(channel_fixture, bursts_of_status_lines_leave_the_rate_true) {
  constexpr double true_rate = 3e7;  // p per second
  constexpr int64_t block = 262144;  // a status line each time p enters a new block
  constexpr int64_t start_p = 1000000000;
  constexpr uint32_t start_ms = 0xFFFFFFFFu - 20000;
  constexpr uint32_t gaps_ms[] = {300, 1700, 900, 1100, 40, 1960, 600, 1400};
  std::vector<int64_t> line_ms;  // milliseconds into the run of each status line
  int64_t ms = 0;
  for (int chunk = 0; ms < 180000; ++chunk) {
    const int64_t from = start_p + static_cast<int64_t>(true_rate * static_cast<double>(ms) / 1000.0);
    ms += gaps_ms[chunk % 8];
    const int64_t to = start_p + static_cast<int64_t>(true_rate * static_cast<double>(ms) / 1000.0);
    for (int64_t p = (from / block + 1) * block + 1; p <= to; p += block) {
      status(p, start_ms + static_cast<uint32_t>(ms));
      line_ms.push_back(ms);
    }
  }
  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), line_ms.size());
  int checked = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (line_ms[i] < 30000) continue;
    const std::size_t at = lines[i].find("; rate ");
    ASSERT_NE(at, std::string::npos) << lines[i];
    EXPECT_NEAR(std::stod(lines[i].substr(at + 7)), true_rate, 0.1 * true_rate)
        << lines[i] << " at " << line_ms[i] << " ms";
    ++checked;
  }
  EXPECT_GT(checked, 10000);
}

TEST_F(channel_fixture, the_prime_reached_does_not_move_the_rate) {
  status(1000003, 0);
  now = 1;
  channel.reached(5000000000);
  status(2000003, 1000);
  status(3000017, 2000);
  EXPECT_EQ(out.lines()[3], "Sieved up to 3000017 (3.0 million); rate 1000000 p/sec");
}

TEST_F(channel_fixture, a_live_status_line_is_rewritten_in_place_under_the_other_lines) {
  channel.show_live(1000000, 3000000);
  status(1000003, 0);
  channel.factor(1000033, 5, 7);
  status(2000003, 1000);
  status(2000029, 2000);  // 1000000 p/sec, 999971 to go
  channel.completed();
  EXPECT_EQ(out.text(),
            "\rSieved up to 1000003 (1.0 million); 0.0% done\x1b[K"
            "\r\x1b[K1000033 | 5*2^7+1\nSieved up to 1000003 (1.0 million); 0.0% done\x1b[K"
            "\rSieved up to 2000003 (2.0 million); 50.0% done\x1b[K"
            "\rSieved up to 2000029 (2.0 million); rate 1000000 p/sec; 50.0% done; 0:00:01 left\x1b[K"
            "\nDone\n");
  EXPECT_EQ(duration_text(3 * 86400 + 3723.4), "3d 01:02:03");
}

TEST(fit_line, parts_of_the_lowest_rank_go_first_and_the_last_one_is_cut) {
  const std::vector<line_part> parts{{"prime", 3}, {" words", 1}, {"; done", 2}};
  EXPECT_EQ(fit_line(parts, 17), "prime words; done");
  EXPECT_EQ(fit_line(parts, 16), "prime; done");
  EXPECT_EQ(fit_line(parts, 10), "prime");
  EXPECT_EQ(fit_line(parts, 3), "pri");
}

}  // namespace
}  // namespace veksieve
