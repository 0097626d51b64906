// Closed-form motion from matched bases, and the affine correction.

#include "registration/congruent/motion_estimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "core/rigid_transform.h"
#include "registration/congruent/affine_correction.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

// A skewed, nearly planar base: no two points at the same distance from the centroid.
const core::PointSet kBase = {point(0, 0, 1), point(40, 5, 2), point(12, 30, 0), point(-9, 22, 3)};

// The estimate's motion under the names the tests use.
struct Motion {
  core::RigidTransform m;
  core::DenseMatrix& R = m.R;
  double (&t)[3] = m.t;
  double (&c)[3] = m.c;
  float& s = m.s;
  double estimate(std::vector<core::PointMatch>& matches, bool ransac) {
    const MotionEstimate e = estimate_rigid_motion(matches, !ransac);
    m = e.motion;
    return e.residual;
  }
  core::Point3D apply(core::Point3D p) const {
    core::transform_point(p, m);
    return p;
  }
};

std::vector<core::PointMatch> matches_of(const core::PointSet& p, const core::PointSet& q) {
  std::vector<core::PointMatch> m;
  for (size_t k = 0; k < p.size(); ++k) m.push_back({p[k], q[k]});
  return m;
}

void expect_near(const core::Point3D& a, const core::Point3D& b, double tol) {
  EXPECT_NEAR(a.x, b.x, tol);
  EXPECT_NEAR(a.y, b.y, tol);
  EXPECT_NEAR(a.z, b.z, tol);
}

double determinant(const core::DenseMatrix& R) {
  return R(0, 0) * (R(1, 1) * R(2, 2) - R(1, 2) * R(2, 1)) -
         R(0, 1) * (R(1, 0) * R(2, 2) - R(1, 2) * R(2, 0)) +
         R(0, 2) * (R(1, 0) * R(2, 1) - R(1, 1) * R(2, 0));
}

// ---------------------------------------------------------------- rigid motion

TEST(MotionEstimation, CoincidingMatchesGiveTheIdentity) {
  std::vector<core::PointMatch> m = matches_of(kBase, kBase);
  m.resize(3);
  Motion mo;
  EXPECT_NEAR(mo.estimate(m, true), 0.0, 1e-5);
  EXPECT_LT(test::angle_between(mo.R, core::identity_matrix(3)), 1e-3);
  for (double v : mo.t) EXPECT_NEAR(v, 0.0, 1e-5);
  EXPECT_EQ(mo.s, 1.0f);
}

TEST(MotionEstimation, PureTranslationIsRecoveredInTheTranslation) {
  const double shift[3] = {1, 2, 3};
  const core::PointSet q = test::moved(kBase, core::identity_matrix(3), shift);
  std::vector<core::PointMatch> m = matches_of(kBase, q);
  Motion mo;
  EXPECT_NEAR(mo.estimate(m, false), 0.0, 1e-5);
  EXPECT_NEAR(mo.t[0], -1, 1e-5);
  EXPECT_NEAR(mo.t[1], -2, 1e-5);
  EXPECT_NEAR(mo.t[2], -3, 1e-5);
}

TEST(MotionEstimation, RecoversAKnownMotionFromScrambledQPoints) {
  // Q is P moved by a known motion; the quad lists Q's points in another order.
  const double t[3] = {25, -13, 7};
  const core::PointSet q = test::moved(kBase, test::rotation(0.3, -1, 0.4, 70), t);
  const core::PointSet scrambled = {q[2], q[0], q[3], q[1]};
  std::vector<core::PointMatch> m = matches_of(kBase, scrambled);
  Motion mo;
  EXPECT_NEAR(mo.estimate(m, false), 0.0, 1e-3);
  for (size_t k = 0; k < 4; ++k) {
    expect_near(m[k].q, q[k], 0.0);  // re-paired
    expect_near(mo.apply(q[k]), kBase[k], 1e-3);
  }
  EXPECT_NEAR(determinant(mo.R), 1.0, 1e-5);
}

