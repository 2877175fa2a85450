// The x87 control word through the platform seam; a no-op on targets without
// an x87 unit, where only the x87 product, absent there, would depend on it.
#include "engine/fpu_control.hpp"

#include "common/platform.hpp"

namespace veksieve {

uint16_t fpu_control_word() { return x87_control_word(); }

void set_fpu_control(uint16_t value, uint16_t mask) {
  const uint16_t word = x87_control_word();
  set_x87_control_word(static_cast<uint16_t>((word & ~mask) | (value & mask)));
}

void set_engine_fpu_mode() {
  set_fpu_control(fpu_precision_64, fpu_precision_mask);
  set_fpu_control(fpu_round_down, fpu_rounding_mask);
}

}  // namespace veksieve
