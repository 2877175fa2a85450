// Round-to-nearest for the x87 unit while text is formatted. The engine leaves
// the x87 unit rounding toward minus infinity, and glibc's printf honours that
// mode: 1.95 would print as "1.9" and a rate of 2.6 as "2".
#pragma once

#include <fpu_control.h>

namespace veksieve {

class scoped_nearest_rounding {
 public:
  scoped_nearest_rounding() {
    _FPU_GETCW(saved_);
    fpu_control_t nearest = (saved_ & ~fpu_control_t{_FPU_RC_ZERO}) | _FPU_RC_NEAREST;
    _FPU_SETCW(nearest);
  }
  ~scoped_nearest_rounding() { _FPU_SETCW(saved_); }
  scoped_nearest_rounding(const scoped_nearest_rounding&) = delete;
  scoped_nearest_rounding& operator=(const scoped_nearest_rounding&) = delete;

 private:
  fpu_control_t saved_;
};

}  // namespace veksieve
