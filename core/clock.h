#pragma once
// The millisecond tick counter of run times, debug timings and the window's frame pacing.

#include <chrono>
#include <cstdint>

namespace kestrel::core {

using Clock = std::chrono::steady_clock;

// Whole milliseconds of a monotonic clock (the origin is arbitrary).
inline int64_t tick_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
}

// Milliseconds, with fractions, from t0 to t1.
inline double elapsed_ms(Clock::time_point t0, Clock::time_point t1 = Clock::now()) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

}  // namespace kestrel::core
