// Sequence-file upkeep, run as the built program: the factors of a small file
// are found here by trial division, written as a status file, and removed;
// the new file, read back by the sieve's own reader, must hold the old
// table's candidates less exactly those. A line that does not verify stops
// everything before a file is touched.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "control/sequence_table.hpp"
#include "tests/support/program_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace veksieve {
namespace {

using testing::program_end;
using testing::temp_dir;

constexpr int bad_status_file = 5;

// Window [2, 300]; k=4847 splits into classes of 120; k=7 has no n at all.
constexpr const char* old_vek =
    "4\r\n2\r\n300\r\nk=3\r\n2\r\n+1\r\n5\r\n+3\r\n+12\r\n100\r\n+100\r\n+98\r\nk=4847\r\n10\r\n+120\r\n+11\r\n"
    "250\r\nk=7\r\nk=5\r\n3\r\n7\r\n+4\r\n+200\r\n";

sequence_table read_table(const std::string& text) {
  std::istringstream in(text);
  return read_sequence_table(in);
}

// The smallest odd prime below 1000 that properly divides k*2^n+1, or 0.
int64_t small_factor(int64_t k, int64_t n) {
  for (int64_t p = 3; p < 1000; p += 2) {
    bool prime = true;
    for (int64_t d = 3; d * d <= p; d += 2) prime = prime && p % d != 0;
    if (!prime) continue;
    int64_t value = k % p;
    for (int64_t i = 0; i < n; ++i) value = value * 2 % p;
    const bool number_itself = n < 40 && (k << n) + 1 == p;
    if ((value + 1) % p == 0 && !number_itself) return p;
  }
  return 0;
}

// Each storage bitmap's k, in file order.
std::vector<int32_t> k_of_each_bitmap(const sequence_table& job) {
  std::vector<int32_t> ks;
  for (size_t i = 0; i < job.k.size(); ++i)
    if (i == 0 || job.bitmap[i] != job.bitmap[i - 1]) ks.push_back(job.k[i]);
  return ks;
}

TEST(remove_factored, new_file_holds_the_old_candidates_less_the_factored_ones) {
  temp_dir dir;
  dir.write("Vek.dat", old_vek);
  sequence_table expected = read_table(old_vek);
  const std::vector<int32_t> ks = k_of_each_bitmap(expected);

  std::string status = "pmax=2000000000\r\npmin=1000000000\r\n";
  std::map<int32_t, std::pair<int, int>> counts;  // k: removed, left
  for (size_t e = 0; e < ks.size(); ++e) {
    std::vector<uint32_t>& bits = expected.bitmap_storage[e];
    for (int64_t b = 0; b <= 298; ++b) {
      if (!((bits[b / 32] >> (b % 32)) & 1)) continue;
      const int64_t p = small_factor(ks[e], b + 2);
      if (p == 0) {
        ++counts[ks[e]].second;
        continue;
      }
      status += std::to_string(p) + " | " + std::to_string(ks[e]) + "*2^" + std::to_string(b + 2) + "+1\n";
      bits[b / 32] &= ~(uint32_t{1} << (b % 32));
      ++counts[ks[e]].first;
    }
  }
  ASSERT_GT(counts[3].first, 2);
  ASSERT_GT(counts[3].second, 2);
  // A candidate named twice, one whose k is not in the file, one outside the window.
  const std::string first_factor = status.substr(status.find('\n', status.find("pmin")) + 1);
  status += first_factor.substr(0, first_factor.find('\n') + 1) + "5 | 9*2^4+1\n";
  int64_t n = 301;
  while (small_factor(3, n) == 0) ++n;
  status += std::to_string(small_factor(3, n)) + " | 3*2^" + std::to_string(n) + "+1\nDone\n";
  dir.write("VekStatus.dat", status);

  const program_end r = testing::run_program(dir.path(), {"--remove-factored"});
  EXPECT_EQ(r.exit_status, 0) << r.output;
  std::string summary;
  for (const int32_t k : ks)
    summary += "k=" + std::to_string(k) + ": " + std::to_string(counts[k].first) + " removed, " +
               std::to_string(counts[k].second) + " left\n";
  int removed = 0;
  for (const auto& [k, c] : counts) removed += c.first;
  summary += std::to_string(removed + 3) + " factor lines: " + std::to_string(removed) +
             " candidates removed, 1 already removed by an earlier line, 2 not in 'Vek.dat'.\n"
             "'Vek.dat' is rewritten; the old file is 'Vek.dat.bak'.\n";
  EXPECT_EQ(r.output, summary);
  EXPECT_EQ(dir.read("Vek.dat.bak"), old_vek);
  EXPECT_FALSE(dir.exists("Vek.dat.tmp"));

  const std::string new_text = dir.read("Vek.dat");
  const sequence_table got = read_table(new_text);
  EXPECT_EQ(got.nmin, 2);
  EXPECT_EQ(got.nmax, 300);
  EXPECT_EQ(k_of_each_bitmap(got), ks);
  EXPECT_EQ(got.bitmap_storage, expected.bitmap_storage);

  // The format: each k's first n absolute, the later ones "+d".
  std::istringstream lines(new_text);
  std::string line, previous;
  for (int i = 0; std::getline(lines, line); ++i, previous = line)
    if (i >= 3 && line.rfind("k=", 0) != 0) {
      EXPECT_EQ(line[0] == '+', previous.rfind("k=", 0) != 0) << line;
    }

  // Run again: nothing is left to remove and nothing is rewritten.
  const program_end again = testing::run_program(dir.path(), {"--remove-factored"});
  EXPECT_EQ(again.exit_status, 0);
  EXPECT_NE(again.output.find("Nothing to remove - 'Vek.dat' is left as it was.\n"), std::string::npos);
  EXPECT_EQ(dir.read("Vek.dat.bak"), old_vek);
  EXPECT_EQ(dir.read("Vek.dat"), new_text);
}

TEST(remove_factored, a_line_that_does_not_verify_stops_everything) {
  struct refused_case {
    const char* line;
    const char* message;
  };
  const refused_case cases[] = {
      {"7 | 3*2^5+1", "The file 'run.dat' is invalid - on line 4, 7 is no factor of 3*2^5+1!"},
      {"13 | 3*2^2+1", "The file 'run.dat' is invalid - on line 4, 13 is no factor of 3*2^2+1!"},  // the number itself
      {"1 | 3*2^5+1", "The file 'run.dat' is invalid - line 4 is no factor line!"},
      {"5 | 3*2", "The file 'run.dat' is invalid - line 4 is no factor line!"},
      {"99999999999999999999 | 3*2^2+1", "The file 'run.dat' is invalid - line 4 is no factor line!"},
  };
  for (const refused_case& c : cases) {
    temp_dir dir;
    dir.write("Vek.dat", old_vek);
    dir.write("run.dat", std::string("pmax=9\npmin=1\n5 | 3*2^3+1\n") + c.line + "\n7 | 3*2^4+1\n");
    const program_end r = testing::run_program(dir.path(), {"-o=run.dat", "--remove-factored"});
    EXPECT_EQ(r.output, c.message + std::string("\n"));
    EXPECT_EQ(r.exit_status, bad_status_file);
    EXPECT_EQ(dir.read("Vek.dat"), old_vek);
    EXPECT_FALSE(dir.exists("Vek.dat.bak"));
  }
}

}  // namespace
}  // namespace veksieve
