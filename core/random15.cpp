#include "core/random15.h"

namespace kestrel::core {

Random15& process_random15() {
  static Random15 generator;
  return generator;
}

void srand15(unsigned seed) {
  process_random15().seed(seed);
}

int rand15() {
  return process_random15().next();
}

}  // namespace kestrel::core
