// printf-style formatting into a std::string, for the messages built from
// numbers and names (g++ 12 has no std::format).
#pragma once

#include <cstdarg>
#include <string>

namespace veksieve {

std::string text_format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same for a caller that takes the arguments itself.
std::string vtext_format(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace veksieve
