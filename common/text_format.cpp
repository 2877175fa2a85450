// Two passes of vsnprintf: one to measure, one to write.
#include "common/text_format.hpp"

#include <cstdio>

namespace veksieve {

std::string vtext_format(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

std::string text_format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vtext_format(format, args);
  va_end(args);
  return text;
}

}  // namespace veksieve
