// The sequence table built from Vek.dat text: exact entries and bitmaps for
// the format's cases, the checks that keep a defective file away from the
// engine, and a seeded random check of the table against a reference built
// here from the n's themselves.
#include "control/sequence_table.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "control/fatal_error.hpp"

namespace veksieve {
namespace {

struct entry {
  int32_t k, residue, step;
  bool operator==(const entry&) const = default;
};

void PrintTo(const entry& e, std::ostream* os) { *os << "{k=" << e.k << " r=" << e.residue << " s=" << e.step << "}"; }

sequence_table build(const std::string& text, const search_costs& costs = {}, const std::string& name = "Vek.dat") {
  std::istringstream in(text);
  return read_sequence_table(in, bitmap_memory_budget(), costs, name);
}

std::vector<entry> entries(const sequence_table& job) {
  std::vector<entry> all;
  for (int32_t i = 0; i < job.count; ++i) all.push_back({job.k[i], job.residue[i], job.step[i]});
  return all;
}

std::vector<int64_t> set_bits(const sequence_table& job, int32_t i) {
  std::vector<int64_t> bits;
  for (int64_t b = 0; b < int64_t{job.bitmap_words} * 32; ++b)
    if (job.bitmap[i][b / 32] >> (b % 32) & 1) bits.push_back(b);
  return bits;
}

// The message of a rejected text ("" when the text is accepted).
std::string rejection(const std::string& text, const std::string& name = "Vek.dat") {
  try {
    build(text, {}, name);
  } catch (const fatal_error& e) {
    EXPECT_EQ(e.exit_status, exit_bad_sequence_file);
    return e.message;
  }
  return "";
}

TEST(sequence_table, single_k_with_one_n) {
  const sequence_table job = build("1\n2\n2\nk=3\n2\n");
  EXPECT_EQ(job.nmin, 2);
  EXPECT_EQ(job.nmax, 2);
  EXPECT_EQ(job.bitmap_words, 1);
  EXPECT_EQ(entries(job), (std::vector<entry>{{3, 0, 907200}}));
  EXPECT_EQ(set_bits(job, 0), (std::vector<int64_t>{0}));
}

TEST(sequence_table, relative_and_absolute_lines_give_the_same_entry) {
  for (const char* block : {"100\n+6\n+12\n", "100\n106\n118\n", "100\n+6\n118\n"}) {
    const sequence_table job = build(std::string("1\n2\n1000\nk=3\n") + block);
    EXPECT_EQ(entries(job), (std::vector<entry>{{3, 2, 6}})) << block;
    EXPECT_EQ(set_bits(job, 0), (std::vector<int64_t>{98, 104, 116})) << block;
  }
  // A "+" line giving the first n enters its number into the step too (with
  // free walks, so that no split into classes hides the step).
  EXPECT_EQ(entries(build("1\n2\n1000\nk=3\n+100\n+10\n", {1, 0, 1, 1, 1})), (std::vector<entry>{{3, 8, 10}}));
  EXPECT_EQ(entries(build("1\n2\n1000\nk=3\n+100\n+6\n+12\n", {1, 0, 1, 1, 1})), (std::vector<entry>{{3, 0, 2}}));
}

TEST(sequence_table, k_of_the_period_table_splits_into_classes_sharing_one_bitmap) {
  const sequence_table job = build("2\n2\n1000\nk=4847\n2\n3\n122\nk=5\n10\n");
  EXPECT_EQ(entries(job), (std::vector<entry>{{4847, 0, 120}, {4847, 1, 120}, {5, 8, 907200}}));
  EXPECT_EQ(job.count, 3);
  EXPECT_EQ(job.bitmap[0], job.bitmap[1]);
  EXPECT_NE(job.bitmap[1], job.bitmap[2]);
  EXPECT_EQ(set_bits(job, 0), (std::vector<int64_t>{0, 1, 120}));
  EXPECT_EQ(set_bits(job, 2), (std::vector<int64_t>{8}));

  // All n in one class of the period: one entry with the gcd step.
  EXPECT_EQ(entries(build("1\n2\n1000\nk=4847\n2\n122\n242\n")), (std::vector<entry>{{4847, 0, 120}}));
  // A k outside the table stays one sequence where the cost model sees no
  // gain in classes (free walks), and is split where walks are dear.
  const std::string outside = "1\n2\n1000\nk=4849\n2\n3\n122\n";
  EXPECT_EQ(entries(build(outside, {1, 0, 1, 1, 1})), (std::vector<entry>{{4849, 0, 1}}));
  EXPECT_EQ(entries(build(outside, {1, 100, 0, 0, 0})).size(), 2u);
}

TEST(sequence_table, empty_blocks_window_sizes_and_extra_k) {
  sequence_table job = build("3\n2\n100\nk=3\nk=5\n7\nk=7\n");
  EXPECT_EQ(entries(job), (std::vector<entry>{{3, 0, 1}, {5, 5, 907200}, {7, 0, 1}}));
  EXPECT_TRUE(set_bits(job, 0).empty());
  EXPECT_TRUE(set_bits(job, 2).empty());

  EXPECT_EQ(build("1\n2\n32\nk=3\n").bitmap_words, 1);  // 31 exponents
  EXPECT_EQ(build("1\n2\n33\nk=3\n").bitmap_words, 2);  // 32 exponents
  job = build("1\n2\n33\nk=3\n33\n");
  EXPECT_EQ(set_bits(job, 0), (std::vector<int64_t>{31}));

  // Line 1 says 2: the third k is never used, so it is not even checked.
  job = build("2\n2\n100\nk=3\n5\nk=5\n6\nk=4\n7\n");
  EXPECT_EQ(entries(job), (std::vector<entry>{{3, 3, 907200}, {5, 4, 907200}}));
}

TEST(sequence_table, the_files_own_messages) {
  EXPECT_EQ(rejection(""), "The file 'Vek.dat' is invalid - bad first line!");
  EXPECT_EQ(rejection("k=3\n"), "The file 'Vek.dat' is invalid - bad first line!");
  EXPECT_EQ(rejection("-1\n"), "The file 'Vek.dat' is invalid - bad first line!");
  EXPECT_EQ(rejection("1\n1\n5\n"), "The file 'Vek.dat' is invalid - bad range of n on lines 2 and 3!");
  EXPECT_EQ(rejection("1\n6\n5\n"), "The file 'Vek.dat' is invalid - bad range of n on lines 2 and 3!");
  EXPECT_EQ(rejection("1\n2\n5\n4\n"), "The file 'Vek.dat' is invalid - bad k value at line 4!");
  EXPECT_EQ(rejection("1\n2\n5\n"), "The file 'Vek.dat' is invalid - bad k value at line 4!");
  EXPECT_EQ(rejection("1\n2\n5\nk=0\n"), "The file 'Vek.dat' is invalid - bad k value at line 4!");
  EXPECT_EQ(rejection("3\n2\n5\nk=3\n2\nk=5\n"), "The file 'Vek.dat' is invalid - insufficient k's!");
  EXPECT_EQ(rejection("2\n2\n5\nk=3\nk=0\nk=5\n"), "The file 'Vek.dat' is invalid - insufficient k's!");
  EXPECT_EQ(rejection("1\n2\n100\nk=5\n101\n"),
            "The file'Vek.dat' is invalid - for k=5, there is n=101, which is out of range!");
  EXPECT_EQ(rejection("1\n3\n100\nk=5\n2\n"),
            "The file'Vek.dat' is invalid - for k=5, there is n=2, which is out of range!");
}

TEST(sequence_table, messages_name_the_file_given) {
  EXPECT_EQ(rejection("", "my.dat"), "The file 'my.dat' is invalid - bad first line!");
  EXPECT_EQ(rejection("1\n2\n100\nk=5\n101\n", "my.dat"),
            "The file'my.dat' is invalid - for k=5, there is n=101, which is out of range!");
  EXPECT_EQ(rejection("1\n2\n100\nk=5\n4294967297\n", "my.dat"),
            "The file 'my.dat' is invalid - the number on line 5 does not fit 32 bits!");
}

// ABCD: blanks, CR, blank lines and comments pass; the window is the least
// and the largest n; a k of either form keeps its own bitmap and is struck
// only by a factor of its form; the period table is for k*2^n+1 alone.
TEST(sequence_table, abcd_files_of_both_forms) {
  const sequence_table job = build("ABCD 3*2^$a+1 [100] // Sieved to 1000000\n6\n12\n"
                                   "ABCD  3 * 2^$a - 1  [101]\r\n\n 2\r\n// note\n"
                                   "ABCD 4847*2^$a-1 [50]\n1\n120\n");
  EXPECT_EQ(job.format, sequence_format::abcd);
  EXPECT_EQ(job.sieved_to, 1000000);
  EXPECT_EQ(job.nmin, 50);
  EXPECT_EQ(job.nmax, 171);
  EXPECT_EQ(entries(job), (std::vector<entry>{{3, 2, 6}, {3, 1, 2}, {4847, 0, 1}}));
  EXPECT_EQ(job.c, (std::vector<int8_t>{1, -1, -1}));
  EXPECT_EQ(set_bits(job, 0), (std::vector<int64_t>{50, 56, 68}));
  EXPECT_EQ(set_bits(job, 1), (std::vector<int64_t>{51, 53}));
  EXPECT_EQ(set_bits(job, 2), (std::vector<int64_t>{0, 1, 121}));
  sequence_table struck = build("ABCD 3*2^$a+1 [100]\nABCD 3*2^$a-1 [100]\n");
  struck.strike(3, 100, -1);
  EXPECT_EQ(set_bits(struck, 0), (std::vector<int64_t>{0}));
  EXPECT_TRUE(set_bits(struck, 1).empty());
}

TEST(sequence_table, abcd_lines_refused_by_number) {
  const auto refused = [](const std::string& text) { return rejection(text, "x.abcd"); };
  const std::string bad = "The file 'x.abcd' is invalid - line ";
  const std::string form = " is no ABCD header of the form k*2^$a+1 [n] or k*2^$a-1 [n]!";
  EXPECT_EQ(refused("ABC 3\n"), bad + "1 is no ABCD header!");
  EXPECT_EQ(refused("ABCD 3*2^$a+1 10\n"), bad + "1" + form);
  EXPECT_EQ(refused("ABCD 3*2^$a+1 [10]\nABCD $a*2^10+1\n"), bad + "2" + form);
  EXPECT_EQ(refused("ABCD 3*5^$a+1 [10]\n"), bad + "1 holds a sequence of another base than 2!");
  EXPECT_EQ(refused("ABCD 3*2^$a+3 [10]\n"), bad + "1 holds a sequence of another c than +1 or -1!");
  EXPECT_EQ(refused("ABCD 4*2^$a+1 [10]\n"), bad + "1 holds a k that is not an odd number from 1 to 1073741823!");
  EXPECT_EQ(refused("ABCD 3*2^$a-1 [1]\n"), bad + "1 holds an n that is not from 2 to 2147483647!");
  EXPECT_EQ(refused("ABCD 3*2^$a+1 [10]\n4\n0\n"), bad + "3 holds a difference that is not above 0!");
  EXPECT_EQ(refused("ABCD 3*2^$a+1 [10]\n-4\n"), bad + "2 holds a difference that is not above 0!");
  EXPECT_EQ(refused("ABCD 3*2^$a+1 [10]\nk=5\n"), bad + "2 is neither a difference nor an ABCD header!");
  EXPECT_EQ(refused("ABCD 3*2^$a+1 [2147483640]\n10\n"), bad + "2 gives an n beyond 2147483647!");
}

TEST(sequence_table, n_that_do_not_rise_are_rejected_naming_k_and_n) {
  const std::string head = "1\n2\n1000\nk=7\n";
  const std::string suffix = ", which is not above the previous n!";
  EXPECT_EQ(rejection(head + "100\n100\n"), "The file 'Vek.dat' is invalid - for k=7, there is n=100" + suffix);
  EXPECT_EQ(rejection(head + "100\n+0\n"), "The file 'Vek.dat' is invalid - for k=7, there is n=100" + suffix);
  EXPECT_EQ(rejection(head + "100\n90\n"), "The file 'Vek.dat' is invalid - for k=7, there is n=90" + suffix);
  EXPECT_EQ(rejection(head + "100\n+-5\n"), "The file 'Vek.dat' is invalid - for k=7, there is n=95" + suffix);
  EXPECT_EQ(rejection(head + "+0\n"), "The file 'Vek.dat' is invalid - for k=7, there is n=0" + suffix);
  EXPECT_EQ(rejection(head + "100\n-5\n"), "The file 'Vek.dat' is invalid - for k=7, there is n=-5" + suffix);
}

TEST(sequence_table, lines_reading_as_zero_inside_a_block_are_skipped) {
  const sequence_table plain = build("2\n2\n1000\nk=3\n100\n+6\n+12\nk=5\n10\n");
  const sequence_table noisy = build("2\n2\n1000\nk=3\n\n100\nnote\n\n+6\n0\n  \r\n+12\n\nk=5\n10\n\n");
  EXPECT_EQ(entries(noisy), entries(plain));
  EXPECT_EQ(set_bits(noisy, 0), set_bits(plain, 0));
  // A blank line before the second n must not make that n the first again.
  EXPECT_EQ(entries(build("1\n2\n1000\nk=3\n100\n\n+6\n")), (std::vector<entry>{{3, 2, 6}}));
}

TEST(sequence_table, k_the_engine_cannot_take_is_rejected_naming_it) {
  const std::string head = "1\n2\n100\n";
  const auto message = [](const char* k) {
    return std::string("The file 'Vek.dat' is invalid - k=") + k + " is not an odd number from 1 to 1073741823!";
  };
  EXPECT_EQ(rejection(head + "k=4\n5\n"), message("4"));
  EXPECT_EQ(rejection(head + "k=-5\n5\n"), message("-5"));
  EXPECT_EQ(rejection(head + "k=1073741824\n5\n"), message("1073741824"));
  EXPECT_EQ(rejection(head + "k=2147483647\n5\n"), message("2147483647"));
  EXPECT_EQ(entries(build(head + "k=1073741823\n5\n")), (std::vector<entry>{{1073741823, 3, 907200}}));
  EXPECT_EQ(entries(build(head + "k=1\n5\n")), (std::vector<entry>{{1, 3, 907200}}));
  EXPECT_EQ(entries(build(head + "k=9\n5\n")), (std::vector<entry>{{9, 3, 907200}}));
  // A negative number where a k may stand announces that k.
  EXPECT_EQ(entries(build(head + "-9\n5\n")), (std::vector<entry>{{9, 3, 907200}}));
}

TEST(sequence_table, numbers_beyond_32_bits_are_rejected) {
  const auto message = [](int line) {
    return "The file 'Vek.dat' is invalid - the number on line " + std::to_string(line) + " does not fit 32 bits!";
  };
  EXPECT_EQ(rejection("4294967297\n2\n100\nk=3\n"), message(1));
  EXPECT_EQ(rejection("1\n2\n4294967298\nk=3\n"), message(3));
  EXPECT_EQ(rejection("1\n2\n100\nk=4294967299\n"), message(4));
  EXPECT_EQ(rejection("1\n2\n100\nk=3\n5\n\n99999999999999999999999\n"), message(7));
  EXPECT_EQ(rejection("1\n2\n100\nk=3\n5\n+2147483645\n"), message(6));
}

TEST(sequence_table, lines_across_read_blocks_and_a_last_line_without_newline) {
  // About 200 KB: block ends fall inside lines, and one blank line is longer
  // than a block. The n's and their bitmap are known without the reader.
  std::string text = "1\n2\n300000\nk=3\n";
  std::vector<int64_t> expected;
  for (int64_t n = 4; n < 200000; n += 8) {
    text += std::to_string(n) + (n == 100004 ? "\n" + std::string(100000, ' ') + "\n" : "\n");
    expected.push_back(n - 2);
  }
  text += "200004";
  expected.push_back(200002);
  const sequence_table job = build(text, {});
  ASSERT_GE(job.count, 1);
  EXPECT_EQ(set_bits(job, 0), expected);
  EXPECT_EQ(job.step[0] % 8, 0);
}

TEST(sequence_table, huge_count_is_found_short_without_allocating_for_it) {
  EXPECT_EQ(rejection("2000000000\n2\n100\nk=3\n5\n"), "The file 'Vek.dat' is invalid - insufficient k's!");
}

TEST(sequence_table, bitmaps_beyond_memory_are_refused_before_they_are_made) {
  // Window of 320 exponents: 11 words, 44 bytes per k; room for two k's.
  const std::string two = "2\n2\n321\nk=3\n5\nk=5\n7\n";
  const std::string three = "3\n2\n321\nk=3\n5\nk=5\n7\nk=7\n9\n";
  std::istringstream fits(two);
  EXPECT_EQ(read_sequence_table(fits, 88).count, 2);
  std::istringstream too_many(three);
  try {
    read_sequence_table(too_many, 88);
    ADD_FAILURE() << "a third bitmap beyond the memory was made";
  } catch (const fatal_error& e) {
    EXPECT_EQ(e.message, "There is not enough memory for the k's of 'Vek.dat'!");
  }
}

TEST(sequence_table, long_lines_are_read_whole) {
  // Cut at 1023 characters, the tail "7" would become an n below 100.
  const std::string long_line = "100" + std::string(1100, ' ') + "7\n";
  const sequence_table job = build("1\n2\n1000\nk=3\n" + long_line + "+6\n");
  EXPECT_EQ(entries(job), (std::vector<entry>{{3, 2, 6}}));
  EXPECT_EQ(rejection(std::string(1500, ' ') + "1" + std::string(1500, 'x') + "\n1\n5\n"),
            "The file 'Vek.dat' is invalid - bad range of n on lines 2 and 3!");
}

TEST(sequence_table, crlf_lines_read_like_lf_lines) {
  const sequence_table lf = build("2\n2\n1000\nk=4847\n2\n+1\n122\nk=3\n100\n+6\n");
  const sequence_table crlf = build("2\r\n2\r\n1000\r\nk=4847\r\n2\r\n+1\r\n122\r\nk=3\r\n100\r\n+6\r\n");
  EXPECT_EQ(entries(crlf), entries(lf));
  for (int32_t i = 0; i < lf.count; ++i) EXPECT_EQ(set_bits(crlf, i), set_bits(lf, i));
}

// Random files, written with absolute and relative lines and stray blank
// lines, against a reference table built from the n's themselves.
TEST(sequence_table, random_files_match_a_reference) {
  const uint32_t seed = 20240607;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const int32_t table_k[] = {4847, 5359, 10223, 19249, 21181, 22699, 24737, 27653, 28433, 33661, 55459, 67607};
  const int32_t table_period[] = {120, 120, 96, 720, 264, 360, 120, 144, 360, 360, 180, 360};

  for (int round = 0; round < 200; ++round) {
    const int32_t nmin = 2 + static_cast<int32_t>(rng() % 50);
    const int32_t nmax = nmin + static_cast<int32_t>(rng() % 3000);
    const int ks = 1 + static_cast<int>(rng() % 6);
    std::ostringstream text;
    text << ks << "\n" << nmin << "\n" << nmax << "\n";
    struct expected_k {
      int32_t k, period;
      std::vector<int32_t> n;
    };
    std::vector<expected_k> expected;
    for (int j = 0; j < ks; ++j) {
      expected_k e;
      const size_t pick = rng() % 24;
      e.k = pick < 12 ? table_k[pick] : static_cast<int32_t>(2 * (rng() % 500000) + 1);
      e.period = pick < 12 ? table_period[pick] : 1;
      if (pick >= 12 && std::find(std::begin(table_k), std::end(table_k), e.k) != std::end(table_k)) e.k += 2;
      // Few n's in one class, or many spread out, with a common stride.
      const int32_t stride = 1 + static_cast<int32_t>(rng() % 400);
      for (int32_t n = nmin + static_cast<int32_t>(rng() % 40); n <= nmax; n += stride * (1 + static_cast<int32_t>(rng() % 3)))
        if (rng() % 3 != 0) e.n.push_back(n);
      text << "k=" << e.k << "\n";
      int32_t previous = 0;
      for (int32_t n : e.n) {
        if (rng() % 5 == 0) text << "\n";
        if (previous != 0 && rng() % 2) text << "+" << n - previous << "\n";
        else text << n << "\n";
        previous = n;
      }
      expected.push_back(e);
    }
    const sequence_table job = build(text.str());

    size_t i = 0;
    for (const expected_k& e : expected) {
      ASSERT_LT(i, static_cast<size_t>(job.count));
      std::set<int32_t> classes;
      int32_t gcd = 907200;
      for (size_t m = 0; m < e.n.size(); ++m) {
        classes.insert((e.n[m] - nmin) % e.period);
        if (m > 0) gcd = std::gcd(gcd, e.n[m] - e.n[m - 1]);
      }
      // A k outside the table may be split by the cost rule: into the
      // classes its n's occupy modulo a multiple of the gcd dividing 720.
      const int32_t period = e.period == 1 && classes.size() == 1 && job.step[i] != gcd ? job.step[i] : e.period;
      if (period != e.period) {
        EXPECT_TRUE(period % gcd == 0 && 720 % period == 0) << "k=" << e.k << " period " << period;
        classes.clear();
        for (const int32_t n : e.n) classes.insert((n - nmin) % period);
      }
      std::vector<entry> want;
      if (e.n.empty()) want.push_back({e.k, 0, 1});
      else if (classes.size() == 1 && period == e.period) want.push_back({e.k, (e.n.back() - nmin) % gcd, gcd});
      else
        for (int32_t c : classes) want.push_back({e.k, c, period});

      std::vector<int64_t> want_bits;
      for (int32_t n : e.n) want_bits.push_back(n - nmin);
      for (const entry& w : want) {
        ASSERT_LT(i, static_cast<size_t>(job.count));
        EXPECT_EQ((entry{job.k[i], job.residue[i], job.step[i]}), w) << "round " << round;
        EXPECT_EQ(job.bitmap[i], job.bitmap[i - (&w - want.data())]);
        EXPECT_EQ(set_bits(job, static_cast<int32_t>(i)), want_bits);
        ++i;
      }
    }
    EXPECT_EQ(static_cast<size_t>(job.count), i);
  }
}

}  // namespace
}  // namespace veksieve
