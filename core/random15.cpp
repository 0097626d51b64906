#include "core/random15.h"

#include <cstdint>

namespace kestrel::core {

namespace {
// The classic C runtime generator: state = state * 214013 + 2531011, value = bits 16..30.
// The state starts as after srand(1).
uint32_t g_state = 1;
}  // namespace

void srand15(unsigned seed) { g_state = seed; }

int rand15() {
  g_state = g_state * 214013u + 2531011u;
  return static_cast<int>((g_state >> 16) & 0x7FFFu);
}

}  // namespace kestrel::core
