// Whether sieving still pays (-r=SECONDS): searchers stop sieving once a
// factor takes longer to find than a primality test of a candidate takes.
// The time per factor is taken over a window of at least the last hour and
// at least the last ten factors, so that one lucky or unlucky stretch
// decides nothing; before a whole hour has passed it is not judged at all.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace veksieve {

// The environment variable that shortens the hour (whole seconds from 1),
// for tests that must see a run stop.
constexpr const char* payoff_window_variable = "VEKSIEVE_PAYOFF_WINDOW_SECONDS";

class factor_payoff {
 public:
  static constexpr double default_window_seconds = 3600;
  static constexpr std::size_t least_factors = 10;

  // Times are seconds on one steady clock; `start` is the run's.
  factor_payoff(double limit_seconds, double start, double window_seconds = default_window_seconds);

  void factor_found(double now);

  // Seconds per factor over the window ending now (infinite when it holds no
  // factor), or nothing while less than one window has passed.
  std::optional<double> seconds_per_factor(double now) const;

  double limit() const { return limit_; }
  double window() const { return window_; }

 private:
  double limit_;
  double start_;
  double window_;
  std::deque<double> found_;  // times of the factors within the window, and the last ten
};

// "412 s per factor", or "no factor found" for a window without one.
std::string seconds_per_factor_text(double seconds);

}  // namespace veksieve
