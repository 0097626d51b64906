#pragma once
// The assembly driver: scans prepared, pairs registered and judged, the pose graph solved over
// the confident ones, every placed scan refined against all the others.

#include <vector>

#include "assembly/assembly_records.h"
#include "assembly/scan_set.h"
#include "core/point_set.h"

namespace kestrel::assembly {

// Assembles `scans` (two or more, each with a few points at least) into the first one's
// coordinates. With two threads every other pair runs in a forked copy of the process
// (forked_pairs.h), each on one thread; with one, the pairs run one after the other.
AssemblyResult assemble(const std::vector<const core::PointSet*>& scans,
                        const AssemblyOptions& options, const AssemblyHooks& hooks = {});

// What follows the pairwise stage, for callers that run the pairs themselves (elsewhere, in
// any order): the pose graph over `pairs` (records of register_pair on `set`, in the order of
// pairs_to_try, or any order: they are sorted), the refinement and the placements. time_s is
// left to the caller.
AssemblyResult finish_assembly(const ScanSet& set, std::vector<PairRecord> pairs, int threads);

}  // namespace kestrel::assembly
