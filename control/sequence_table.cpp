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
#include "control/text_format.hpp"
#include "control/value_reader.hpp"
#include "engine/search_plan.hpp"

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

// The classes modulo class_period_base that the n's of a k occupy, for a k
// the search plan may split.
std::vector<bool> occupied_classes(const uint32_t* bits, int32_t bitmap_words) {
  std::vector<bool> occupied(class_period_base);
  for (int32_t w = 0; w < bitmap_words; ++w) {
    for (uint32_t x = bits[w]; x != 0; x &= x - 1)
      occupied[static_cast<size_t>((int64_t{w} * 32 + std::countr_zero(x)) % class_period_base)] = true;
  }
  return occupied;
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
  std::vector<planned_k> pending;

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

      planned_k entry{static_cast<int32_t>(k), 1, 0, {}, {}};
      int32_t classes = 0;
      if (period == 1) present[0] = has_n;
      for (int32_t c = 0; c < period; ++c) classes += present[static_cast<size_t>(c)];
      if (classes == 1 && has_n) {
        entry.step = reader.step_accumulator();
        entry.residue = static_cast<int32_t>(last_b % entry.step);
        if (period == 1 && class_period_base % entry.step == 0)
          entry.occupied = occupied_classes(bits, job.bitmap_words);
      } else if (has_n) {
        entry.step = period;
        for (int32_t c = 0; c < period; ++c)
          if (present[static_cast<size_t>(c)]) entry.classes.push_back(c);
      }
      pending.push_back(std::move(entry));
    }
    const search_plan plan = plan_search(pending, job.nmin, job.nmax, costs);
    if (plan.k.size() > static_cast<size_t>(INT32_MAX)) throw std::bad_alloc();
    job.k = plan.k;
    job.residue = plan.residue;
    job.step = plan.step;
    for (const uint32_t source : plan.source) job.bitmap.push_back(job.bitmap_storage[source].data());
    if (!job.alpha_given) job.alpha = plan.alpha;
  } catch (const std::bad_alloc&) {
    throw fatal_error{"There is not enough memory for the k's of 'Vek.dat'!", exit_bad_sequence_file};
  }
  job.count = static_cast<int32_t>(job.k.size());
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
