// The x87 control word through glibc's <fpu_control.h>; a no-op elsewhere,
// where only the x87 product, absent there, would depend on it.
#include "engine/fpu_control.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <fpu_control.h>
#define VEKSIEVE_HAVE_FPU_CONTROL 1
#endif

namespace veksieve {

uint16_t fpu_control_word() {
#if VEKSIEVE_HAVE_FPU_CONTROL
  fpu_control_t word;
  _FPU_GETCW(word);
  return static_cast<uint16_t>(word);
#else
  return 0;
#endif
}

void set_fpu_control(uint16_t value, uint16_t mask) {
#if VEKSIEVE_HAVE_FPU_CONTROL
  fpu_control_t word;
  _FPU_GETCW(word);
  word = static_cast<fpu_control_t>((word & ~fpu_control_t{mask}) | (value & mask));
  _FPU_SETCW(word);
#else
  (void)value;
  (void)mask;
#endif
}

void set_engine_fpu_mode() {
  set_fpu_control(fpu_precision_64, fpu_precision_mask);
  set_fpu_control(fpu_round_down, fpu_rounding_mask);
}

}  // namespace veksieve
