// Factor-line reading and the independent check of a factor by
// square-and-multiply in 128-bit integers: p < 2^63, so every product of two
// residues fits.
#include "control/factor_line.hpp"

namespace veksieve {

namespace {

// Reads plain digits at `at` into `value`; false when there are none or they
// exceed 63 bits.
bool read_digits(std::string_view text, size_t& at, int64_t& value) {
  const size_t first = at;
  uint64_t v = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    v = v * 10 + static_cast<uint64_t>(text[at] - '0');
    if (v > static_cast<uint64_t>(INT64_MAX)) return false;
  }
  value = static_cast<int64_t>(v);
  return at > first;
}

bool read_literal(std::string_view text, size_t& at, std::string_view literal) {
  if (text.substr(at, literal.size()) != literal) return false;
  at += literal.size();
  return true;
}

}  // namespace

status_line read_status_line(std::string_view line) {
  status_line result;
  if (line.empty() || line[0] < '0' || line[0] > '9') return result;
  if (line.back() == '\r') line.remove_suffix(1);
  size_t at = 0;
  factor_line& f = result.factor;
  const bool read = read_digits(line, at, f.p) && read_literal(line, at, " | ") && read_digits(line, at, f.k) &&
                    read_literal(line, at, "*2^") && read_digits(line, at, f.n) && read_literal(line, at, "+1") &&
                    at == line.size();
  result.kind = read ? status_line_kind::factor : status_line_kind::malformed;
  return result;
}

bool is_proper_factor(const factor_line& f) {
  using u128 = unsigned __int128;
  if (f.p < 2) return false;
  const auto p = static_cast<u128>(f.p);
  // k*2^n+1 itself, when it could be as small as p (n < 64 keeps it in 128 bits).
  if (f.n < 64 && (static_cast<u128>(f.k) << f.n) + 1 <= p) return false;
  u128 power = 1;
  u128 base = 2 % p;
  for (uint64_t e = static_cast<uint64_t>(f.n); e != 0; e >>= 1) {
    if (e & 1) power = power * base % p;
    base = base * base % p;
  }
  return (static_cast<u128>(f.k) % p * power + 1) % p == 0;
}

}  // namespace veksieve
