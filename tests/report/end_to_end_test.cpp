// The whole program on small ranges, run as a process: every factor line in
// the status file and on the console is checked against a reference computed
// here (primesieve's primes, k*2^n+1 mod p by doubling over the window), and
// interrupted runs must resume to exactly the same factors.
#include <gtest/gtest.h>
#include <primesieve.hpp>

#include <algorithm>
#include <cinttypes>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/program_process.hpp"
#include "test_support.hpp"

namespace veksieve {
namespace {

using testing::read_file;
using testing::write_file;

struct factor {
  int64_t p;
  int32_t k;
  int32_t n;
  int32_t c = 1;
  auto operator<=>(const factor&) const = default;
};

struct sequence_file {
  int32_t nmin;
  int32_t nmax;
  std::vector<std::pair<int32_t, std::vector<int32_t>>> ks;
  std::vector<int32_t> c = {};  // each k's k*2^n+c; empty: +1 for all

  int32_t c_of(size_t i) const { return c.empty() ? 1 : c[i]; }
  // The same as ABCD, written here by hand.
  std::string abcd_text(const std::string& sieved_to = "") const {
    std::ostringstream out;
    for (size_t i = 0; i < ks.size(); ++i) {
      const std::vector<int32_t>& ns = ks[i].second;
      for (size_t j = 0; j < ns.size(); ++j) {
        if (j == 0) {
          out << "ABCD " << ks[i].first << "*2^$a" << (c_of(i) < 0 ? "-1" : "+1") << " [" << ns[0] << "]";
          out << (i == 0 && !sieved_to.empty() ? " // Sieved to " + sieved_to : "") << "\n";
        }
        else out << ns[j] - ns[j - 1] << "\n";
      }
    }
    return out.str();
  }

