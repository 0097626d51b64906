#pragma once
// The last look at a motion before it is handed on as a result. A four-point frame of nearly
// collinear points, or an ICP that lost its footing, yields a matrix that shears or flattens
// Q; written to a results file it would pass for a registration. Such a motion, and a scan too
// small for the search to mean anything, count as no motion found.

#include <cstddef>
#include <string>

namespace kestrel::app {

// Fewest points a scan (full or working set) needs: the neighbourhood of a local plane fit, the
// least on which a fit can be judged (registration/judge/fit_evidence.h).
constexpr size_t kMinScanPoints = 12;

// What the 3 x 3 part of a result may be.
enum class MotionKind {
  kRigid,       // a rotation, within kRotationTolerance
  kScaled,      // a rotation times a uniform scale from 0.5 to 2 (ICP refines the scale too)
  kSimilarity,  // a rotation times any uniform scale (the window's motion, scales folded in)
  kAnyLinear,   // any map that keeps Q's handedness (-w2 lets the run correct it affinely)
};

// Singular values may differ from 1 (or from each other, for kScaled) by this much.
constexpr double kRotationTolerance = 1e-3;

// Why the row-major matrix `m` cannot be a result of the kind asked (not finite, a mirror or
// a collapse, not a rotation), as a clause about `what` ("the best motion"); empty when it can.
std::string motion_fault(const double (&m)[4][4], MotionKind kind, const std::string& what);

// Why scans of `p_points` and `q_points` points (each the smaller of its full and working
// set) are too small for a registration; empty when they are not.
std::string scan_size_fault(size_t p_points, size_t q_points);

}  // namespace kestrel::app
