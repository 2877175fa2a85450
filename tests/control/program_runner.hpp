// Helpers for tests that need real files: a fresh temporary directory, and the
// built program run as a process inside it with scripted standard input.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace veksieve::test {

class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

 private:
  std::filesystem::path path_;
};

struct program_result {
  std::string out;      // everything written to standard output
  int exit_status = 0;  // negative: killed by that signal
};

// Runs the built program with `args` in `dir`, `input` as its standard input.
// A program that hangs is killed after a minute.
program_result run_program(const temp_dir& dir, const std::vector<std::string>& args, const std::string& input);

}  // namespace veksieve::test
