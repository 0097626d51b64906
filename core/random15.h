#pragma once
// The 15-bit pseudo-random generator (values 0 to 32767) with srand/rand semantics. A state
// record can be handed to whatever draws, so two engines can run side by side and draw the
// same numbers; the program's own actions share one process-wide instance, so a sequence of
// actions repeats exactly and formulas built on the 15-bit range hold.

#include <cstdint>

namespace kestrel::core {

constexpr int kRand15Max = 32767;

// The classic C runtime generator: state = state * 214013 + 2531011, value = bits 16..30.
// A fresh state draws as after srand(1). Copying a state forks the sequence.
struct Random15 {
  uint32_t state = 1;

  void seed(unsigned s) { state = s; }
  // Next value in 0 .. kRand15Max.
  int next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFFu);
  }
};

// The process-wide generator of the program's actions and file reads.
Random15& process_random15();

// srand/rand on the process-wide generator.
void srand15(unsigned seed);
int rand15();

}  // namespace kestrel::core
