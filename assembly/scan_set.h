#pragma once
// The scans of an assembly, each prepared once for every pair it takes part in: centred on its
// own centroid (so that motions between scans far from the origin keep their digits), thinned by
// one cell common to all of them, with normals fitted in 3D, the search structures, and a
// signature of its shape that does not depend on its pose.

#include <Eigen/Dense>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "core/point_set.h"
#include "registration/any_pose/any_pose_scan.h"
#include "registration/any_pose/point_grid.h"

namespace kestrel::assembly {

// What the refinements ask of a scan.
struct RefineView {
  std::vector<Eigen::Vector3d> sample;                  // points that look for partners
  std::optional<registration::PointGrid> working_grid;  // the working points carry the normals
  Eigen::Vector3d centre;                               // of the sample
  double reach = 0;    // largest distance of a sample point from the centre
  double spacing = 0;  // of the full scan
};

struct ScanSet {
  std::vector<core::PointSet> full;                 // each scan, minus its centroid
  std::vector<std::array<double, 3>> centroid;      // what was taken off each scan
  std::vector<registration::AnyPoseScan> prepared;  // thinned, with normals, index built
  std::vector<std::vector<double>> signature;       // shape histograms, summing to 3
  std::vector<RefineView> views;                    // what the refinements ask of each scan
  double cell = 0;                                  // the thinning cell of every scan
};

// The working sets hold about this many points for a scan of typical density: fewer than the
// pairwise aligner's thousand, as a pair's search costs about the square of it and an
// assembly runs many; each pair's motion is refined on the full scans afterwards.
constexpr size_t kWorkingPoints = 600;

// Prepares `scans` (each at least a few points; they need not outlive the result). With
// `threads` 2 the scans are thinned and given normals two at a time: the same result.
ScanSet prepare_scans(const std::vector<const core::PointSet*>& scans, int threads);

// Distance of two signatures: 0 for the same shape histograms, up to 6.
double signature_distance(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace kestrel::assembly
