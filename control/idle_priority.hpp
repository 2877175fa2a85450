// Lowers the process to idle priority, so that a sieve running for days only
// takes CPU time nobody else wants.
#pragma once

namespace veksieve {

// Best effort: nothing depends on it succeeding.
void lower_to_idle_priority();

}  // namespace veksieve
