// The stride sizing: the worked examples, the stride growing to keep the
// table's 16-bit indices, large step multiples, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common/config.hpp"
#include "engine/stride_sizing.hpp"
#include "engine_test_support.hpp"

namespace veksieve {
namespace {

using test::sequences;

stride_sizing size(int32_t nmin, int32_t nmax, std::vector<int32_t> steps, double alpha) {
  std::vector<int32_t> k(steps.size(), 5), residue(steps.size(), 0);
  return plan_stride_search({nmin, nmax, k, residue, steps}, alpha);
}

void expect_sizing(const stride_sizing& s, uint32_t window, uint64_t root, uint64_t lcm, uint32_t stride,
                   uint32_t table_length) {
  ASSERT_TRUE(s.ok()) << s.refusal;
  EXPECT_EQ(s.window, window);
  EXPECT_EQ(s.root, root);
  EXPECT_EQ(s.step_lcm, lcm);
  EXPECT_EQ(s.stride, stride);
  EXPECT_EQ(s.table_length, table_length);
}

TEST(stride_sizing, worked_examples) {
  expect_sizing(size(3000000, 20000000, {720, 264, 360}, 2.5), 17000001, 9219, 7920, 15840, 1074);
  expect_sizing(size(1000000, 50000000, {120, 96, 720}, 2.5), 49000001, 15652, 1440, 15840, 3094);
  expect_sizing(size(2, 1000, {1, 1, 1}, 0.1), 999, 14, 1, 14, 72);
  // r0 already a multiple of L.
  expect_sizing(size(2, 1000, {2, 7}, 0.1), 999, 14, 14, 14, 72);
}

TEST(stride_sizing, root_of_zero_keeps_one_stride) {
  // A one-exponent window and the smallest alpha: r0 = floor(sqrt(0.2)) = 0.
  expect_sizing(size(50, 50, {6, 2}, 0.1), 1, 0, 6, 6, 1);
}

TEST(stride_sizing, stride_grows_to_keep_the_table_within_16_bit_indices) {
  // The longest window with alpha 0.1 wants M = 20724 and 103,623 entries.
  const stride_sizing s = size(2, std::numeric_limits<int32_t>::max(), {1}, 0.1);
  ASSERT_TRUE(s.ok()) << s.refusal;
  EXPECT_EQ(s.root, 20724u);
  EXPECT_EQ(s.stride, 32768u);
  EXPECT_EQ(s.table_length, max_table_length);
  // The smallest multiple of L that fits: 24 * 1366 = 32784 > 32768.
  const stride_sizing split = size(2, std::numeric_limits<int32_t>::max(), {24, 8}, 0.1);
  ASSERT_TRUE(split.ok());
  EXPECT_EQ(split.stride, 32784u);
  EXPECT_LE(split.table_length, max_table_length);
  EXPECT_GT(uint64_t{split.table_length} * split.stride, split.window);
}

TEST(stride_sizing, step_multiple_beyond_int32_is_kept_when_exponents_fit) {
  // L = 3 * 2^30 does not fit a signed 32-bit value but every n does.
  expect_sizing(size(2, 100, {1610612736, 1073741824}, 2.5), 99, 22, 3221225472u, 3221225472u, 1);
}

TEST(stride_sizing, refusals_name_their_reason) {
  EXPECT_NE(size(2, 100, {2147483647, 1073741824}, 2.5).refusal.find("least common multiple"), std::string::npos);
  EXPECT_NE(size(100, 99, {1}, 2.5).refusal.find("window"), std::string::npos);
  EXPECT_NE(size(0, 99, {1}, 2.5).refusal.find("window"), std::string::npos);
  EXPECT_NE(size(2, 99, {0}, 2.5).refusal.find("step"), std::string::npos);
  EXPECT_NE(size(2, 99, {}, 2.5).refusal.find("no sequences"), std::string::npos);
  for (const double alpha : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
    EXPECT_NE(size(2, 99, {1}, alpha).refusal.find("alpha"), std::string::npos) << alpha;
  }
  const sequences bad_residue(2, 99, {{5, 6, 6}});
  EXPECT_NE(plan_stride_search(bad_residue.view(), 2.5).refusal.find("residue"), std::string::npos);
  const sequences bad_k(2, 99, {{0, 0, 1}});
  EXPECT_NE(plan_stride_search(bad_k.view(), 2.5).refusal.find("k=0"), std::string::npos);
}

}  // namespace
}  // namespace veksieve
