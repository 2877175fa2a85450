// fork and exec rather than popen, so that the working directory, the input
// and the exit status are exactly what the test asks for, with no shell.
#include "program_runner.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace veksieve::test {

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "veksieve-control-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void temp_dir::write(const std::string& name, const std::string& text) const {
  std::ofstream(path_ / name, std::ios::binary) << text;
}

std::string temp_dir::read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

program_result run_program(const temp_dir& dir, const std::vector<std::string>& args, const std::string& input) {
  int to_child[2];
  int from_child[2];
  if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv_text{VEKSIEVE_BINARY};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(to_child[0], STDIN_FILENO);
    ::dup2(from_child[1], STDOUT_FILENO);
    ::close(to_child[0]);
    ::close(to_child[1]);
    ::close(from_child[0]);
    ::close(from_child[1]);
    if (::chdir(dir.path().c_str()) != 0) ::_exit(126);
    ::alarm(60);  // survives exec: a hanging program ends with SIGALRM
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  // The scripted input is far below the pipe's capacity, so writing it all
  // before reading cannot block.
  ::signal(SIGPIPE, SIG_IGN);
  for (size_t done = 0; done < input.size();) {
    const ssize_t n = ::write(to_child[1], input.data() + done, input.size() - done);
    if (n <= 0) break;  // the program ended without reading it all
    done += static_cast<size_t>(n);
  }
  ::close(to_child[1]);

  program_result result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(from_child[0], buffer, sizeof buffer)) > 0;) result.out.append(buffer, static_cast<size_t>(n));
  ::close(from_child[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return result;
}

}  // namespace veksieve::test
