// Engine set-up: groups of adjacent sequences of one k, class exponents,
// parity values, and the blocks obtained and given back through the
// callbacks, also when an allocation fails or the sizing refuses.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "engine/sequence_groups.hpp"
#include "engine_test_support.hpp"

namespace veksieve {
namespace {

using test::recorder;
using test::sequences;

struct setup {
  sequences seqs;
  recorder rec;
  engine_memory memory{rec.callbacks()};
  sequence_groups groups;
  explicit setup(sequences s)
      : seqs(std::move(s)), groups(seqs.view(), plan_stride_search(seqs.view(), 2.5).stride, memory) {}
  template <class T>
  std::vector<T> of(const T* values) const {
    return {values, values + groups.count};
  }
};

TEST(engine_setup, groups_of_one_k) {
  setup s(sequences(100, 1000, {{5, 2, 12}, {5, 10, 12}, {7, 3, 6}}));
  EXPECT_EQ(s.of(s.groups.group_tag), (std::vector<int32_t>{-1, 8, 0}));
  EXPECT_EQ(s.of(s.groups.group_size), (std::vector<int32_t>{1, 0, 0}));
  EXPECT_EQ(s.of(s.groups.class_exponent), (std::vector<int32_t>{6, 2, 1}));

  setup single(sequences(100, 1000, {{5, 2, 12}}));
  EXPECT_EQ(single.groups.group_tag[0], 0);
  EXPECT_EQ(single.groups.group_size[0], 0);
}

TEST(engine_setup, a_run_that_breaks_the_layout_starts_a_new_group) {
  // Same k twice with another step, then residues that do not ascend: each
  // starts its own group, so no member borrows a result for another step.
  setup s(sequences(100, 1000, {{5, 1, 4}, {5, 3, 4}, {5, 1, 6}, {5, 3, 6}, {5, 3, 6}}));
  EXPECT_EQ(s.of(s.groups.group_tag), (std::vector<int32_t>{-1, 2, -1, 2, 0}));
  EXPECT_EQ(s.of(s.groups.group_size), (std::vector<int32_t>{1, 0, 1, 0, 0}));
}

TEST(engine_setup, parity_values) {
  setup s(sequences(100, 1000, {{7, 0, 2}, {5, 1, 2}, {9, 0, 1}, {2147483647, 0, 2}, {2147483645, 1, 2}}));
  const int64_t* parity = s.groups.parity_value;
  EXPECT_EQ(parity[0], -7);
  EXPECT_EQ(parity[1], -10);
  EXPECT_EQ(parity[2], 0);  // a multiple of 3
  EXPECT_EQ(parity[3], -2147483647);
  EXPECT_EQ(parity[4], -4294967290);  // -2k of a k near 2^31 does not wrap
}

TEST(engine_setup, blocks_come_from_the_callbacks_and_all_go_back) {
  const sequences seqs(3000000, 20000000, {{4847, 1, 720}, {4847, 13, 720}, {21181, 2, 264}, {22699, 0, 360}});
  recorder rec;
  const int64_t pmax = 1000000000000 + 1000;
  EXPECT_EQ(sieve_engine(1000000000000, pmax, seqs.view(), rec.callbacks(), 2.5),
            test::primes_between(pmax + 1, pmax + 1000).front());
  // The groups' per-sequence arrays (4 + 4 + 4 + 8 bytes per sequence), the
  // filter's (8 + 4), then the table (1074 entries), its chain links, the
  // presence map's 4096 blocks and their chain heads.
  EXPECT_EQ(rec.allocation_sizes,
            (std::vector<uint32_t>{16, 16, 16, 32, 32, 16, 1074 * 8, 1074 * 2, 4096 * 4, 4096 * 2}));
  EXPECT_TRUE(rec.outstanding.empty());
  EXPECT_FALSE(rec.bad_release);
  EXPECT_EQ(rec.releases, 10);
}

TEST(engine_setup, failed_allocation_gives_back_what_it_got_and_throws) {
  const sequences seqs(100, 1000, {{5, 1, 2}});
  for (const int failing : {0, 4, 9}) {
    recorder rec;
    rec.fail_allocation_number = failing;
    EXPECT_THROW(sieve_engine(0, 1000, seqs.view(), rec.callbacks(), 2.5), std::bad_alloc);
    EXPECT_TRUE(rec.outstanding.empty());
    EXPECT_FALSE(rec.bad_release);
    EXPECT_TRUE(rec.factors.empty() && rec.progress.empty());
  }
}

TEST(engine_setup, refused_sizing_throws_its_reason_before_any_callback) {
  const sequences seqs(2, 100, {{5, 1, 2147483647}, {7, 0, 1073741824}});
  recorder rec;
  try {
    sieve_engine(0, 1000, seqs.view(), rec.callbacks(), 2.5);
    FAIL() << "no refusal";
  } catch (const std::invalid_argument& refusal) {
    EXPECT_EQ(std::string(refusal.what()), plan_stride_search(seqs.view(), 2.5).refusal);
  }
  EXPECT_TRUE(rec.allocation_sizes.empty());
}

}  // namespace
}  // namespace veksieve
