// Rank 0's console passed on by threads of its own. mpirun stops reading the
// ranks' output while it ends a job (from passing on a signal to its kill),
// and a console write that waits for it then keeps the committer, and the
// checkpoint after it, from ever being written.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace veksieve {

// Removes from `pending` what goes to the console now and returns it: every
// finished line, without what a carriage return in it writes over, and with
// `with_unfinished` the unfinished last line too; otherwise that line stays,
// reduced in the same way.
std::string take_passable(std::string& pending, bool with_unfinished);

class console_relay {
 public:
  // Puts a terminal of its own (a pipe when stdout is no terminal) in place
  // of stdout, read into memory as it is written and passed on from there.
  // When neither can be had, stdout stays as it is.
  console_relay();
  // Puts stdout back and waits until everything written has been passed on.
  ~console_relay();
  console_relay(const console_relay&) = delete;
  console_relay& operator=(const console_relay&) = delete;

 private:
  void take_output();
  void pass_on();

  int console_ = -1;  // the real stdout
  int source_ = -1;   // where this process's output arrives
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::string pending_;
  bool ended_ = false;
  std::jthread taker_;
  std::jthread passer_;
};

}  // namespace veksieve
