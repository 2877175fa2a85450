// The engine on a sequence file over fixed prime ranges near 10^12 and 10^14,
// with a factor callback that only counts. Prints primes per second and p per
// second (the prime's advance), medians of a few runs, beside the prime
// source alone over the same range (the floor the engine cannot beat). Times
// are the thread's CPU time.
//
//   engine_bench W1.vek.gz [W2.vek.gz ...]       (or VEKSIEVE_WORKLOADS=a:b:c)
//   VEKSIEVE_BENCH_WIDTH=2e8 VEKSIEVE_BENCH_RUNS=3 VEKSIEVE_ALPHA=2.5 (default: the modelled alpha)
//   VEKSIEVE_NO_SPLIT=1 (no k outside the period table split into classes)
#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/config.hpp"
#include "control/fatal_error.hpp"
#include "control/sequence_table.hpp"
#include "engine/search_cost_model.hpp"
#include "engine/sieve_engine.hpp"
#include "engine/stride_sizing.hpp"
#include "primes/prime_source.hpp"

namespace veksieve {
namespace {

double env_number(const char* name, double fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atof(value) : fallback;
}

// The text of a gzip-compressed (or plain) sequence file.
std::string read_workload(const std::string& path) {
  const std::string command = "zcat -f '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string text;
  char buffer[1 << 16];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  pclose(pipe);
  return text;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// CPU time of this thread: on a shared machine it varies far less than the
// wall clock, and the engine runs on this thread alone.
double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

template <class F>
double seconds(F&& f) {
  const double start = thread_seconds();
  f();
  return thread_seconds() - start;
}

struct counts {
  int64_t factors = 0;
};

void bench_range(const sequence_table& job, int64_t pmin, int64_t pmax, int runs, double alpha) {
  const auto count = static_cast<size_t>(job.count);
  const sequence_set sequences{job.nmin, job.nmax, {job.k.data(), count}, {job.residue.data(), count},
                               {job.step.data(), count}};
  counts tally;
  engine_callbacks callbacks;
  callbacks.context = &tally;
  callbacks.report_factor = [](void* c, uint32_t, uint32_t, int64_t) { ++static_cast<counts*>(c)->factors; };

  const stride_sizing sizing = plan_stride_search(sequences, alpha);
  if (!sizing.ok()) {
    std::printf("  %s\n", sizing.refusal.c_str());
    return;
  }
  search_counts work;
  // The prime source alone, which also counts the primes of the range.
  int64_t primes = 0;
  std::vector<double> source_times, engine_times;
  for (int run = 0; run < runs; ++run) {
    primes = 0;
    source_times.push_back(seconds([&] {
      auto source = std::make_unique<prime_source>(build_prime_tables());
      sieve_start(*source, pmin);
      while (next_prime(*source) <= pmax) ++primes;
    }));
    tally.factors = 0;
    engine_times.push_back(seconds([&] {
      range_engine engine(sequences, callbacks, sizing, nullptr,
                          std::make_shared<large_prime_windows>(1, pmin, pmax));
      engine.sieve(pmin, pmax, pmin);
      work = engine.counts();
    }));
  }
  const double engine_s = median(engine_times), source_s = median(source_times);
  const double width = static_cast<double>(pmax - pmin);
  std::printf("  p in (%.3g, +%.3g]: %lld primes, %lld solutions reported\n", double(pmin), width,
              static_cast<long long>(primes), static_cast<long long>(tally.factors));
  std::printf("    engine       %8.3f s  %12.0f primes/s  %14.0f p/s  %7.3f us/prime\n", engine_s,
              double(primes) / engine_s, width / engine_s, 1e6 * engine_s / double(primes));
  std::printf("    prime source %8.3f s  %12.0f primes/s  %14.0f p/s  (%.1f%% of the engine's time)\n", source_s,
              double(primes) / source_s, width / source_s, 100 * source_s / engine_s);
  // The work per prime that doc/PERFORMANCE.md accounts for.
  const double n = double(work.primes);
  std::printf("    stride %u, table length %u; per prime: searched %.3f, filter batches %.2f of %.2f powers,\n"
              "      walks %.2f, table entries %.0f, walk steps %.0f (lanes %.0f), hits %.2f\n",
              sizing.stride, sizing.table_length, double(work.searched) / n, double(work.filter_batches) / n,
              double(work.filter_powers) / n, double(work.walks) / n, double(work.table_entries) / n,
              double(work.walk_steps) / n, double(work.lane_steps) / n, double(work.hits) / n);
}

}  // namespace
}  // namespace veksieve

int main(int argc, char** argv) {
  using namespace veksieve;
  std::vector<std::string> paths(argv + 1, argv + argc);
  if (paths.empty() && std::getenv("VEKSIEVE_WORKLOADS") != nullptr) {
    std::stringstream list(std::getenv("VEKSIEVE_WORKLOADS"));
    for (std::string path; std::getline(list, path, ':');) {
      if (!path.empty()) paths.push_back(path);
    }
  }
  if (paths.empty()) {
    std::printf("usage: engine_bench W1.vek.gz [...]   (or VEKSIEVE_WORKLOADS=a:b:c)\n");
    return 0;
  }
  // Without VEKSIEVE_ALPHA each file gets its modelled alpha, as the program does.
  const bool alpha_given = std::getenv("VEKSIEVE_ALPHA") != nullptr;
  const double given_alpha = env_number("VEKSIEVE_ALPHA", default_alpha);
  const auto width = static_cast<int64_t>(env_number("VEKSIEVE_BENCH_WIDTH", 2e8));
  const int runs = std::max(1, static_cast<int>(env_number("VEKSIEVE_BENCH_RUNS", 3)));
  for (const std::string& path : paths) {
    sequence_table job;
    try {
      std::istringstream text(read_workload(path));
      // VEKSIEVE_NO_SPLIT: no k outside the period table split into classes
      // (walks made free for the split rule), to measure what splits gain.
      if (std::getenv("VEKSIEVE_NO_SPLIT") != nullptr) {
        job = read_sequence_table(text, bitmap_memory_budget(), search_costs{1, 0, 1, 1, 1});
        job.alpha = search_cost_model().modelled_alpha(job.sequences());
      } else {
        job = read_sequence_table(text);
      }
      if (alpha_given) job.alpha = given_alpha;
    } catch (const fatal_error& error) {
      std::printf("%s: %s\n", path.c_str(), error.message.c_str());
      return 1;
    }
    std::printf("%s: %d sequences, n in [%d, %d], alpha %.4g, median of %d runs\n", path.c_str(), job.count,
                job.nmin, job.nmax, job.alpha, runs);
    bench_range(job, 1000000000000, 1000000000000 + width, runs, job.alpha);
    bench_range(job, 100000000000000, 100000000000000 + width, runs, job.alpha);
  }
  return 0;
}
