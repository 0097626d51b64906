#pragma once
// Independent work over consecutive runs of items, one thread per run. Each run must write only
// its own items' results, so that what is computed does not depend on the timing.

#include <cstddef>
#include <functional>

namespace kestrel::icp {

// Threads that share the ICP's larger loops: the machines this runs on have two cores.
constexpr int kIcpThreads = 2;

// Splits [0, n) into at most `max_parts` consecutive runs of nearly equal length, each of at
// least `min_run` items (one run when there are fewer), and calls run(part, first, last) for
// each: run 0 on this thread, the others on threads of their own. Returns when all are done.
// A run whose thread cannot be started is done on this thread.
void run_in_parts(std::size_t n, std::size_t min_run, int max_parts,
                  const std::function<void(std::size_t part, std::size_t first,
                                           std::size_t last)>& run);

}  // namespace kestrel::icp
