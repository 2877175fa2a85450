// Measures the per-operation costs of the search model (common/config.hpp):
// the engine sieves crafted sequence sets over primes near 10^12, one thread,
// and a least-squares fit of the seconds per prime against the model's
// expected operations gives nanoseconds per table entry, walk step, searched
// sequence, power-residue test and group. Prints the lines for config.hpp.
//
//   stride_calibration            (VEKSIEVE_BENCH_RUNS=3 VEKSIEVE_CALIBRATION_PRIMES=12000)
#include <algorithm>
#include <array>
#include <ctime>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <primesieve.hpp>

#include "engine/search_cost_model.hpp"
#include "engine/sieve_engine.hpp"
#include "engine/stride_sizing.hpp"

namespace veksieve {
namespace {

constexpr int unknowns = 6;  // per prime, table entry, walk step, searched sequence, residue test, group

struct crafted {
  std::string name;
  int32_t nmin, nmax;
  std::vector<int32_t> k, residue, step;
  double alpha;

  sequence_set view() const { return {nmin, nmax, k, residue, step}; }
  // A k's candidates keep one parity unless 3 divides k: even n for k = 1 (mod 3).
  bool fits(int32_t k_value, int64_t n) const { return k_value % 3 == 0 || (n % 2 == 0) == (k_value % 3 == 1); }
  void add_unsplit(int32_t k_value, int32_t step_value = 2) {
    k.push_back(k_value);
    residue.push_back(fits(k_value, nmin) ? 0 : 1);
    step.push_back(step_value);
  }
  void add_classes(int32_t k_value, int32_t period) {
    for (int32_t r = 0; r < period; ++r) {
      if (!fits(k_value, int64_t{nmin} + r)) continue;
      k.push_back(k_value);
      residue.push_back(r);
      step.push_back(period);
    }
  }
};

std::vector<crafted> crafted_sets() {
  std::vector<crafted> sets;
  const int32_t few_k[] = {1915, 7747, 16565, 20983, 21127, 24517, 27073, 28543};
  for (const double alpha : {0.003, 0.03, 0.3, 3.0, 30.0}) {
    crafted c{"8 k's, step 2, R 2e6", 100000, 2100000, {}, {}, {}, alpha};
    for (const int32_t k : few_k) c.add_unsplit(k);
    sets.push_back(c);
  }
  for (const double alpha : {0.1, 10.0}) {
    crafted c{"200 k's, step 2, R 2e4", 100000, 120000, {}, {}, {}, alpha};
    for (int32_t k = 5; c.k.size() < 200; k += 2)
      if (k % 3 != 0) c.add_unsplit(k);
    sets.push_back(c);
  }
  for (const int32_t step : {2, 4}) {
    crafted c{"200 k's of 3, step " + std::to_string(step) + ", R 2e4", 100000, 120000, {}, {}, {}, 0.1};
    for (int32_t k = 3; c.k.size() < 200; k += 6) c.add_unsplit(k, step);
    sets.push_back(c);
  }
  for (const double alpha : {0.01, 10.0}) {
    crafted c{"4 k's in 360 classes of 720", 100000, alpha < 1 ? 114400 : 1540000, {}, {}, {}, alpha};
    for (const int32_t k : {1915, 7747, 16565, 20983}) c.add_classes(k, 720);
    sets.push_back(c);
  }
  crafted c{"4 k's of 3 in 720 classes of 720", 100000, 114400, {}, {}, {}, 0.01};
  for (const int32_t k : {27, 33, 39, 51}) c.add_classes(k, 720);
  sets.push_back(c);
  crafted d{"40 k's in 6 classes of 12", 100000, 400000, {}, {}, {}, 0.3};
  for (int32_t k = 1915; d.k.size() < 240; k += 2)
    if (k % 3 != 0) d.add_classes(k, 12);
  sets.push_back(d);
  return sets;
}

double seconds_per_prime(const crafted& c, int64_t pmin, int64_t pmax, int64_t primes, int runs) {
  engine_callbacks callbacks;
  callbacks.report_factor = [](void*, uint32_t, uint32_t, int64_t) {};
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    // Thread CPU time varies far less than the wall clock on a shared machine.
    timespec start{}, end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    sieve_engine(pmin, pmax, c.view(), callbacks, c.alpha);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    times.push_back(double(end.tv_sec - start.tv_sec) + 1e-9 * double(end.tv_nsec - start.tv_nsec));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2] / double(primes);
}

// Least squares by the normal equations, rows weighted by 1 / measured time
// so that the fit minimises relative errors.
std::array<double, unknowns> fit(const std::vector<std::array<double, unknowns>>& rows, const std::vector<double>& y) {
  double a[unknowns][unknowns + 1] = {};
  for (size_t r = 0; r < rows.size(); ++r) {
    const double w = 1 / (y[r] * y[r]);
    for (int i = 0; i < unknowns; ++i) {
      for (int j = 0; j < unknowns; ++j) a[i][j] += w * rows[r][i] * rows[r][j];
      a[i][unknowns] += w * rows[r][i] * y[r];
    }
  }
  for (int col = 0; col < unknowns; ++col) {
    int pivot = col;
    for (int r = col + 1; r < unknowns; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    for (int j = 0; j <= unknowns; ++j) std::swap(a[col][j], a[pivot][j]);
    for (int r = 0; r < unknowns; ++r) {
      if (r == col || a[col][col] == 0) continue;
      const double f = a[r][col] / a[col][col];
      for (int j = col; j <= unknowns; ++j) a[r][j] -= f * a[col][j];
    }
  }
  std::array<double, unknowns> x{};
  for (int i = 0; i < unknowns; ++i) x[i] = a[i][i] == 0 ? 0 : a[i][unknowns] / a[i][i];
  return x;
}

}  // namespace
}  // namespace veksieve

