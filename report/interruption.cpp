// The stop requests of the sieve run, caught through the platform seam. The
// flag is process-wide because a signal or console handler has no other way
// to reach the run; the engine and the run do the rest on their own thread.
#include "report/interruption.hpp"

#include "common/macros.hpp"
#include "common/platform.hpp"

namespace veksieve {

namespace {

std::atomic<bool> stop_requested{false};
bool guard_active = false;

}  // namespace

interruption_guard::interruption_guard() {
  ASSERT(!guard_active);
  guard_active = true;
  stop_requested.store(false);
  catch_stop_requests(stop_requested);
}

interruption_guard::~interruption_guard() {
  release_stop_requests();
  guard_active = false;
}

std::atomic<bool>& interruption_guard::stop_flag() { return stop_requested; }

int interruption_guard::signal_number() const { return stop_request_number(); }

}  // namespace veksieve
