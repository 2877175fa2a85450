// FNV-1a: not proof against a forger, only against a copy that is older,
// cut short or edited, which any change of a byte reveals.
#include "cluster/file_checksum.hpp"

#include <fstream>
#include <vector>

namespace veksieve {

std::optional<uint64_t> file_checksum(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  uint64_t hash = 0xcbf29ce484222325;
  std::vector<char> block(1 << 16);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      hash ^= static_cast<unsigned char>(block[static_cast<std::size_t>(i)]);
      hash *= 0x100000001b3;
    }
  }
  if (in.bad()) return std::nullopt;
  return hash;
}

}  // namespace veksieve
