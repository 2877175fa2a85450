// Shared pieces of the reporting tests: a scratch directory, a small run
// whose bitmaps the tests set, the reference arithmetic, and files read back
// whole.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "control/sieve_run.hpp"
#include "report/committer.hpp"
#include "report/status_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace veksieve::testing {

using scratch_dir = temp_dir;

// What start-up hands to the run.
struct test_job {
  run_options options;
  sequence_table table;
  range_state range;
};

inline int run_sieve(test_job& job, const run_settings& settings) {
  return veksieve::run_sieve(job.options, job.table, job.range, settings);
}

// A run over [nmin, nmax] with one sequence per k (step 1, residue 0) and
// every candidate bit set. Sequences listed in `shared_with_previous` use the
// bitmap of the sequence before them, as split sequences of one k do.
inline test_job make_job(int32_t nmin, int32_t nmax, const std::vector<int32_t>& ks, const std::string& status_file,
                         const std::vector<bool>& shared_with_previous = {}) {
  test_job job;
  sequence_table& table = job.table;
  table.nmin = nmin;
  table.nmax = nmax;
  table.count = static_cast<int32_t>(ks.size());
  table.k = ks;
  table.residue.assign(ks.size(), 0);
  table.step.assign(ks.size(), 1);
  table.bitmap_words = (nmax - nmin + 1) / 32 + 1;
  job.options.status_file = status_file;
  for (std::size_t i = 0; i < ks.size(); ++i) {
    const bool shared = i < shared_with_previous.size() && shared_with_previous[i];
    if (!shared) table.bitmap_storage.emplace_back(static_cast<std::size_t>(table.bitmap_words), ~uint32_t{0});
    table.bitmap.push_back(table.bitmap_storage.back().data());
  }
  return job;
}

// The committer over a run's candidates, with the status file the run names
// and a calendar clock the test moves by hand.
struct commit_harness {
  commit_harness(test_job& job, console_channel& console, const int64_t& now, retry_policy retry = {},
                 int64_t checkpoint_interval = checkpoint_interval_seconds)
      : status(job.options.status_file, console, retry),
        commit({job.table.nmin, job.table.nmax, job.table.k, job.table.bitmap}, console, status,
               options_of(job, now, checkpoint_interval)) {}

  static commit_options options_of(const test_job& job, const int64_t& now, int64_t interval) {
    commit_options options;
    options.console_only = job.range.console_only;
    options.clock = [&now] { return now; };
    options.checkpoint_interval = interval;
    return options;
  }

  status_file_writer status;
  committer commit;
};

inline bool candidate(const test_job& job, uint32_t index, uint32_t n) {
  const uint32_t bit = n - static_cast<uint32_t>(job.table.nmin);
  return (job.table.bitmap[index][bit / 32] >> (bit % 32)) & 1;
}

// k * 2^n + 1 mod p by doubling n times: slow, but obviously right.
inline uint64_t k_2n_plus_1_by_doubling(uint64_t p, uint64_t k, uint64_t n) {
  unsigned __int128 value = k % p;
  for (uint64_t i = 0; i < n; ++i) value = value * 2 % p;
  return static_cast<uint64_t>((value + 1) % p);
}


}  // namespace veksieve::testing