TEST(MotionEstimation, RansacModeKeepsTheCallersOrder) {
  const double t[3] = {0, 0, 0};
  const core::PointSet q = test::moved(kBase, test::rotation(0, 0, 1, 30), t);
  const core::PointSet scrambled = {q[1], q[0], q[2]};
  std::vector<core::PointMatch> m = matches_of({kBase[0], kBase[1], kBase[2]}, scrambled);
  Motion mo;
  EXPECT_GT(mo.estimate(m, true), 1.0);
  expect_near(m[0].q, q[1], 0.0);
  expect_near(m[1].q, q[0], 0.0);
}

TEST(MotionEstimation, ResidualSumsThreeErrorsAndDividesByTheMatchCount) {
  core::PointSet q = kBase;
  q[2].x += 3.0;  // the third frame point is off in the base plane
  std::vector<core::PointMatch> four = matches_of(kBase, q);
  std::vector<core::PointMatch> three(four.begin(), four.begin() + 3);
  Motion a, b;
  const double r4 = a.estimate(four, true);
  const double r3 = b.estimate(three, true);
  EXPECT_GT(r3, 0.1);
  EXPECT_NEAR(r4, r3 * 3 / 4, 1e-9);
}

TEST(MotionEstimation, MirrorImageIsNotMatchedByAReflection) {
  core::PointSet mirror = kBase;
  for (core::Point3D& p : mirror) p.x = -p.x;
  std::vector<core::PointMatch> m = matches_of(kBase, mirror);
  Motion mo;
  mo.estimate(m, true);
  EXPECT_NEAR(determinant(mo.R), 1.0, 1e-5);
}

TEST(MotionEstimation, FourthMatchDoesNotTouchTheRotation) {
  core::PointSet q = kBase;
  q[3].x += 50;
  std::vector<core::PointMatch> a = matches_of(kBase, kBase), b = matches_of(kBase, q);
  Motion ma, mb;
  ma.estimate(a, true);
  mb.estimate(b, true);
  EXPECT_EQ(ma.R.data, mb.R.data);
}

// ---------------------------------------------------------------- affine correction

TEST(AffineCorrection, AbsorbsScaleAfterTheRigidMotion) {
  // Q is a planar base shrunk by 0.95 about (3, 4, 5), turned and moved.
  core::PointSet planar = kBase;
  for (core::Point3D& p : planar) p.z = 1;
  core::PointSet shrunk = planar;
  for (core::Point3D& p : shrunk) {
    p.x = 3 + 0.95 * (p.x - 3);
    p.y = 4 + 0.95 * (p.y - 4);
    p.z = 5 + 0.95 * (p.z - 5);
  }
  const double t[3] = {-6, 2, 9};
  const core::PointSet q = test::moved(shrunk, test::rotation(1, 1, 0, 25), t);
  std::vector<core::PointMatch> m = matches_of(planar, q);
  Motion mo;
  mo.estimate(m, false);
  for (core::PointMatch& match : m) core::transform_point(match.q, mo.m);
  const std::optional<AffineCorrection> correction = estimate_affine_correction(m);
  ASSERT_TRUE(correction.has_value());
  mo.m = combine_with_correction(*correction, mo.m);
  EXPECT_EQ(mo.s, 1.0f);
  for (size_t k = 0; k < 4; ++k) expect_near(mo.apply(q[k]), planar[k], 1e-3);
}

TEST(AffineCorrection, CollinearBaseIsRejected) {
  const core::PointSet line = {point(0, 0, 0), point(10, 0, 0), point(20, 0, 0), point(5, 5, 0)};
  EXPECT_FALSE(estimate_affine_correction(matches_of(line, line)).has_value());
  // Collinear on the Q side only is rejected as well.
  EXPECT_FALSE(estimate_affine_correction(matches_of(kBase, line)).has_value());
}

}  // namespace
}  // namespace kestrel::registration
