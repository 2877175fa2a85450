// Lenient decimal reading with overflow detection (see the header).
#include "common/leading_number.hpp"

namespace veksieve {

namespace {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

leading_number read_leading_number(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The magnitude may reach 2^63 for the most negative value.
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  leading_number result;
  // 18 digits stay below 10^18 < 2^63: no check is needed before the 19th.
  const size_t unchecked_end = text.size() - i > 18 ? i + 18 : text.size();
  for (; i < unchecked_end && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      result.fits = false;
      magnitude = limit;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  result.value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return result;
}

}  // namespace veksieve
