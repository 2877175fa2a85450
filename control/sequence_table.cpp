// Building the sequence table. Bitmaps are made one k at a time as the k's
// arrive, so a count on line 1 far above the k's in the file costs nothing
// before the file is found short. The engine forms -2k in 32 bits and its
// parity filter assumes an odd k, hence the check on each k.
#include "control/sequence_table.hpp"

#include <array>
#include <bit>
#include <cinttypes>
#include <fstream>
#include <new>
#include <vector>

#include "common/platform.hpp"
#include "control/fatal_error.hpp"
#include "common/text_format.hpp"
#include "control/value_reader.hpp"
#include "engine/search_cost_model.hpp"

namespace veksieve {

namespace {

struct period_row {
  int32_t k;
  int32_t period;
};

// Multipliers whose n's are known to group into classes of a period.
constexpr std::array<period_row, 12> period_table{{
    {4847, 120},
    {5359, 120},
    {10223, 96},
    {19249, 720},
    {21181, 264},
    {22699, 360},
    {24737, 120},
    {27653, 144},
    {28433, 360},
    {33661, 360},
    {55459, 180},
    {67607, 360},
}};

// One flag per class; the largest period is 720.
constexpr int32_t class_flags = 1000;
static_assert([] {
  for (const period_row& row : period_table)
    if (row.period > class_flags) return false;
  return true;
}());

constexpr int64_t k_limit = int64_t{1} << 30;

[[noreturn]] void invalid(const char* message) { throw fatal_error{message, exit_bad_sequence_file}; }

// A k as read: one sequence (residue, step), or the classes of its period.
struct pending_k {
  int32_t k;
  uint32_t* bits;
  int32_t step;
  int32_t residue;
  std::vector<int32_t> classes;  // residues modulo step when split
  bool splittable = false;       // a k outside the period table with its n's in one class of its gcd step
};

sequence_set job_sequences(const sieve_job& job) {
  return {job.nmin, job.nmax, job.k, job.residue, job.step};
}

// The classes modulo each candidate period P = lcm(step, d), d dividing
// class_period_base, that the n's of the k occupy. Only a step dividing the
// base is considered: any other is a k with few n's, where a split saves
// nothing.
std::vector<pending_k> class_options(const pending_k& entry, int32_t bitmap_words) {
  std::vector<pending_k> options;
  if (!entry.splittable || class_period_base % entry.step != 0) return options;
  std::vector<bool> occupied(class_period_base);
  for (int32_t w = 0; w < bitmap_words; ++w) {
    for (uint32_t x = entry.bits[w]; x != 0; x &= x - 1)
      occupied[static_cast<size_t>((int64_t{w} * 32 + std::countr_zero(x)) % class_period_base)] = true;
  }
  for (int32_t period = entry.step * 2; period <= class_period_base; period += entry.step) {
    if (class_period_base % period != 0) continue;
    pending_k option{entry.k, entry.bits, period, 0, {}};
    std::vector<bool> present(static_cast<size_t>(period));
    for (int32_t c = 0; c < class_period_base; ++c)
      if (occupied[static_cast<size_t>(c)]) present[static_cast<size_t>(c % period)] = true;
    for (int32_t c = 0; c < period; ++c)
      if (present[static_cast<size_t>(c)]) option.classes.push_back(c);
    options.push_back(std::move(option));
  }
  return options;
}

// The sequences of the table as the pending k's stand.
sieve_job as_sequences(const std::vector<pending_k>& ks, const sieve_job& job) {
  sieve_job out;
  out.nmin = job.nmin;
  out.nmax = job.nmax;
  for (const pending_k& entry : ks) {
    const auto add = [&](int32_t residue) {
      out.k.push_back(entry.k);
      out.residue.push_back(residue);
      out.step.push_back(entry.step);
    };
    if (entry.classes.empty()) add(entry.residue);
    for (const int32_t c : entry.classes) add(c);
  }
  return out;
}

double modelled_cost(const sieve_job& sequences, uint32_t stride, const search_costs& costs) {
  const uint64_t table_length = uint64_t(int64_t{sequences.nmax} - sequences.nmin) / stride + 1;
  return expected_search_work(job_sequences(sequences), stride, table_length).cost(costs);
}

// Splits a k outside the period table into the classes of the period that
// the cost model finds cheapest. The stride must be a multiple of every
// period, so the periods are tried under a common bound Q (each divisor of
// the base in turn), each k choosing the cheapest period dividing Q at the
// modelled stride, twice, as the stride moves with the splits. The cheapest
// bound is kept when it beats the table without splits.
void split_into_classes(std::vector<pending_k>& ks, const sieve_job& job, const search_costs& costs) {
  std::vector<std::vector<pending_k>> options(ks.size());
  bool any = false;
  for (size_t i = 0; i < ks.size(); ++i) {
    options[i] = class_options(ks[i], job.bitmap_words);
    any = any || !options[i].empty();
  }
  if (!any) return;
  const sieve_job unsplit = as_sequences(ks, job);
  const uint32_t unsplit_stride = modelled_stride(job_sequences(unsplit), costs);
  if (unsplit_stride == 0) return;
  double best_cost = modelled_cost(unsplit, unsplit_stride, costs);
  std::vector<pending_k> best;

  for (int32_t bound = 2; bound <= class_period_base; ++bound) {
    if (class_period_base % bound != 0) continue;
    std::vector<pending_k> chosen = ks;
    uint32_t stride = unsplit_stride;
    for (int round = 0; round < 2 && stride != 0; ++round) {
      for (size_t i = 0; i < ks.size(); ++i) {
        double least = modelled_cost(as_sequences({ks[i]}, job), stride, costs);
        chosen[i] = ks[i];
        for (const pending_k& option : options[i]) {
          if (bound % option.step != 0) continue;
          const double cost = modelled_cost(as_sequences({option}, job), stride, costs);
          if (cost < least) least = cost, chosen[i] = option;
        }
      }
      stride = modelled_stride(job_sequences(as_sequences(chosen, job)), costs);
    }
    if (stride == 0) continue;
    const double cost = modelled_cost(as_sequences(chosen, job), stride, costs);
    if (cost < best_cost) best_cost = cost, best = std::move(chosen);
  }
  if (!best.empty()) ks = std::move(best);
}

}  // namespace

int32_t period_of(int64_t k) {
  for (const period_row& row : period_table)
    if (row.k == k) return row.period;
  return 1;
}

int64_t bitmap_memory_budget() {
  const int64_t bytes = physical_memory_bytes();
  if (bytes <= 0) return INT64_MAX;
  return bytes / 2;
}

void read_sequence_table(std::istream& in, sieve_job& job, int64_t memory_bytes, const search_costs& costs) {
  value_reader reader(in);

  const file_value first = reader.read_value();
  if (first.kind != file_value::number || first.value < 1)
    invalid("The file 'Vek.dat' is invalid - bad first line!");
  const int64_t announced = first.value;

  const file_value nmin = reader.read_value();
  const file_value nmax = reader.read_value();
  if (nmin.kind != file_value::number || nmax.kind != file_value::number || nmin.value < 2 ||
      nmin.value > nmax.value)
    invalid("The file 'Vek.dat' is invalid - bad range of n on lines 2 and 3!");
  job.nmin = static_cast<int32_t>(nmin.value);
  job.nmax = static_cast<int32_t>(nmax.value);
  // A window of exactly 32 exponents gets two words; the engine and the
  // factor callback rely on this size.
  job.bitmap_words = static_cast<int32_t>((nmax.value - nmin.value + 1) / 32 + 1);

  file_value v = reader.read_value();
  if (v.kind != file_value::k_line) invalid("The file 'Vek.dat' is invalid - bad k value at line 4!");

  job.k.clear();
  job.residue.clear();
  job.step.clear();
  job.bitmap.clear();
  job.bitmap_storage.clear();
  std::array<bool, class_flags> present{};
  std::vector<pending_k> pending;

  try {
    for (int64_t made = 0; made < announced; ++made) {
      if (v.kind == file_value::end) invalid("The file 'Vek.dat' is invalid - insufficient k's!");
      const int64_t k = v.value;
      if (k < 1 || k >= k_limit || k % 2 == 0)
        throw fatal_error{text_format("The file 'Vek.dat' is invalid - k=%lld is not an odd number from 1 "
                                      "to 1073741823!",
                                      static_cast<long long>(k)),
                          exit_bad_sequence_file};

      // A window of 2^31 takes 256 MB per k. Linux promises more than it has
      // and kills the process when the zero fill touches it, so a table that
      // cannot fit is refused while the program can still say why.
      const int64_t bitmap_bytes = 4 * int64_t{job.bitmap_words};
      if (static_cast<int64_t>(job.bitmap_storage.size() + 1) > memory_bytes / bitmap_bytes) throw std::bad_alloc();
      uint32_t* bits = job.bitmap_storage.emplace_back(static_cast<size_t>(job.bitmap_words), 0u).data();
      const int32_t period = period_of(k);
      present.fill(false);
      reader.begin_k(k);
      bool has_n = false;
      int64_t last_b = 0;
      while ((v = reader.read_value()).kind == file_value::number) {
        const int64_t n = v.value;
        if (n < job.nmin || n > job.nmax)
          throw fatal_error{text_format("The file'Vek.dat' is invalid - for k=%d, there is n=%d, which is out "
                                        "of range!",
                                        static_cast<int>(k), static_cast<int>(n)),
                            exit_bad_sequence_file};
        const int64_t b = n - job.nmin;
        bits[b / 32] |= uint32_t{1} << (b % 32);
        if (period > 1) present[static_cast<size_t>(b % period)] = true;
        last_b = b;
        has_n = true;
      }

      pending_k entry{static_cast<int32_t>(k), bits, 1, 0, {}};
      int32_t classes = 0;
      if (period == 1) present[0] = has_n;
      for (int32_t c = 0; c < period; ++c) classes += present[static_cast<size_t>(c)];
      if (!has_n) {
        entry.step = 1;
      } else if (classes == 1) {
        entry.step = reader.step_accumulator();
        entry.residue = static_cast<int32_t>(last_b % entry.step);
        entry.splittable = period == 1;
      } else {
        entry.step = period;
        for (int32_t c = 0; c < period; ++c)
          if (present[static_cast<size_t>(c)]) entry.classes.push_back(c);
      }
      pending.push_back(std::move(entry));
    }
    split_into_classes(pending, job, costs);
    for (const pending_k& entry : pending) {
      const auto add = [&](int32_t residue, int32_t step) {
        job.k.push_back(entry.k);
        job.residue.push_back(residue);
        job.step.push_back(step);
        job.bitmap.push_back(entry.bits);
      };
      if (entry.classes.empty()) {
        add(entry.residue, entry.step);
      } else {
        for (const int32_t c : entry.classes) add(c, entry.step);
      }
      if (job.k.size() > static_cast<size_t>(INT32_MAX)) throw std::bad_alloc();
    }
  } catch (const std::bad_alloc&) {
    throw fatal_error{"There is not enough memory for the k's of 'Vek.dat'!", exit_bad_sequence_file};
  }
  job.count = static_cast<int32_t>(job.k.size());
  if (!job.alpha_given) job.alpha = modelled_alpha(job_sequences(job), costs);
}

void load_sequence_file(const std::string& path, sieve_job& job) {
  std::ifstream file(path, std::ios::binary);
  if (!file) invalid("The file 'Vek.dat' cannot be found in the current directory!");
  read_sequence_table(file, job);
}

std::string sequence_summary(const sieve_job& job, const std::string& workers) {
  int64_t candidates = 0;
  for (const std::vector<uint32_t>& bits : job.bitmap_storage)
    for (const uint32_t word : bits) candidates += std::popcount(word);
  const auto ks = static_cast<int64_t>(job.bitmap_storage.size());
  return text_format("Read '%s': %" PRId64 " k%s with %" PRId64 " candidate%s, n from %d to %d; sieving with %s",
                     sequence_file_name, ks, ks == 1 ? "" : "'s", candidates, candidates == 1 ? "" : "s", job.nmin,
                     job.nmax, workers.c_str());
}

}  // namespace veksieve
