#pragma once
// The process-wide 15-bit pseudo-random generator (values 0 to 32767) with srand/rand semantics.
// Every random draw of the registration, the file reader and the model actions goes through it,
// so a sequence of actions repeats exactly and formulas built on the 15-bit range hold.

namespace kestrel::core {

constexpr int kRand15Max = 32767;

void srand15(unsigned seed);
// Next value in 0 .. kRand15Max.
int rand15();

}  // namespace kestrel::core
