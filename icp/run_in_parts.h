#pragma once
// Independent work over consecutive runs of items, shared by the calling thread and one helper
// thread that lives as long as the process. Each run must write only its own items' results,
// so that what is computed does not depend on who runs what or when.

#include <cstddef>
#include <functional>

namespace kestrel::icp {

// Runs a job is split into at most, by default: few enough that handing them out costs next
// to nothing, many enough that the two threads end together and that the caller seldom waits
// long for a run the helper has begun (on a busy machine the helper may be paused mid-run).
constexpr int kMaxRuns = 16;

using RunFn = std::function<void(std::size_t part, std::size_t first, std::size_t last)>;

// Splits [0, n) into at most `max_parts` consecutive runs of nearly equal length, each of at
// least `min_run` items (one run when there are fewer), and calls run(part, first, last) for
// each. With `threads` 1 every run stays on this thread; with 2 the runs go to whichever of
// this thread and the helper asks first, so a helper that is late, busy with another caller,
// or missing (no thread could be started) only costs time. The runs, and so the results, are
// the same for either count. Returns when all runs are done. After a run throws no other run
// begins, and the first exception is passed on once the runs already begun are done.
void run_in_parts(std::size_t n, std::size_t min_run, int max_parts, int threads, const RunFn& run);

}  // namespace kestrel::icp
