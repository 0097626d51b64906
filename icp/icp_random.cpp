#include "icp/icp_random.h"

namespace kestrel::icp {

namespace {
uint32_t state = 0;
}

float icp_random() {
  state = state * 1664525u + 1013904223u;
  return static_cast<float>(static_cast<double>(state) * (1.0 / 4294967296.0));
}

void reset_icp_random() {
  state = 0;
}

uint32_t icp_random_state() {
  return state;
}

}  // namespace kestrel::icp
