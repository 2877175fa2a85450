// A checksum of a file's bytes, so that the ranks of one run can tell that
// they read the same sequence file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veksieve {

// 64-bit FNV-1a of the file's bytes; nothing when it cannot be read.
std::optional<uint64_t> file_checksum(const std::string& path);

}  // namespace veksieve
