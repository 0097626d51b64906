// Surface features: unchanged by a motion of the scan and by turning all its normals over with
// the flag, and matched well enough to give the motion of two scans that share a strip; the
// point-to-plane steps that bring such a rough motion in.

#include "registration/any_pose/feature_motions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "registration/any_pose/plane_steps.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

// A bumpy sheet z = sum of Gaussian bumps over [x0, x1] x [-40, 40], sampled on a jittered grid
// of spacing 2, with unit normals facing +z. The bumps are the same for every x range, so two
// ranges are two scans of one surface.
core::PointSet bumpy_sheet(double x0, double x1, uint32_t seed) {
  std::mt19937 bumps_rng(7);
  std::uniform_real_distribution<double> ux(-60, 100), uy(-40, 40), uh(-6, 6), uw(4, 12);
  struct Bump {
    double x, y, h, w;
  };
  std::vector<Bump> bumps;
  for (int k = 0; k < 40; ++k)
    bumps.push_back({ux(bumps_rng), uy(bumps_rng), uh(bumps_rng), uw(bumps_rng)});
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> jitter(-0.4, 0.4);
  core::PointSet set;
  for (double x = x0; x <= x1; x += 2)
    for (double y = -40; y <= 40; y += 2) {
      const double px = x + jitter(rng), py = y + jitter(rng);
      double z = 0, gx = 0, gy = 0;
      for (const Bump& b : bumps) {
        const double dx = px - b.x, dy = py - b.y;
        const double e = b.h * std::exp(-(dx * dx + dy * dy) / (b.w * b.w));
        z += e;
        gx += -2 * dx / (b.w * b.w) * e;
        gy += -2 * dy / (b.w * b.w) * e;
      }
      core::Point3D p = test::point(px, py, z);
      const double len = std::sqrt(gx * gx + gy * gy + 1);
      p.nx = -gx / len, p.ny = -gy / len, p.nz = 1 / len;
      set.push_back(p);
    }
  return set;
}

core::PointSet flipped(core::PointSet set) {
  for (core::Point3D& p : set) p.nx = -p.nx, p.ny = -p.ny, p.nz = -p.nz;
  return set;
}

float largest_difference(const std::vector<SurfaceFeature>& a,
                         const std::vector<SurfaceFeature>& b) {
  float worst = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t k = 0; k < kFeatureBins; ++k) worst = std::max(worst, std::fabs(a[i][k] - b[i][k]));
  return worst;
}

// Features on a coarse lattice of values, so that equal distances are common: the mutual
// nearest pairs as one distance at a time gives them, for sets that fill no, part of and
// several stretches of features and blocks of rows, from one thread and two.
TEST(MutualMatches, AsOneDistanceAtATimeGivesThem) {
  const auto features = [](size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> level(0, 3);
    std::vector<SurfaceFeature> out(n);
    for (SurfaceFeature& f : out)
      for (float& v : f) v = 0.25f * static_cast<float>(level(rng));
    return out;
  };
  const auto distance = [](const SurfaceFeature& a, const SurfaceFeature& b) {
    float d = 0;
    for (size_t k = 0; k < kFeatureBins; ++k) d += (a[k] - b[k]) * (a[k] - b[k]);
    return d;
  };
  const auto nearest = [&](const SurfaceFeature& f, const std::vector<SurfaceFeature>& among) {
    size_t best = 0;
    for (size_t i = 1; i < among.size(); ++i)
      if (distance(f, among[i]) < distance(f, among[best])) best = i;
    return best;
  };
  const std::pair<size_t, size_t> sizes[] = {{1, 1}, {5, 3}, {300, 7}, {600, 9}, {257, 41}};
  for (const auto& [np, nq] : sizes) {
    const std::vector<SurfaceFeature> fp = features(np, 3), fq = features(nq, 4);
    std::vector<std::pair<int, int>> expected;
    for (size_t j = 0; j < nq; ++j) {
      const size_t i = nearest(fq[j], fp);
      if (nearest(fp[i], fq) == j) expected.emplace_back(static_cast<int>(i), static_cast<int>(j));
    }
    for (const int threads : {1, 2}) {
      std::vector<std::pair<int, int>> got;
      for (const Match& m : mutual_matches(fp, fq, threads)) got.emplace_back(m.p, m.q);
      EXPECT_EQ(got, expected) << np << " x " << nq << ", " << threads << " threads";
    }
  }
}

TEST(SurfaceFeatures, DoNotChangeWithTheScansPoseUnitsOrTheSignOfItsNormals) {
  const core::PointSet sheet = bumpy_sheet(-40, 40, 1);
  const std::vector<SurfaceFeature> base = surface_features(sheet, 8, false);
  const double t[3] = {30, -12, 7};
  core::PointSet in_metres = sheet;
  for (core::Point3D& p : in_metres) p.x *= 1e-3, p.y *= 1e-3, p.z *= 1e-3;
  struct Case {
    const char* name;
    core::PointSet set;
    double radius;
    bool flip;
  };
  const Case cases[] = {
      {"turned and moved", test::moved(sheet, test::rotation(1, 2, -1, 70), t), 8, false},
      {"turned upside down", test::moved(sheet, test::rotation(1, 0, 0, 180), t), 8, false},
      {"normals turned over, flag set", flipped(sheet), 8, true},
      {"in metres", in_metres, 8e-3, false},
  };
  for (const Case& c : cases)
    EXPECT_LT(largest_difference(base, surface_features(c.set, c.radius, c.flip)), 1e-2f) << c.name;
  // The flag matters: the same normals read the other way round give other histograms.
  EXPECT_GT(largest_difference(base, surface_features(sheet, 8, true)), 1.0f);
  // A point with no neighbour in reach has an empty histogram.
  const std::vector<SurfaceFeature> lone =
      surface_features({test::point(0, 0, 0), test::point(100, 0, 0)}, 8, false);
  for (float v : lone[0]) EXPECT_EQ(v, 0.0f);
}

