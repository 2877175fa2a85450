// Committing a chunk's records. A solution becomes a result only while its
// exponent is still a candidate and an exponentiation of our own confirms it;
// the first confirmed factor of a candidate strikes it, for every sequence
// sharing its bitmap. A checkpoint records the prime of a progress report
// less one: that prime is about to be sieved, so a resumed run starts there.
#include "report/committer.hpp"

#include <ctime>

#include "common/macros.hpp"
#include "report/exact_arithmetic.hpp"

namespace veksieve {

namespace {

constexpr int64_t always_shown_from = 5000000000;  // console-only runs show every factor from here
constexpr int64_t shown_factor_gap = 100000;       // below that, shown factors lie this far apart

}  // namespace

calendar_clock make_calendar_clock() {
  return [] { return static_cast<int64_t>(std::time(nullptr)); };
}

committer::committer(const candidate_table& table, console_channel& console, status_file_writer& status,
                     commit_options options)
    : table_(table),
      console_(console),
      status_(status),
      options_(std::move(options)),
      last_checkpoint_time_(options_.clock()) {}

bool committer::commit(std::span<const finding> records) {
  for (std::size_t i = 0; i < records.size(); ++i) {
    const finding& record = records[i];
    if (record.index == progress_mark) {
      commit_progress(record.p);
    } else {
      commit_factor(record.p, record.index, record.n);
    }
    const bool last_of_its_prime = i + 1 == records.size() || records[i + 1].p != record.p;
    if (gave_up() && last_of_its_prime) return false;
  }
  return !gave_up();
}

void committer::commit_factor(int64_t p, uint32_t index, uint32_t n) {
  ASSERT(index < table_.k.size());
  // The engine reports solutions beyond the window and ones already struck.
  if (n > static_cast<uint32_t>(table_.nmax) || n < static_cast<uint32_t>(table_.nmin)) return;
  const uint32_t bit = n - static_cast<uint32_t>(table_.nmin);
  uint32_t& word = table_.bitmap[index][bit / 32];
  const uint32_t mask = uint32_t{1} << (bit % 32);
  if ((word & mask) == 0) return;

  const int32_t k = table_.k[index];
  const int32_t c = table_.c.empty() ? 1 : table_.c[index];
  if (!divides_k_2n_c(p, k, n, c)) {
    console_.verification_failed(p, k, n, c);
    return;
  }
  word &= ~mask;
  ++factors_found_;
  if (options_.payoff != nullptr) options_.payoff->factor_found(options_.seconds());

  // The factors file first: a line in the status file is struck on resume
  // and never found again, while one only in the factors file is found
  // again and not repeated there.
  if (options_.factors != nullptr && !options_.factors->append({p, k, n, c})) return;
  if (!options_.console_only) {
    console_.factor(p, k, n, c);
    if (status_.append(factor_text({p, k, n, c}) + "\n")) last_checkpoint_time_ = options_.clock();
    return;
  }
  if (p >= always_shown_from || p - last_shown_factor_ >= shown_factor_gap) {
    console_.factor(p, k, n, c);
    last_shown_factor_ = p;
  }
}

void committer::commit_progress(int64_t p) {
  if (options_.payoff != nullptr && !stopped_by_payoff_) {
    const std::optional<double> seconds_per_factor = options_.payoff->seconds_per_factor(options_.seconds());
    console_.set_seconds_per_factor(seconds_per_factor);
    if (seconds_per_factor && *seconds_per_factor > options_.payoff->limit()) {
      stopped_by_payoff_ = true;
      options_.stop->store(true);
    }
  }
  console_.status(p);
  if (!options_.checkpoints) return;
  if (options_.clock() - last_checkpoint_time_ > options_.checkpoint_interval) {
    if (status_.append(checkpoint_line(p - 1))) last_checkpoint_time_ = options_.clock();
  }
}

}  // namespace veksieve
