#pragma once
// Motions proposed by local surface shape. Each working point gets a histogram of how the
// surface turns around it: the angles between its normal, its neighbours' normals and the lines
// to them, blended with its neighbours' own histograms (fast point feature histograms). Points
// of Q and P whose histograms are each other's nearest are matched; every two matches whose
// lengths and normals agree give a motion, and the motions that carry the most matches win.
// Where two scans share only a strip, wide bases rarely fall inside it, but matches do.

#include <array>
#include <cstddef>
#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"

namespace kestrel::registration {

constexpr size_t kFeatureBins = 33;  // three angles, eleven bins each
using SurfaceFeature = std::array<float, kFeatureBins>;

// The histogram of every point of `working` (positions and unit normals) over the neighbours
// within `radius`; with `flip` the normals count as turned the other way. A point without
// neighbours gets an empty histogram.
std::vector<SurfaceFeature> surface_features(const core::PointSet& working, double radius,
                                             bool flip);

// Feature p of P and feature q of Q, each the other's nearest.
struct Match {
  int p, q;
};

// The pairs (p, q) whose features are each other's nearest (squared distance, summed bin by bin
// in order; the first on equal distances), in order of q. With two threads each takes half of
// fq; the pairs are the same.
std::vector<Match> mutual_matches(const std::vector<SurfaceFeature>& fp,
                                  const std::vector<SurfaceFeature>& fq, int threads);

// A motion that matched features propose, and its votes: the matches it brings within the
// tolerance, with those of the weaker motions near it.
struct FeatureMotion {
  core::RigidTransform motion;  // Q onto P
  int carried = 0;
};

struct FeatureSettings {
  std::vector<double> radii;  // of the histograms' neighbourhoods, each in turn
  double tolerance = 0;       // a match is carried when moved this close to its P point
  size_t count = 12;          // motions at most, most votes first
  int threads = 1;            // 2: the matching is split between two threads (the same motions)
};

// The motions with the most votes from mutual feature matches between P and Q (both working
// sets with oriented normals), at every radius. Each motion of two matches that carries at least
// three is refitted to those it carries; motions near a better one add their votes to it. Q's
// normals are tried as they are and turned over, since each scan's normals were oriented on
// their own.
std::vector<FeatureMotion> feature_motions(const core::PointSet& p, const core::PointSet& q,
                                           const FeatureSettings& settings);

}  // namespace kestrel::registration
