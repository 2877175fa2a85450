// Clean interruption: SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C,
// Ctrl-Break and the console's end) ask the running sieve to stop at the next
// prime, so that it can checkpoint exactly where it stopped. After the first
// of them the default actions are back: a second Ctrl-C ends the program at
// once.
#pragma once

#include <atomic>

namespace veksieve {

class interruption_guard {
 public:
  // Installs the handlers; the destructor puts the previous ones back. One
  // guard at a time: a signal handler can reach only process-wide state.
  interruption_guard();
  ~interruption_guard();
  interruption_guard(const interruption_guard&) = delete;
  interruption_guard& operator=(const interruption_guard&) = delete;

  // The flag the engine polls; the run may also set it itself.
  std::atomic<bool>& stop_flag();
  // The signal that asked for the stop, or 0 (common/platform.hpp numbers
  // Windows's requests).
  int signal_number() const;
};

}  // namespace veksieve