// The scans x in [-40, 40] (P) and [x0, 120] (Q, moved by a known motion; normals turned over
// where asked): the motion carrying most matches is the true one, to about the match tolerance
// (the polish that follows does the rest).
TEST(FeatureMotions, FindTheMotionOfScansThatShareAStrip) {
  struct Case {
    double q_from;  // Q starts here: the shared strip is [q_from, 40]
    double degrees;
    bool q_flipped;
  };
  const Case cases[] = {{0, 60, false}, {10, 150, false}, {15, 100, true}, {20, 30, false}};
  const core::PointSet p = bumpy_sheet(-40, 40, 2);
  for (const Case& c : cases) {
    const core::DenseMatrix R = test::rotation(0.3, -1, 0.5, c.degrees);
    const double t[3] = {-20, 45, 10};
    core::PointSet q = test::moved(bumpy_sheet(c.q_from, 120, 3), R, t);
    if (c.q_flipped) q = flipped(q);
    const std::vector<FeatureMotion> found = feature_motions(p, q, {{8}, 4, 6});
    ASSERT_FALSE(found.empty()) << c.q_from;
    // The best motion takes Q back where it came from: compare with the inverse of (R, t).
    const core::RigidTransform truth =
        core::rigid_inverse(core::linear_motion(R, t[0], t[1], t[2]));
    EXPECT_LT(test::angle_between(found[0].motion.R, truth.R), 4.0) << c.q_from;
    core::Point3D a = q[q.size() / 2], b = a;
    core::transform_point(a, found[0].motion);
    core::transform_point(b, truth);
    EXPECT_LT(core::distance(a, b), 4.0) << c.q_from;
    EXPECT_GE(found[0].carried, 3) << c.q_from;
    for (size_t k = 1; k < found.size(); ++k) EXPECT_LE(found[k].carried, found[0].carried);
    // Two threads split the matching; the earlier half must win its ties as one pass would.
    const std::vector<FeatureMotion> split = feature_motions(p, q, {{8}, 4, 6, 2});
    ASSERT_EQ(split.size(), found.size()) << c.q_from;
    for (size_t k = 0; k < found.size(); ++k) {
      EXPECT_EQ(split[k].carried, found[k].carried) << c.q_from;
      core::Point3D x = q[k], y = q[k];
      core::transform_point(x, split[k].motion);
      core::transform_point(y, found[k].motion);
      EXPECT_TRUE(x.x == y.x && x.y == y.y && x.z == y.z) << c.q_from << " motion " << k;
    }
  }
}

// Q is the sheet over [q_from, 120] moved off by a turn and a shift from where it fits P (the
// sheet over [-40, 40]); the steps start from there and must end where Q fits.
TEST(PlaneSteps, BringARoughMotionOntoTheSurface) {
  struct Case {
    double q_from;
    double degrees;  // of the start's error
    double shift;
    bool wall;  // Q also holds a wall standing across P beyond the overlap
  };
  const Case cases[] = {
      {-40, 10, 3, false}, {0, 15, 4, false}, {15, 10, 2, false}, {0, 10, 3, true}};
  const core::PointSet p = bumpy_sheet(-40, 40, 2);
  const PointGrid grid(p, 4.0);
  PlaneStepOptions options;
  options.radii = {10, 10, 8, 8, 6, 6, 4};
  options.steps = 20;
  options.settle = 0.01;
  for (const Case& c : cases) {
    core::PointSet q = bumpy_sheet(c.q_from, 120, 3);
    if (c.wall) test::add_crossing_wall(q, 60);
    const core::DenseMatrix R = test::rotation(1, 0.4, -0.2, c.degrees);
    const core::RigidTransform off = core::linear_motion(R, c.shift, -c.shift, 0.5 * c.shift);
    const core::RigidTransform m = plane_steps(q, p, grid, off, options);
    EXPECT_LT(test::angle_between(m.R, core::identity_matrix(3)), 0.5) << c.q_from;
    core::Point3D a = test::point(30, 0, 0);
    core::transform_point(a, m);
    EXPECT_LT(core::distance(a, test::point(30, 0, 0)), 0.5) << c.q_from;
  }
  // Too few pairs within reach: the start comes back unchanged.
  const core::RigidTransform far = core::linear_motion(core::identity_matrix(3), 0, 0, 50);
  const core::RigidTransform kept = plane_steps(p, p, grid, far, options);
  EXPECT_EQ(kept.t[2], 50);
}

}  // namespace
}  // namespace kestrel::registration
