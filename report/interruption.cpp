// Signal handling for the sieve run. The handler only stores two lock-free
// values and restores the default actions, all async-signal-safe; the engine
// and the run do the rest on their own thread.
#include "report/interruption.hpp"

#include <signal.h>

#include "common/macros.hpp"

namespace veksieve {

namespace {

constexpr int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};

static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

// Process-wide because a signal handler has no other way to reach the run.
std::atomic<bool> stop_requested{false};
volatile sig_atomic_t received_signal = 0;
bool guard_active = false;
struct sigaction previous_actions[3];
// A signal ignored when the run starts (nohup) stays ignored.
volatile sig_atomic_t handled[3] = {0, 0, 0};

void restore_defaults() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) {
    if (handled[i]) sigaction(handled_signals[i], &action, nullptr);
  }
}

extern "C" void on_stop_signal(int sig) {
  if (received_signal == 0) received_signal = sig;
  stop_requested.store(true);
  restore_defaults();
}

}  // namespace

interruption_guard::interruption_guard() {
  ASSERT(!guard_active);
  guard_active = true;
  stop_requested.store(false);
  received_signal = 0;
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : handled_signals) sigaddset(&action.sa_mask, sig);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) {
    sigaction(handled_signals[i], nullptr, &previous_actions[i]);
    handled[i] = previous_actions[i].sa_handler != SIG_IGN;
    if (handled[i]) sigaction(handled_signals[i], &action, nullptr);
  }
}

interruption_guard::~interruption_guard() {
  for (int i = 0; i < 3; ++i) sigaction(handled_signals[i], &previous_actions[i], nullptr);
  guard_active = false;
}

std::atomic<bool>& interruption_guard::stop_flag() { return stop_requested; }

int interruption_guard::signal_number() const { return received_signal; }

}  // namespace veksieve
