// The upkeep reads the old file with the sieve's own reader, so that the new
// file holds exactly the candidates the sieve saw less the factored ones, and
// writes it back from the table's bitmaps. Every factor line is read with the
// status file's own grammar and checked before anything is written: a
// damaged line could otherwise remove a candidate that no prime divides.
#include "control/remove_factored.hpp"


#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "common/leading_number.hpp"
#include "common/platform.hpp"
#include "common/text_format.hpp"
#include "control/abcd_file.hpp"
#include "control/fatal_error.hpp"
#include "control/sequence_table.hpp"
#include "report/exact_arithmetic.hpp"
#include "report/status_file.hpp"

namespace veksieve {

namespace {

// p divides k*2^n+1 and is not that number itself, which may be prime.
bool is_proper_factor(const factor_line& f) {
  const bool number_itself =
      f.n < 64 && (static_cast<unsigned __int128>(f.k) << f.n) + f.c <= static_cast<uint64_t>(f.p);
  return !number_itself && divides_k_2n_c(f.p, f.k, f.n, f.c);
}

// The status file's verified factor lines, and how far its range sieved.
struct status_factors {
  std::vector<factor_line> factors;
  int64_t pmax = 0;
  int64_t range_start = -1;  // the first pmin=, -1 without one
  bool done = false;
};

status_factors read_verified_factors(const std::string& path) {
  std::error_code not_there;
  std::ifstream file;
  if (std::filesystem::is_regular_file(path, not_there)) file.open(path, std::ios::binary);
  if (!file.is_open())
    throw fatal_error{text_format("The file '%s' cannot be read!", path.c_str()), exit_bad_status_file};
  status_factors status;
  std::vector<factor_line>& factors = status.factors;
  std::string text;
  for (long long line_number = 1; std::getline(file, text); ++line_number) {
    const std::string_view line = text;
    const std::string_view head = line.substr(0, 5);
    if (head == "pmax=") status.pmax = read_leading_number(line.substr(5)).value;
    if (head == "pmin=" && status.range_start < 0) status.range_start = read_leading_number(line.substr(5)).value;
    status.done = status.done || head.substr(0, 4) == "Done";
    // Only factor lines start with a digit.
    if (text.empty() || text[0] < '0' || text[0] > '9') continue;
    const std::optional<factor_line> f = parse_factor_line(text);
    if (!f)
      throw fatal_error{text_format("The file '%s' is invalid - line %lld is no factor line!", path.c_str(), line_number),
                        exit_bad_status_file};
    if (!is_proper_factor(*f))
      throw fatal_error{text_format("The file '%s' is invalid - on line %lld, %lld is no factor of %d*2^%u%s!",
                                    path.c_str(), line_number, static_cast<long long>(f->p), f->k, f->n,
                                    f->c < 0 ? "-1" : "+1"),
                        exit_bad_status_file};
    factors.push_back(*f);
  }
  return status;
}

// One k of the file: its bitmap and the counts for the summary.
struct k_entry {
  int32_t k = 0;
  int32_t c = 1;
  std::vector<uint32_t>* bits = nullptr;
  int64_t removed = 0;
};

bool test_and_clear(std::vector<uint32_t>& bits, int64_t b) {
  uint32_t& word = bits[static_cast<size_t>(b / 32)];
  const uint32_t mask = uint32_t{1} << (b % 32);
  const bool set = (word & mask) != 0;
  word &= ~mask;
  return set;
}

std::string sequence_text(const sequence_table& table, const std::vector<k_entry>& entries) {
  std::string text = text_format("%zu\n%d\n%d\n", entries.size(), table.nmin, table.nmax);
  for (const k_entry& e : entries) {
    text += text_format("k=%d\n", e.k);
    int64_t previous = -1;
    for (int64_t b = 0; b <= int64_t{table.nmax} - table.nmin; ++b) {
      if (!(((*e.bits)[static_cast<size_t>(b / 32)] >> (b % 32)) & 1)) continue;
      text += previous < 0 ? text_format("%lld\n", static_cast<long long>(b + table.nmin))
                           : text_format("+%lld\n", static_cast<long long>(b - previous));
      previous = b;
    }
  }
  return text;
}

// Writes `text` to a temporary beside `path`, syncs it, keeps the old file,
// if any, as path.bak (a hard link, so that `path` never goes missing) and
// renames the new one over it.
void replace_file(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  const std::string backup = path + ".bak";
  bool opened = false;
  const auto fail = [&](const std::string& name, int error) {
    std::remove(temporary.c_str());
    cannot_write("written", name, error);
  };
  if (const int error = write_durably(temporary, text, write_mode::replace, &opened); error != 0) {
    if (!opened) cannot_write("created", temporary, error);
    fail(temporary, error);
  }
  std::error_code not_there;
  const bool exists = std::filesystem::exists(path, not_there);
  if (const int error = exists ? keep_backup(path, backup) : 0; error != 0) fail(backup, error);
  if (const int error = rename_durably(temporary, path); error != 0) fail(path, error);
}

}  // namespace

int remove_factored(const run_options& options, std::ostream& out) {
  const std::string& sequence_path = options.sequence_file;
  const bool rewrite = options.action == start_action::remove_factored;
  std::error_code not_there;
  if (!options.abcd_file.empty() && std::filesystem::equivalent(options.abcd_file, options.status_file, not_there))
    throw fatal_error{text_format("The ABCD file '%s' is the status file - nothing was changed!",
                                  options.abcd_file.c_str()),
                      exit_bad_command_line};
  const bool no_status = !rewrite && !std::filesystem::exists(options.status_file, not_there);
  const status_factors status = no_status ? status_factors{} : read_verified_factors(options.status_file);
  const std::vector<factor_line>& factors = status.factors;
  sequence_table table = load_sequence_file(sequence_path);
  // A finished range that began at or below the file's depth sieved it to
  // the range's end; any other range leaves the depth as it was.
  if (status.done && status.range_start >= 0 && status.range_start <= table.sieved_to && status.pmax > table.sieved_to)
    table.sieved_to = status.pmax;

  // Sequences split from one k share its bitmap; one entry per bitmap, in file order.
  std::map<const uint32_t*, std::vector<uint32_t>*> storage_of;
  for (std::vector<uint32_t>& bits : table.bitmap_storage) storage_of[bits.data()] = &bits;
  std::vector<k_entry> entries;
  std::map<std::pair<int64_t, int32_t>, std::vector<size_t>> entries_of_k;
  for (size_t i = 0; i < static_cast<size_t>(table.count); ++i) {
    if (!entries.empty() && entries.back().bits->data() == table.bitmap[i]) continue;
    entries_of_k[{table.k[i], table.form_of(i)}].push_back(entries.size());
    entries.push_back({table.k[i], table.form_of(i), storage_of.at(table.bitmap[i]), 0});
  }

  int64_t removed = 0;
  int64_t repeated = 0;
  int64_t not_in_file = 0;
  std::set<std::tuple<int32_t, int32_t, uint32_t>> seen;
  for (const factor_line& f : factors) {
    bool found = false;
    const auto ks = entries_of_k.find({f.k, f.c});
    const int64_t n = f.n;
    if (ks != entries_of_k.end() && n >= table.nmin && n <= table.nmax) {
      for (const size_t e : ks->second) {
        if (test_and_clear(*entries[e].bits, n - table.nmin)) {
          ++entries[e].removed;
          found = true;
        }
      }
    }
    if (found) {
      ++removed;
      seen.insert({f.k, f.c, f.n});
    } else if (seen.count({f.k, f.c, f.n}) != 0) {
      ++repeated;
    } else {
      ++not_in_file;
    }
  }

  for (const k_entry& e : entries) {
    int64_t left = 0;
    for (const uint32_t word : *e.bits) left += __builtin_popcount(word);
    out << text_format("k=%d%s: %lld removed, %lld left\n", e.k, e.c < 0 ? " (k*2^n-1)" : "",
                       static_cast<long long>(e.removed), static_cast<long long>(left));
  }
  out << text_format("%zu factor lines: %lld candidates removed, %lld already removed by an earlier line, "
                     "%lld not in '%s'.\n",
                     factors.size(), static_cast<long long>(removed), static_cast<long long>(repeated),
                     static_cast<long long>(not_in_file), sequence_path.c_str());
  std::vector<abcd_block> blocks;
  for (const k_entry& e : entries) blocks.push_back({e.k, e.c, e.bits->data()});
  if (rewrite && removed == 0) {
    out << "Nothing to remove - '" << sequence_path << "' is left as it was.\n" << std::flush;
  } else if (rewrite) {
    replace_file(sequence_path, table.format == sequence_format::abcd
                                    ? abcd_text(blocks, table.nmin, table.nmax, table.sieved_to)
                                    : sequence_text(table, entries));
    out << "'" << sequence_path << "' is rewritten; the old file is '" << sequence_path << ".bak'.\n" << std::flush;
  }
  if (!options.abcd_file.empty()) {
    replace_file(options.abcd_file, abcd_text(blocks, table.nmin, table.nmax, table.sieved_to));
    out << "'" << options.abcd_file << "' is written in the ABCD format.\n" << std::flush;
  }
  return 0;
}

}  // namespace veksieve