  std::string text() const {
    std::ostringstream out;
    out << ks.size() << "\n" << nmin << "\n" << nmax << "\n";
    for (const auto& [k, ns] : ks) {
      out << "k=" << k << "\n";
      for (int32_t n : ns) out << n << "\n";
    }
    return out.str();
  }
};

// Four k's over a window of 400 exponents, each keeping only the n at which
// 3 does not divide k*2^n+1, as every real sequence file does: all of them,
// every second one, every third one, and one k of the period table whose n
// fall in two classes of 120, so that it is split into two sequences sharing
// one bitmap.
sequence_file test_sequences() {
  sequence_file file{10000, 10399, {}};
  auto free_of_3 = [](int32_t k, int32_t n) { return (k % 3 * (n % 2 == 0 ? 1 : 2) + 1) % 3 != 0; };
  std::vector<int32_t> all, every_second, every_third, split;
  for (int32_t n = 10000; n <= 10399; ++n) {
    if (free_of_3(1013, n)) all.push_back(n);
    if (free_of_3(2293, n) && n % 4 == 0) every_second.push_back(n);
    if (free_of_3(3061, n) && n % 6 == 0) every_third.push_back(n);
    if (free_of_3(4847, n) && ((n - 10000) % 120 == 1 || (n - 10000) % 120 == 3)) split.push_back(n);
  }
  file.ks = {{1013, all}, {2293, every_second}, {3061, every_third}, {4847, split}};
  return file;
}

// Every factor p | k*2^n+c with pmin < p <= pmax of a candidate n that no
// smaller prime struck first, in ascending order of p; `left`, when given,
// receives the candidates that remain.
std::vector<factor> reference_factors(const sequence_file& file, int64_t pmin, int64_t pmax,
                                      sequence_file* left = nullptr) {
  std::vector<std::set<int32_t>> alive;
  for (const auto& entry : file.ks) alive.emplace_back(entry.second.begin(), entry.second.end());
  std::vector<factor> found;
  primesieve::iterator primes(static_cast<uint64_t>(std::max<int64_t>(pmin + 1, 3)));
  for (auto p = static_cast<int64_t>(primes.next_prime()); p <= pmax; p = static_cast<int64_t>(primes.next_prime())) {
    const auto modulus = static_cast<uint64_t>(p);
    uint64_t power = 1;  // 2^nmin by square-and-multiply, then doubling across the window
    unsigned __int128 base = 2;
    for (auto e = static_cast<uint32_t>(file.nmin); e != 0; e >>= 1, base = base * base % modulus) {
      if (e & 1) power = static_cast<uint64_t>(power * base % modulus);
    }
    for (std::size_t i = 0; i < file.ks.size(); ++i) {
      const int32_t k = file.ks[i].first;
      const int32_t c = file.c_of(i);
      const uint64_t target = c < 0 ? 1 : modulus - 1;
      auto x = static_cast<uint64_t>(static_cast<unsigned __int128>(power) * static_cast<uint64_t>(k) % modulus);
      for (int32_t n = file.nmin; n <= file.nmax; ++n) {
        if (x == target && alive[i].erase(n)) found.push_back({p, k, n, c});
        x *= 2;
        if (x >= modulus) x -= modulus;
      }
    }
  }
  if (left != nullptr) {
    *left = file;
    for (std::size_t i = 0; i < file.ks.size(); ++i) left->ks[i].second.assign(alive[i].begin(), alive[i].end());
  }
  return found;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool parse_factor(const std::string& line, factor& f) {
  long long p;
  int k, n, c, used = 0;
  if (std::sscanf(line.c_str(), "%lld | %d*2^%d%d%n", &p, &k, &n, &c, &used) != 4 ||
      used != static_cast<int>(line.size()) || (c != 1 && c != -1) || line[line.size() - 2] != (c < 0 ? '-' : '+')) {
    return false;
  }
  f = {p, k, n, c};
  return true;
}

std::vector<factor> factor_lines(const std::string& text) {
  std::vector<factor> factors;
  factor f;
  for (const std::string& line : split_lines(text)) {
    if (parse_factor(line, f)) factors.push_back(f);
  }
  return factors;
}

// Within one prime the engine's order is its own; across primes it ascends.
void expect_same_factors(std::vector<factor> got, std::vector<factor> expected) {
  EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), [](const factor& a, const factor& b) { return a.p < b.p; }));
  std::sort(got.begin(), got.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(got, expected);
}

// The primes at which bit 18 changes, measured from pmin.
std::vector<int64_t> expected_status_primes(int64_t pmin, int64_t pmax) {
  std::vector<int64_t> status;
  int64_t reference = pmin & (int64_t{1} << 18);
  primesieve::iterator primes(static_cast<uint64_t>(pmin + 1));
  for (auto p = static_cast<int64_t>(primes.next_prime()); p <= pmax; p = static_cast<int64_t>(primes.next_prime())) {
    if ((p & (int64_t{1} << 18)) != reference) {
      reference = p & (int64_t{1} << 18);
      status.push_back(p);
    }
  }
  return status;
}

std::vector<int64_t> status_primes(const std::string& console) {
  std::vector<int64_t> primes;
  for (const std::string& line : split_lines(console)) {
    if (line.rfind("Sieved up to ", 0) == 0) primes.push_back(std::stoll(line.substr(13)));
  }
  return primes;
}

struct end_to_end : ::testing::Test {
  testing::scratch_dir dir;
  sequence_file sequences = test_sequences();
  std::string status_path = dir.file("VekStatus.dat");

