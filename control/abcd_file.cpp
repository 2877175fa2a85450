// Reading and writing ABCD. Blanks may stand between the parts of a header,
// a trailing CR, blank lines and "//" comments are passed over, and text
// after a header's "]" or a difference's digits is ignored; anything else a
// line may hold is refused with its number, before the sieve starts.
#include "control/abcd_file.hpp"

#include <cinttypes>
#include <numeric>
#include <optional>
#include <string_view>

#include "common/leading_number.hpp"
#include "common/text_format.hpp"
#include "control/fatal_error.hpp"

namespace veksieve {

namespace {

constexpr int64_t k_limit = int64_t{1} << 30;

// A left-to-right reading of one line.
struct cursor {
  std::string_view text;
  size_t at = 0;

  void skip_blanks() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r')) ++at;
  }
  bool take(std::string_view word) {
    skip_blanks();
    if (text.substr(at, word.size()) != word) return false;
    at += word.size();
    return true;
  }
  // Digits, after blanks; nothing without one or beyond 64 bits.
  std::optional<int64_t> number() {
    skip_blanks();
    const size_t begin = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == begin) return std::nullopt;
    const leading_number value = read_leading_number(text.substr(begin, at - begin));
    if (!value.fits) return std::nullopt;
    return value.value;
  }
  bool at_end_or_comment() {
    skip_blanks();
    return at == text.size() || text.substr(at, 2) == "//";
  }
};

class abcd_reader {
 public:
  abcd_reader(const std::string& name, int32_t initial_step) : name_(name), initial_step_(initial_step) {}

  void line(std::string_view text, int64_t number) {
    number_ = number;
    note_comment(text);
    if (text.starts_with("ABCD")) return header(text.substr(4));
    if (contents_.sequences.empty()) refuse("is no ABCD header");
    cursor c{text};
    if (c.at_end_or_comment()) return;
    const bool negative = c.take("-");
    const std::optional<int64_t> d = c.number();
    if (!d) refuse("is neither a difference nor an ABCD header");
    if (negative || *d == 0) refuse("holds a difference that is not above 0");
    abcd_sequence& s = contents_.sequences.back();
    const int64_t n = int64_t{s.n.back()} + *d;
    if (n > INT32_MAX) refuse("gives an n beyond 2147483647");
    s.n.push_back(static_cast<int32_t>(n));
    s.step = std::gcd(s.step, static_cast<int32_t>(*d));
  }

  abcd_contents take() { return std::move(contents_); }

 private:
  [[noreturn]] void refuse(const char* what) const {
    throw fatal_error{text_format("The file '%s' is invalid - line %lld %s!", name_.c_str(),
                                  static_cast<long long>(number_), what),
                      exit_bad_sequence_file};
  }

  void note_comment(std::string_view text) {
    const size_t comment = text.find("//");
    if (comment == std::string_view::npos || contents_.sieved_to != 0) return;
    const size_t said = text.find("Sieved to", comment);
    if (said == std::string_view::npos) return;
    const leading_number depth = read_leading_number(text.substr(said + 9));
    if (depth.fits && depth.value > 0) contents_.sieved_to = depth.value;
  }

  // "k*2^$a+c [n0]" after the word ABCD.
  void header(std::string_view rest) {
    cursor c{rest};
    const std::optional<int64_t> k = c.number();
    if (!k || !c.take("*")) refuse("is no ABCD header of the form k*2^$a+1 [n] or k*2^$a-1 [n]");
    const std::optional<int64_t> base = c.number();
    if (!base || !c.take("^") || !c.take("$a")) refuse("is no ABCD header of the form k*2^$a+1 [n] or k*2^$a-1 [n]");
    const bool minus = c.take("-");
    if (!minus && !c.take("+")) refuse("is no ABCD header of the form k*2^$a+1 [n] or k*2^$a-1 [n]");
    const std::optional<int64_t> one = c.number();
    if (!one || !c.take("[")) refuse("is no ABCD header of the form k*2^$a+1 [n] or k*2^$a-1 [n]");
    const std::optional<int64_t> n0 = c.number();
    if (!n0 || !c.take("]")) refuse("is no ABCD header of the form k*2^$a+1 [n] or k*2^$a-1 [n]");
    if (*base != 2) refuse("holds a sequence of another base than 2");
    if (*one != 1) refuse("holds a sequence of another c than +1 or -1");
    if (*k < 1 || *k >= k_limit || *k % 2 == 0) refuse("holds a k that is not an odd number from 1 to 1073741823");
    if (*n0 < 2 || *n0 > INT32_MAX) refuse("holds an n that is not from 2 to 2147483647");
    abcd_sequence& s = contents_.sequences.emplace_back();
    s.k = static_cast<int32_t>(*k);
    s.c = minus ? -1 : 1;
    s.n.push_back(static_cast<int32_t>(*n0));
    s.step = initial_step_;
  }

  const std::string& name_;
  int32_t initial_step_;
  int64_t number_ = 0;
  abcd_contents contents_;
};

}  // namespace

bool looks_like_abcd(std::istream& in) { return in.peek() == 'A'; }

abcd_contents read_abcd(std::istream& in, const std::string& name, int32_t initial_step) {
  abcd_reader reader(name, initial_step);
  std::string text;
  for (int64_t number = 1; std::getline(in, text); ++number) reader.line(text, number);
  return reader.take();
}

std::string abcd_text(std::span<const abcd_block> blocks, int32_t nmin, int32_t nmax, int64_t sieved_to) {
  std::string text;
  bool first = true;
  for (const abcd_block& block : blocks) {
    int64_t previous = -1;
    for (int64_t b = 0; b <= int64_t{nmax} - nmin; ++b) {
      if (!((block.bits[b / 32] >> (b % 32)) & 1)) continue;
      if (previous < 0) {
        text += text_format("ABCD %d*2^$a%s [%lld]", block.k, block.c < 0 ? "-1" : "+1",
                            static_cast<long long>(b + nmin));
        if (first && sieved_to != 0) text += text_format(" // Sieved to %" PRId64, sieved_to);
        text += '\n';
        first = false;
      } else {
        text += text_format("%lld\n", static_cast<long long>(b - previous));
      }
      previous = b;
    }
  }
  return text;
}

}  // namespace veksieve
