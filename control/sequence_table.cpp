// Building the sequence table. Bitmaps are made one k at a time as the k's
// arrive, so a count on line 1 far above the k's in the file costs nothing
// before the file is found short. The engine forms -2k in 32 bits and its
// parity filter assumes an odd k, hence the check on each k. An ABCD file
// has no window of its own: its n's are read whole first, and the window is
// the least and the largest of them.
#include "control/sequence_table.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cinttypes>
#include <fstream>
#include <new>
#include <vector>

#include "common/platform.hpp"
#include "common/text_format.hpp"
#include "control/abcd_file.hpp"
#include "control/fatal_error.hpp"
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

// The file's message: `format` takes the file's name.
[[noreturn]] void invalid(const char* format, const std::string& name) {
  throw fatal_error{text_format(format, name.c_str()), exit_bad_sequence_file};
}

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

// The n's of one k (and c) as they are read: each one's bit in the bitmap,
// the classes of the k's period they occupy, and the last of them.
struct k_classes {
  int32_t period = 1;
  std::array<bool, class_flags> present{};
  bool has_n = false;
  int64_t last_b = 0;

  void add(uint32_t* bits, int64_t b) {
    bits[b / 32] |= uint32_t{1} << (b % 32);
    if (period > 1) present[static_cast<size_t>(b % period)] = true;
    last_b = b;
    has_n = true;
  }
};

// The known periods are those of k*2^n+1; a k*2^n-1 of the same k has its
// own classes, which the search plan may still find.
int32_t period_of_form(int64_t k, int32_t c) { return c > 0 ? veksieve::period_of(k) : 1; }

// k as the search plan takes it, from its n's: one class of the gcd `step`
// of their distances, or the classes of its period.
planned_k plan_of(int32_t k, int32_t c, const k_classes& seen, int32_t step, const uint32_t* bits,
                  const sequence_table& table) {
  const int32_t period = seen.period;
  std::array<bool, class_flags> present = seen.present;
  planned_k entry{k, 1, 0, {}, {}, static_cast<int8_t>(c)};
  int32_t classes = 0;
  if (period == 1) present[0] = seen.has_n;
  for (int32_t cls = 0; cls < period; ++cls) classes += present[static_cast<size_t>(cls)];
  if (classes == 1 && seen.has_n) {
    entry.step = step;
    entry.residue = static_cast<int32_t>(seen.last_b % entry.step);
    if (period == 1 && class_period_base % entry.step == 0) entry.occupied = occupied_classes(bits, table.bitmap_words);
  } else if (seen.has_n) {
    entry.step = period;
    for (int32_t cls = 0; cls < period; ++cls)
      if (present[static_cast<size_t>(cls)]) entry.classes.push_back(cls);
  }
  return entry;
}