  void SetUp() override { write_file(dir.file("Vek.dat"), sequences.text()); }
};

TEST_F(end_to_end, a_range_is_sieved_reported_saved_and_marked_done) {
  write_file(status_path, "pmax=3000000\npmin=1000000\n");
  const auto end = testing::run_program(dir.path().string(), {});
  EXPECT_EQ(end.exit_status, 0) << end.output;

  const std::vector<factor> expected = reference_factors(sequences, 1000000, 3000000);
  ASSERT_GE(expected.size(), 10u);
  const std::string file = read_file(status_path);
  const auto file_lines = split_lines(file);
  ASSERT_EQ(file_lines.size(), expected.size() + 3) << file;
  EXPECT_EQ(file_lines.front(), "pmax=3000000");
  EXPECT_EQ(file_lines[1], "pmin=1000000");
  EXPECT_EQ(file_lines.back(), "Done");
  expect_same_factors(factor_lines(file), expected);

  // The console says what it resumes, then shows the same factor lines in
  // the same order, a status line each time the prime enters a new block of
  // 2^18, and "Done" last.
  EXPECT_EQ(factor_lines(end.output), factor_lines(file));
  EXPECT_EQ(status_primes(end.output), expected_status_primes(1000000, 3000000));
  // Between what was read and what the run found.
  const auto console = split_lines(end.output);
  ASSERT_GE(console.size(), 4u);
  EXPECT_EQ(console[0].rfind("Read 'Vek.dat': 4 k's with ", 0), 0u) << console[0];
  EXPECT_EQ(console[1],
            "Resuming 'VekStatus.dat': the range from p=1000000 to 3000000, sieved up to p=1000000 (0.0%), "
            "0 factor lines saved");
  EXPECT_EQ(console.size(), expected.size() + status_primes(end.output).size() + 4);
  EXPECT_EQ(console[console.size() - 2].rfind("This run found " + std::to_string(expected.size()) + " factors in ", 0),
            0u);
  EXPECT_EQ(console.back(), "Done");

  // The next start asks about the complete results and, told no, leaves them.
  const auto again = testing::run_program(dir.path().string(), {}, "n\n");
  EXPECT_NE(again.exit_status, 0);
  EXPECT_NE(again.output.find("\nThere is a complete set of results in the file 'VekStatus.dat'"), std::string::npos)
      << again.output;
  EXPECT_EQ(read_file(status_path), file);
}

TEST_F(end_to_end, a_later_checkpoint_resumes_above_it) {
  const std::string before = "pmax=3000000\npmin=1000000\n1000003 | 1013*2^10001+1\npmin=2000000\n";
  write_file(status_path, before);
  const auto end = testing::run_program(dir.path().string(), {"-o=VekStatus.dat"});
  EXPECT_EQ(end.exit_status, 0) << end.output;
  const std::string file = read_file(status_path);
  ASSERT_EQ(file.rfind(before, 0), 0u);
  expect_same_factors(factor_lines(file.substr(before.size())), reference_factors(sequences, 2000000, 3000000));
  EXPECT_EQ(status_primes(end.output), expected_status_primes(2000000, 3000000));
}

TEST_F(end_to_end, a_run_from_zero_shows_a_thinned_selection_and_saves_no_factor) {
  write_file(status_path, "pmax=700000\n");
  const auto end = testing::run_program(dir.path().string(), {});
  EXPECT_EQ(end.exit_status, 0) << end.output;
  EXPECT_EQ(read_file(status_path), "pmax=700000\nDone\n");

  const std::vector<factor> all = reference_factors(sequences, 0, 700000);
  std::vector<int64_t> shown_primes;
  int64_t last_shown = -10000;
  for (const factor& f : all) {
    if (f.p - last_shown >= 100000) shown_primes.push_back(last_shown = f.p);
  }
  const std::vector<factor> shown = factor_lines(end.output);
  ASSERT_EQ(shown.size(), shown_primes.size()) << end.output;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].p, shown_primes[i]);
    EXPECT_NE(std::find(all.begin(), all.end(), shown[i]), all.end()) << shown[i].p;
  }
  EXPECT_EQ(status_primes(end.output), expected_status_primes(0, 700000));
  EXPECT_EQ(split_lines(end.output).back(), "Done");
}

TEST_F(end_to_end, a_range_up_to_2_to_the_62_is_sieved_to_its_end) {
  // The last prime below 2^62 is the engine's last; 2^62 itself is the
  // largest pmax a file may hold, so such a range is done.
  constexpr int64_t limit = (int64_t{1} << 62) - 1;
  write_file(status_path, "pmax=4611686018427387904\npmin=4611686018427287904\n");
  const auto end = testing::run_program(dir.path().string(), {"-t=1"});
  EXPECT_EQ(end.exit_status, 0) << end.output;
  EXPECT_EQ(split_lines(end.output).back(), "Done");
  const std::string file = read_file(status_path);
  EXPECT_EQ(split_lines(file).back(), "Done");
  expect_same_factors(factor_lines(file), reference_factors(sequences, 4611686018427287904, limit));
}

// Waits for the `count`-th status line, then sends `sig`; a run that ends
// first is left to end (the callers check its exit status).
testing::program_end interrupt_after_status_lines(testing::program_process& process, int sig, int count) {
  std::size_t from = 0;
  for (int i = 0; i < count; ++i) {
    if (!process.wait_for("Sieved up to", from)) break;
    from = process.output().find("Sieved up to", from) + 1;
  }
  process.signal(sig);
  return process.finish();
}

