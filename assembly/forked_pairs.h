#pragma once
// The pairs of a set on two cores. The engine's nearest-neighbour library keeps its search state
// in globals, so two pairs cannot run on two threads of one process; a forked copy of the process
// takes pairs as this one does, whichever is free first, and sends its records back through a
// pipe. Every pair's record is the same wherever it runs, so the result is too.

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "assembly/assembly_records.h"

namespace kestrel::assembly {

// Runs `run(a, b)` for every pair of `todo`, here or in a forked copy of the process, and calls
// `progress(done)` as records arrive. The records come back in the order of `todo`; a pair the
// copy took and did not send (it failed) is run here. None when the process cannot be forked:
// the caller then runs the pairs itself.
std::optional<std::vector<PairRecord>> run_pairs_in_two_processes(
    const std::vector<std::pair<size_t, size_t>>& todo,
    const std::function<PairRecord(size_t, size_t)>& run,
    const std::function<void(size_t)>& progress);

}  // namespace kestrel::assembly