int main() {
  using namespace veksieve;
  const char* runs_text = std::getenv("VEKSIEVE_BENCH_RUNS");
  const char* primes_text = std::getenv("VEKSIEVE_CALIBRATION_PRIMES");
  const int runs = std::max(1, runs_text ? std::atoi(runs_text) : 3);
  const int64_t wanted = std::max(1000, primes_text ? std::atoi(primes_text) : 12000);
  // About one number in 27.6 is prime near 10^12.
  const int64_t pmin = 1000000000000, pmax = pmin + wanted * 28;
  const auto primes = static_cast<int64_t>(primesieve::count_primes(uint64_t(pmin) + 1, uint64_t(pmax)));

  std::vector<std::array<double, unknowns>> rows;
  std::vector<double> measured;
  const std::vector<crafted> sets = crafted_sets();
  for (const crafted& c : sets) {
    const stride_sizing sizing = plan_stride_search(c.view(), c.alpha);
    if (!sizing.ok()) {
      std::printf("%s: %s\n", c.name.c_str(), sizing.refusal.c_str());
      return 1;
    }
    const expected_work w = search_cost_model().expected_work_of(c.view(), sizing.stride, sizing.table_length);
    rows.push_back({1.0, w.table_entries, w.walk_steps, w.searched_sequences, w.residue_tests, w.groups});
    measured.push_back(seconds_per_prime(c, pmin, pmax, primes, runs) * 1e9);
    std::printf("%-34s alpha %-6g M %-6u entries %-7.0f walk %-8.0f searched %-7.1f tests %-7.1f %9.0f ns/prime\n",
                c.name.c_str(), c.alpha, sizing.stride, w.table_entries, w.walk_steps, w.searched_sequences,
                w.residue_tests, measured.back());
  }
  auto x = fit(rows, measured);
  std::printf("\nfit over %lld primes above 10^12, median of %d runs (per prime: %.0f ns fixed)\n",
              static_cast<long long>(primes), runs, x[0]);
  for (size_t r = 0; r < rows.size(); ++r) {
    double model = 0;
    for (int i = 0; i < unknowns; ++i) model += x[i] * rows[r][i];
    std::printf("  %-34s alpha %-6g measured %9.0f  fitted %9.0f ns/prime (%+.1f%%)\n", sets[r].name.c_str(),
                sets[r].alpha, measured[r], model, 100 * (model / measured[r] - 1));
  }
  // A cost the fit puts below 0 is lost in the others; the model takes 0.
  for (double& c : x) c = std::max(c, 0.0);
  std::printf("\nconstexpr double cost_table_entry_ns = %.3g;\n", x[1]);
  std::printf("constexpr double cost_walk_step_ns = %.3g;\n", x[2]);
  std::printf("constexpr double cost_searched_sequence_ns = %.3g;\n", x[3]);
  std::printf("constexpr double cost_residue_test_ns = %.3g;\n", x[4]);
  std::printf("constexpr double cost_group_ns = %.3g;\n", x[5]);
  return 0;
}