int64_t last_checkpoint(const std::string& file) {
  int64_t pmin = -1;
  for (const std::string& line : split_lines(file)) {
    if (line.rfind("pmin=", 0) == 0) pmin = std::stoll(line.substr(5));
  }
  return pmin;
}

TEST_F(end_to_end, a_factors_file_holds_every_factor_once_across_interruptions) {
  constexpr int64_t pmin = 1000000, pmax = 12000000;
  write_file(status_path, "pmax=12000000\npmin=1000000\n");
  std::vector<factor> expected = reference_factors(sequences, pmin, pmax);
  ASSERT_GE(expected.size(), 10u);
  // A line the file already holds is not written again.
  const factor& last = expected.back();
  write_file(dir.file("factors.txt"), std::to_string(last.p) + " | " + std::to_string(last.k) + "*2^" +
                                          std::to_string(last.n) + "+1\n");

  const std::vector<std::string> args = {"--factors=factors.txt"};
  testing::program_process first(dir.path().string(), args, "", {{"VEKSIEVE_CHECKPOINT_SECONDS", "0"}});
  EXPECT_EQ(interrupt_after_status_lines(first, SIGTERM, 3).exit_status, 143);
  EXPECT_EQ(testing::run_program(dir.path().string(), args).exit_status, 0);

  std::vector<factor> saved = factor_lines(read_file(dir.file("factors.txt")));
  std::sort(saved.begin(), saved.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(saved, expected);
}

TEST_F(end_to_end, a_log_thinned_by_seconds_keeps_every_factor_line) {
  write_file(status_path, "pmax=12000000\npmin=1000000\n");
  const auto thinned = testing::run_program(dir.path().string(), {"-s=3600"});
  EXPECT_EQ(thinned.exit_status, 0);
  EXPECT_EQ(status_primes(thinned.output).size(), 1u) << thinned.output;
  expect_same_factors(factor_lines(thinned.output), reference_factors(sequences, 1000000, 12000000));
}

TEST_F(end_to_end, a_run_stops_where_sieving_stops_paying_and_resumes_there) {
  // No factor in a window of a second: the run ends as SIGTERM would end it.
  write_file(status_path, "pmax=900000000000\npmin=100000000000\n");
  const std::vector<std::pair<std::string, std::string>> short_hour = {{"VEKSIEVE_PAYOFF_WINDOW_SECONDS", "1"}};
  const auto end = testing::run_program(dir.path().string(), {"-r=60"}, "", short_hour);
  EXPECT_EQ(end.exit_status, 0) << end.output;
  const auto console = split_lines(end.output);
  ASSERT_GE(console.size(), 3u);
  EXPECT_NE(console[console.size() - 3].find("; no factor found"), std::string::npos) << end.output;
  EXPECT_EQ(console[console.size() - 2].rfind("Sieving no longer pays: ", 0), 0u) << end.output;
  const int64_t resume = last_checkpoint(read_file(status_path));
  EXPECT_GT(resume, 100000000000);
  EXPECT_EQ(console.back(), "Interrupted before p=" + std::to_string(resume + 1) +
                                ": every smaller prime of the range is sieved");
}

TEST_F(end_to_end, interrupted_runs_checkpoint_where_they_stopped_and_resume_to_the_same_factors) {
  constexpr int64_t pmin = 1000000, pmax = 12000000;
  write_file(status_path, "pmax=12000000\npmin=1000000\n");

  testing::program_process first(dir.path().string(), {}, "");
  const auto stopped = interrupt_after_status_lines(first, SIGINT, 1);
  EXPECT_EQ(stopped.exit_status, 130) << stopped.output;
  const int64_t resume_1 = last_checkpoint(read_file(status_path));
  EXPECT_GT(resume_1, pmin);
  EXPECT_EQ(split_lines(stopped.output).back(),
            "Interrupted before p=" + std::to_string(resume_1 + 1) + ": every smaller prime of the range is sieved");

  // Checkpoints every second from here: each names a prime less one.
  testing::program_process second(dir.path().string(), {}, "", {{"VEKSIEVE_CHECKPOINT_SECONDS", "0"}});
  const auto stopped_again = interrupt_after_status_lines(second, SIGTERM, 8);
  EXPECT_EQ(stopped_again.exit_status, 143) << stopped_again.output;
  const std::string file = read_file(status_path);
  const int64_t resume_2 = last_checkpoint(file);
  EXPECT_GT(resume_2, resume_1);
  for (const std::string& line : split_lines(file)) {
    if (line.rfind("pmin=", 0) != 0 || line == "pmin=1000000") continue;
    primesieve::iterator next(static_cast<uint64_t>(std::stoll(line.substr(5))) + 1);
    EXPECT_EQ(next.next_prime(), static_cast<uint64_t>(std::stoll(line.substr(5))) + 1) << line;
  }

  const auto last = testing::run_program(dir.path().string(), {});
  EXPECT_EQ(last.exit_status, 0) << last.output;
  const std::string done = read_file(status_path);
  EXPECT_EQ(split_lines(done).back(), "Done");

  // The resumed runs strike what the file already names: each candidate is
  // reported once, by its smallest prime, as by one uninterrupted run.
  expect_same_factors(factor_lines(done), reference_factors(sequences, pmin, pmax));
}

// Runs the range of the status file in `directory` to its end, stopped by
// SIGINT and then by SIGTERM on the way. A run may finish before its signal
// comes; the status file must end the same either way.
void interrupt_twice_then_finish(const std::string& directory, const std::string& threads) {
  testing::program_process interrupted(directory, {threads}, "");
  const int first_status = interrupt_after_status_lines(interrupted, SIGINT, 1).exit_status;
  EXPECT_TRUE(first_status == 130 || first_status == 0) << first_status;
  if (first_status == 0) return;
  testing::program_process again(directory, {threads}, "", {{"VEKSIEVE_CHECKPOINT_SECONDS", "0"}});
  const int again_status = interrupt_after_status_lines(again, SIGTERM, 2).exit_status;
  EXPECT_TRUE(again_status == 143 || again_status == 0) << again_status;
  if (again_status == 0) return;
  EXPECT_EQ(testing::run_program(directory, {threads}).exit_status, 0);
}

TEST_F(end_to_end, a_range_near_10_to_the_16_resumes_to_the_reference_factors) {
  write_file(status_path, "pmax=10000000030000000\npmin=10000000000000000\n");
  interrupt_twice_then_finish(dir.path().string(), "-t=2");
  const std::string file = read_file(status_path);
  EXPECT_EQ(split_lines(file).back(), "Done");
  EXPECT_GE(std::count(file.begin(), file.end(), '='), 3) << file;  // a checkpoint besides the range
  expect_same_factors(factor_lines(file), reference_factors(sequences, 10000000000000000, 10000000030000000));
}

// The factor lines of a status file, as they stand.
std::vector<std::string> factor_texts(const std::string& file) {
  std::vector<std::string> lines;
  factor f;
  for (const std::string& line : split_lines(file)) {
    if (parse_factor(line, f)) lines.push_back(line);
  }
  return lines;
}

TEST_F(end_to_end, any_number_of_threads_writes_the_same_factor_lines_in_the_same_order) {
  const std::string range = "pmax=5000000\npmin=1000000\n";
  std::vector<std::string> first;
  for (const std::string threads : {"-t=1", "-t=2", "-t=7"}) {
    SCOPED_TRACE(threads);
    write_file(status_path, range);
    const auto whole = testing::run_program(dir.path().string(), {threads});
    EXPECT_EQ(whole.exit_status, 0) << whole.output;
    const std::string file = read_file(status_path);
    EXPECT_EQ(split_lines(file).back(), "Done");
    if (first.empty()) {
      first = factor_texts(file);
      expect_same_factors(factor_lines(file), reference_factors(sequences, 1000000, 5000000));
    }
    EXPECT_EQ(factor_texts(file), first);
    EXPECT_EQ(status_primes(whole.output), expected_status_primes(1000000, 5000000));

    // Interrupted, then resumed twice over, from the file's checkpoints.
    write_file(status_path, range);
    interrupt_twice_then_finish(dir.path().string(), threads);
    const std::string resumed_file = read_file(status_path);
    EXPECT_EQ(split_lines(resumed_file).back(), "Done");
    EXPECT_EQ(factor_texts(resumed_file), first);
  }
}

TEST_F(end_to_end, an_interrupted_run_without_a_status_file_writes_none) {
  // From 0 the run is console-only and keeps no file: nothing to resume.
  testing::program_process run(dir.path().string(), {"-t=2"}, "0\n1\ny\n");
  const auto stopped = interrupt_after_status_lines(run, SIGINT, 2);
  EXPECT_EQ(stopped.exit_status, 130) << stopped.output;
  EXPECT_FALSE(std::filesystem::exists(status_path));
  const std::string last = split_lines(stopped.output).back();
  EXPECT_EQ(last.rfind("Interrupted before p=", 0), 0u) << last;
  EXPECT_NE(last.find("a console-only run keeps no status file and does not resume"), std::string::npos) << last;
}

// Vek.dat copied to ABCD (after a first range's factors are removed) sieves
// a second range to the same factor lines as Vek.dat itself, and a file of
// both forms to the reference's; --remove-factored keeps ABCD as ABCD.
TEST_F(end_to_end, abcd_files_sieve_like_vek_dat_and_hold_both_forms) {
  const auto run = [&](const std::vector<std::string>& args) {
    const auto end = testing::run_program(dir.path().string(), args);
    EXPECT_EQ(end.exit_status, 0) << end.output;
    return end.output;
  };
  write_file(status_path, "pmax=2000000\npmin=1000000\n");
  run({});
  run({"--write-abcd=copy.abcd"});
  const std::string status = read_file(status_path);
  EXPECT_EQ(testing::run_program(dir.path().string(), {"--write-abcd=VekStatus.dat"}).exit_status, 6);
  EXPECT_EQ(read_file(status_path), status);
  run({"--remove-factored"});
  write_file(status_path, "pmax=3000000\npmin=2000000\n");
  write_file(dir.file("copy.dat"), "pmax=3000000\npmin=2000000\n");
  run({});
  EXPECT_NE(run({"-i=copy.abcd", "-o=copy.dat"}).find("Read 'copy.abcd': 4 k's"), std::string::npos);
  const std::vector<std::string> lines = factor_texts(read_file(status_path));
  EXPECT_GE(lines.size(), 10u);
  EXPECT_EQ(factor_texts(read_file(dir.file("copy.dat"))), lines);
  std::vector<factor> second;
  for (const factor& f : reference_factors(sequences, 1000000, 3000000)) {
    if (f.p > 2000000) second.push_back(f);
  }
  expect_same_factors(factor_lines(read_file(status_path)), second);

  // Each k in both forms, each form with its own n's free of 3.
  sequence_file both{10000, 10399, {}};
  for (const auto& [k, ns] : sequences.ks) {
    for (const int32_t c : {1, -1}) {
      std::vector<int32_t> free;
      for (int32_t n = 10000; n <= 10399; ++n)
        if ((k % 3 * (n % 2 == 0 ? 1 : 2) + c + 3) % 3 != 0 && (n % 3 != 0 || k != 3061)) free.push_back(n);
      both.ks.push_back({k, free});
      both.c.push_back(c);
    }
  }
  write_file(dir.file("both.abcd"), both.abcd_text("1000000"));
  write_file(dir.file("both.dat"), "pmax=3000000\npmin=1000000\n");
  run({"-i=both.abcd", "-o=both.dat"});
  sequence_file left{0, 0, {}};
  const std::vector<factor> expected = reference_factors(both, 1000000, 3000000, &left);
  EXPECT_GT(std::count_if(expected.begin(), expected.end(), [](const factor& f) { return f.c < 0; }), 10);
  expect_same_factors(factor_lines(read_file(dir.file("both.dat"))), expected);
  run({"-i=both.abcd", "-o=both.dat", "--remove-factored"});
  EXPECT_EQ(read_file(dir.file("both.abcd")), left.abcd_text("3000000"));
  EXPECT_EQ(read_file(dir.file("both.abcd.bak")), both.abcd_text("1000000"));
}

}  // namespace
}  // namespace veksieve
