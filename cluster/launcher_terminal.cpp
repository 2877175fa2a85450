// The launcher's output read from /proc: the ancestors by their parent
// links, the launcher by its command name, its stdout by where fd 1 points.
#include "cluster/launcher_terminal.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace veksieve {

namespace {

// The command name and parent of a process, from /proc/PID/stat ("pid (comm)
// state ppid ..."; the name may hold blanks and parentheses, so the last ')'
// ends it).
bool read_process(long pid, std::string& name, long& parent) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  name = text.substr(open + 1, close - open - 1);
  std::string state;
  std::istringstream rest(text.substr(close + 1));
  return static_cast<bool>(rest >> state >> parent);
}

bool names_a_terminal(const std::filesystem::path& target) {
  const std::string text = target.string();
  return text.starts_with("/dev/pts/") || text.starts_with("/dev/tty") || text == "/dev/console";
}

}  // namespace

bool launcher_output_is_terminal() {
  long pid = static_cast<long>(getppid());
  for (int depth = 0; depth < 16 && pid > 1; ++depth) {
    std::string name;
    long parent = 0;
    if (!read_process(pid, name, parent)) return false;
    if (name == "mpirun" || name == "mpiexec" || name == "orterun" || name == "prterun") {
      std::error_code unreadable;
      const auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/1", unreadable);
      return !unreadable && names_a_terminal(target);
    }
    pid = parent;
  }
  return false;
}

}  // namespace veksieve
