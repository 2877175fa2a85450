// Access to the x87 control word. The modular product estimates its quotient
// in the x87 extended type and needs a 64-bit mantissa with rounding toward
// minus infinity; SSE arithmetic (double, float) is not affected.
#pragma once

#include <cstdint>

namespace veksieve {

// Precision control: 64-bit mantissa. Rounding control: toward minus infinity.
constexpr uint16_t fpu_precision_64 = 0x300;
constexpr uint16_t fpu_precision_mask = 0x300;
constexpr uint16_t fpu_round_down = 0x400;
constexpr uint16_t fpu_rounding_mask = 0xC00;

// The x87 control word of this thread (0 where there is no x87 unit).
uint16_t fpu_control_word();

// control word := (control word AND NOT mask) OR (value AND mask).
void set_fpu_control(uint16_t value, uint16_t mask);

// The mode the engine's arithmetic needs, set in the engine's order:
// precision first, then rounding. Per thread; the engine leaves it set.
void set_engine_fpu_mode();

// Sets the engine's mode for the lifetime of the object and then puts the
// previous control word back (tests, and callers that want the mode briefly).
class engine_fpu_scope {
 public:
  engine_fpu_scope() : saved_(fpu_control_word()) { set_engine_fpu_mode(); }
  ~engine_fpu_scope() { set_fpu_control(saved_, 0xFFFF); }
  engine_fpu_scope(const engine_fpu_scope&) = delete;
  engine_fpu_scope& operator=(const engine_fpu_scope&) = delete;

 private:
  uint16_t saved_;
};

}  // namespace veksieve
