// The payoff window. Only the factors that can still fall into a window are
// kept: those of the last window, and at least the last ten.
#include "report/factor_payoff.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/text_format.hpp"

namespace veksieve {

factor_payoff::factor_payoff(double limit_seconds, double start, double window_seconds)
    : limit_(limit_seconds), start_(start), window_(window_seconds) {}

void factor_payoff::factor_found(double now) {
  found_.push_back(now);
  while (found_.size() > least_factors && found_.front() < now - window_) found_.pop_front();
}

std::optional<double> factor_payoff::seconds_per_factor(double now) const {
  if (now - start_ < window_) return std::nullopt;
  // The window reaches back an hour, or further to take in ten factors, but
  // never before the run started.
  double from = now - window_;
  if (found_.size() >= least_factors) from = std::min(from, found_[found_.size() - least_factors]);
  else if (!found_.empty()) from = start_;
  from = std::max(from, start_);
  const auto in_window = static_cast<double>(found_.end() - std::lower_bound(found_.begin(), found_.end(), from));
  if (in_window == 0) return std::numeric_limits<double>::infinity();
  return (now - from) / in_window;
}

std::string seconds_per_factor_text(double seconds) {
  if (!std::isfinite(seconds)) return "no factor found";
  return text_format("%.0f s per factor", seconds);
}

}  // namespace veksieve
