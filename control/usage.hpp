// The texts of --help and --version.
#pragma once

#include <iosfwd>

namespace veksieve {

void print_usage(std::ostream& out);
void print_version(std::ostream& out);

}  // namespace veksieve
