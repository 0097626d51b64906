#pragma once
// The ICP's own sampling generator: one process-wide 32-bit linear congruential state, 0 at
// program start and never reseeded, so a second run continues the sequence of the first.

#include <cstdint>

namespace kestrel::icp {

// Advances the state (state * 1664525 + 1013904223 mod 2^32) and returns state * 2^-32 as a
// float in [0, 1].
float icp_random();

// Back to the state of program start, for a caller that begins a new session in the same process.
void reset_icp_random();

// The current state, for checking that sequences continue.
uint32_t icp_random_state();

}  // namespace kestrel::icp
