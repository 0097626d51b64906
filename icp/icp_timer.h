#pragma once
// Elapsed time for the verbose messages of the ICP, from the monotonic high-resolution clock.

#include "core/clock.h"

namespace kestrel::icp {

using IcpClock = core::Clock;
using core::elapsed_ms;

}  // namespace kestrel::icp
