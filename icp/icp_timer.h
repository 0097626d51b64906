#pragma once
// Elapsed time for the verbose messages of the ICP, from the monotonic high-resolution clock.

#include <chrono>

namespace kestrel::icp {

using IcpClock = std::chrono::steady_clock;

inline double elapsed_ms(IcpClock::time_point t0, IcpClock::time_point t1 = IcpClock::now()) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

}  // namespace kestrel::icp
