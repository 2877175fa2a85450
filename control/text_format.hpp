// printf-style formatting into a std::string, for the messages built from
// numbers and names (g++ 12 has no std::format).
#pragma once

#include <string>

namespace veksieve {

std::string text_format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace veksieve