// Reads the n's of k into its bitmap `bits`, leaving `v` at the first value
// after them, and returns k as the search plan takes it.
planned_k read_k(value_reader& reader, file_value& v, int32_t k, uint32_t* bits, const sequence_table& table) {
  k_classes seen{period_of_form(k, 1)};
  reader.begin_k(k);
  while ((v = reader.read_value()).kind == file_value::number) {
    const int64_t n = v.value;
    if (n < table.nmin || n > table.nmax)
      throw fatal_error{text_format("The file'%s' is invalid - for k=%d, there is n=%d, which is out of range!",
                                    table.name.c_str(), k, static_cast<int>(n)),
                        exit_bad_sequence_file};
    seen.add(bits, n - table.nmin);
  }
  return plan_of(k, 1, seen, reader.step_accumulator(), bits, table);
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

void sequence_table::strike(int32_t multiplier, uint32_t n, int32_t c) {
  const uint32_t bit = n - static_cast<uint32_t>(nmin);
  for (size_t i = 0; i < k.size(); ++i)
    if (k[i] == multiplier && form_of(i) == c) bitmap[i][bit / 32] &= ~(uint32_t{1} << (bit % 32));
}

namespace {

// A zeroed bitmap for the next k. A window of 2^31 takes 256 MB per k. Linux
// promises more than it has and kills the process when the zero fill touches
// it, so a table that cannot fit is refused while the program can still say
// why.
uint32_t* new_bitmap(sequence_table& table, int64_t memory_bytes) {
  const int64_t bitmap_bytes = 4 * int64_t{table.bitmap_words};
  if (static_cast<int64_t>(table.bitmap_storage.size() + 1) > memory_bytes / bitmap_bytes) throw std::bad_alloc();
  // Zeroed in huge pages: a large file's bitmaps are tens of MB, all of it
  // touched, where the faults of small pages took a third of the start.
  std::vector<uint32_t>& storage = table.bitmap_storage.emplace_back();
  storage.reserve(static_cast<size_t>(table.bitmap_words));
  advise_huge_pages(storage.data(), uint64_t{4} * static_cast<uint64_t>(table.bitmap_words));
  storage.resize(static_cast<size_t>(table.bitmap_words));
  return storage.data();
}

// A window of exactly 32 exponents gets two words; the engine and the factor
// callback rely on this size.
void set_window(sequence_table& table, int64_t nmin, int64_t nmax) {
  table.nmin = static_cast<int32_t>(nmin);
  table.nmax = static_cast<int32_t>(nmax);
  table.bitmap_words = static_cast<int32_t>((nmax - nmin + 1) / 32 + 1);
}

void read_vek_dat(std::istream& in, sequence_table& table, int64_t memory_bytes, std::vector<planned_k>& pending) {
  value_reader reader(in, table.name);
  const std::string& name = table.name;

  const file_value first = reader.read_value();
  if (first.kind != file_value::number || first.value < 1) invalid("The file '%s' is invalid - bad first line!", name);
  const int64_t announced = first.value;

  const file_value nmin = reader.read_value();
  const file_value nmax = reader.read_value();
  if (nmin.kind != file_value::number || nmax.kind != file_value::number || nmin.value < 2 ||
      nmin.value > nmax.value)
    invalid("The file '%s' is invalid - bad range of n on lines 2 and 3!", name);
  set_window(table, nmin.value, nmax.value);

  file_value v = reader.read_value();
  if (v.kind != file_value::k_line) invalid("The file '%s' is invalid - bad k value at line 4!", name);

  for (int64_t made = 0; made < announced; ++made) {
    if (v.kind == file_value::end) invalid("The file '%s' is invalid - insufficient k's!", name);
    const int64_t k = v.value;
    if (k < 1 || k >= k_limit || k % 2 == 0)
      throw fatal_error{text_format("The file '%s' is invalid - k=%lld is not an odd number from 1 "
                                    "to 1073741823!",
                                    name.c_str(), static_cast<long long>(k)),
                        exit_bad_sequence_file};
    uint32_t* bits = new_bitmap(table, memory_bytes);
    pending.push_back(read_k(reader, v, static_cast<int32_t>(k), bits, table));
  }
}

void read_abcd_file(std::istream& in, sequence_table& table, int64_t memory_bytes, std::vector<planned_k>& pending) {
  const abcd_contents contents = read_abcd(in, table.name, value_reader::initial_step);
  if (contents.sequences.empty()) invalid("The file '%s' is invalid - bad first line!", table.name);
  int64_t nmin = INT32_MAX, nmax = 0;
  for (const abcd_sequence& s : contents.sequences) {
    nmin = std::min<int64_t>(nmin, s.n.front());
    nmax = std::max<int64_t>(nmax, s.n.back());
  }
  set_window(table, nmin, nmax);
  table.format = sequence_format::abcd;
  table.sieved_to = contents.sieved_to;
  for (const abcd_sequence& s : contents.sequences) {
    uint32_t* bits = new_bitmap(table, memory_bytes);
    k_classes seen{period_of_form(s.k, s.c)};
    for (const int32_t n : s.n) seen.add(bits, int64_t{n} - nmin);
    pending.push_back(plan_of(s.k, s.c, seen, s.step, bits, table));
  }
}

}  // namespace

sequence_table read_sequence_table(std::istream& in, int64_t memory_bytes, const search_costs& costs,
                                   const std::string& name) {
  sequence_table table;
  table.name = name;
  std::vector<planned_k> pending;
  try {
    if (looks_like_abcd(in)) {
      read_abcd_file(in, table, memory_bytes, pending);
    } else {
      read_vek_dat(in, table, memory_bytes, pending);
    }
    const search_plan plan = plan_search(pending, table.nmin, table.nmax, costs);
    if (plan.k.size() > static_cast<size_t>(INT32_MAX)) throw std::bad_alloc();
    table.k = plan.k;
    table.residue = plan.residue;
    table.step = plan.step;
    // A table of k*2^n+1 alone keeps no forms: its sequences are as they always were.
    if (std::any_of(plan.c.begin(), plan.c.end(), [](int8_t c) { return c < 0; })) table.c = plan.c;
    for (const uint32_t source : plan.source) table.bitmap.push_back(table.bitmap_storage[source].data());
    table.alpha = plan.alpha;
  } catch (const std::bad_alloc&) {
    throw fatal_error{text_format("There is not enough memory for the k's of '%s'!", name.c_str()),
                      exit_bad_sequence_file};
  }
  table.count = static_cast<int32_t>(table.k.size());
  return table;
}

sequence_table load_sequence_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    const bool here = path.find('/') == std::string::npos && path.find('\\') == std::string::npos;
    invalid(here ? "The file '%s' cannot be found in the current directory!" : "The file '%s' cannot be found!", path);
  }
  return read_sequence_table(file, bitmap_memory_budget(), {}, path);
}

namespace {

// The set bits of `words`, by the processor's own count where it has one:
// a generic build calls a library function per word otherwise, a tenth of a
// large file's start.
__attribute__((always_inline)) inline int64_t count_set_bits(const std::vector<uint32_t>& words) {
  int64_t count = 0;
  for (const uint32_t word : words) count += std::popcount(word);
  return count;
}

__attribute__((target("popcnt"))) int64_t set_bits_by_popcnt(const std::vector<uint32_t>& words) {
  return count_set_bits(words);
}

int64_t set_bits(const std::vector<uint32_t>& words) {
  return __builtin_cpu_supports("popcnt") ? set_bits_by_popcnt(words) : count_set_bits(words);
}

}  // namespace

std::string sequence_summary(const sequence_table& table, const std::string& workers) {
  int64_t candidates = 0;
  for (const std::vector<uint32_t>& bits : table.bitmap_storage) candidates += set_bits(bits);
  const auto ks = static_cast<int64_t>(table.bitmap_storage.size());
  return text_format("Read '%s': %" PRId64 " k%s with %" PRId64 " candidate%s, n from %d to %d; sieving with %s",
                     table.name.c_str(), ks, ks == 1 ? "" : "'s", candidates, candidates == 1 ? "" : "s", table.nmin,
                     table.nmax, workers.c_str());
}

}  // namespace veksieve
