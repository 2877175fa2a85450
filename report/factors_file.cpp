// The factors file. Lines are compared in the form this program writes them,
// so that a line typed with other spacing or a CR LF line end still counts.
#include "report/factors_file.hpp"

#include <filesystem>
#include <fstream>

namespace veksieve {

factors_file::factors_file(std::string path, console_channel& channel, retry_policy policy,
                           const std::atomic<bool>* interrupted)
    : writer_(path, channel, policy, interrupted) {
  // A device or pipe holds no lines to read back, and reading one could wait.
  std::error_code no_file;
  if (!std::filesystem::is_regular_file(path, no_file)) return;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (const auto factor = parse_factor_line(line)) present_.insert(factor_text(*factor));
  }
}

bool factors_file::append(const factor_line& factor) {
  std::string text = factor_text(factor);
  if (present_.contains(text)) return true;
  if (!writer_.append(text + "\n")) return false;
  present_.insert(std::move(text));
  return true;
}

}  // namespace veksieve
