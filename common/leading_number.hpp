// The lenient number reading shared by Vek.dat, the status file and the typed
// answers: leading white space, an optional sign, the digits up to the first
// other character; text without digits reads as 0. Unlike strtol it says when
// the digits do not fit, so that callers can reject instead of wrapping.
#pragma once

#include <cstdint>
#include <string_view>

namespace veksieve {

struct leading_number {
  int64_t value = 0;  // clamped to the int64 range when it does not fit
  bool fits = true;   // false: the digits exceed a signed 64-bit value
};

leading_number read_leading_number(std::string_view text);

constexpr bool fits_int32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

}  // namespace veksieve
