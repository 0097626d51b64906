#pragma once
// The multi-view refinement: every placed scan is laid on all the others at once. Points of each
// scan are paired with the nearest point of every other scan that overlaps it, and one
// point-to-plane least-squares step moves all scans together (the first stays), so the errors of
// the pairwise motions are spread over the whole model instead of piling up along a chain.

#include <vector>

#include "assembly/pose_math.h"
#include "assembly/scan_set.h"

namespace kestrel::assembly {

struct Refinement {
  std::vector<Pose> poses;         // scan i's centred coordinates into scan 0's
  std::vector<double> residual;    // RMS point-to-plane distance of scan i's pairs at the end
  std::vector<size_t> neighbours;  // scans that scan i was paired with at the end
};

// Refines `poses` (as above) of the `placed` scans of `set`; the others, and scan `fixed`, keep
// their pose. `radii`: the pairing radius of each step in thinning cells (empty: a schedule for
// poses from the pose graph). With `threads` 2 the pairs are found two scans at a time: the
// same result.
Refinement refine_placement(const ScanSet& set, const std::vector<Pose>& poses,
                            const std::vector<bool>& placed, int threads, size_t fixed = 0,
                            const std::vector<double>& radii = {});

}  // namespace kestrel::assembly
