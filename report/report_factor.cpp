// The factor callback: a solution from the engine becomes a result here. It is
// dropped unless its exponent is still a candidate, confirmed by a modular
// exponentiation of its own (128-bit products, exact for every p below 2^63
// and independent of the engine's arithmetic and x87 mode), struck from the
// candidate bitmap, shown on the console and saved in the status file.
#include "report/reporter.hpp"

#include <cinttypes>
#include <cstdio>

#include "common/macros.hpp"

namespace veksieve {

namespace {

constexpr int64_t always_shown_from = 5000000000;  // console-only runs show every factor from here
constexpr int64_t shown_factor_gap = 100000;       // below that, shown factors lie this far apart

uint64_t mul_mod(uint64_t a, uint64_t b, uint64_t p) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % p);
}

// k * 2^n == -1 (mod p), for an odd prime p.
bool divides(int64_t p, int32_t k, uint32_t n) {
  const auto modulus = static_cast<uint64_t>(p);
  // 2^(p-1) == 1 (mod p): reduce the exponent, never to 0.
  uint64_t e = n;
  if (static_cast<uint64_t>(n) > modulus) {
    e = n % (modulus - 1);
    if (e == 0) e = modulus - 1;
  }
  uint64_t power = 1;
  uint64_t base = 2 % modulus;
  for (; e != 0; e >>= 1) {
    if (e & 1) power = mul_mod(power, base, modulus);
    base = mul_mod(base, base, modulus);
  }
  const uint64_t k_reduced = static_cast<uint64_t>(k) % modulus;
  return mul_mod(power, k_reduced, modulus) == modulus - 1;
}

}  // namespace

void report_factor(void* context, uint32_t index, uint32_t n, int64_t p) {
  auto& rep = *static_cast<reporter*>(context);
  sieve_job& job = *rep.current_job;
  ASSERT(index < static_cast<uint32_t>(job.count));

  // The engine reports solutions beyond the window and ones already struck.
  if (n > static_cast<uint32_t>(job.nmax) || n < static_cast<uint32_t>(job.nmin)) return;
  const uint32_t bit = n - static_cast<uint32_t>(job.nmin);
  uint32_t& word = job.bitmap[index][bit / 32];
  const uint32_t mask = uint32_t{1} << (bit % 32);
  if ((word & mask) == 0) return;

  const int32_t k = job.k[index];
  if (!divides(p, k, n)) {
    rep.channel.print_messagef("#EVerification failed: %" PRId64 " does not divide %d*2^%u+1!", p, k, n);
    return;
  }
  word &= ~mask;  // the bitmap may be shared by all sequences of this k

  if (!job.console_only) {
    rep.channel.print_messagef("%" PRId64 " | %d*2^%u+1", p, k, n);
    char line[96];
    std::snprintf(line, sizeof line, "%" PRId64 " | %d*2^%u+1\n", p, k, n);
    if (rep.status.append(line)) {
      rep.last_checkpoint_time = rep.clock();
    } else {
      rep.stop_requested.store(true);
    }
    return;
  }
  if (p >= always_shown_from || p - rep.last_shown_factor >= shown_factor_gap) {
    rep.channel.print_messagef("%" PRId64 " | %d*2^%u+1", p, k, n);
    rep.last_shown_factor = p;
  }
}

}  // namespace veksieve
