// What the window computes to draw, without a window: field input, the distance view's data,
// rigid motions of a drawn model, the fitted view, the flat triangles, the verdict line and the
// message log.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/field_input.h"
#include "app/flat_triangles.h"
#include "app/messages.h"
#include "app/model_drawing.h"
#include "app/point_normals.h"
#include "app/surface_distance.h"
#include "app/verdict_line.h"
#include "app/view_fit.h"

namespace kestrel::app {
namespace {

// An n x n grid of spacing h in the plane z = 0.
core::PointSet grid(int n, double h) {
  core::PointSet set;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      core::Point3D p;
      p.x = i * h, p.y = j * h;
      set.push_back(p);
    }
  return set;
}

core::Point3D at(double x, double y, double z) {
  core::Point3D p;
  p.x = x, p.y = y, p.z = z;
  return p;
}

// ---- field input -------------------------------------------------------------------------------

TEST(FieldInput, TakesClampsOrRefusesAndSaysSo) {
  const FieldSpec overlap{"Overlap", 0.1, 1.0, false};
  const FieldSpec margin{"Base side", 0, 2, true};
  struct Case {
    const FieldSpec& spec;
    const char* text;
    double expect;
    const char* message;  // "" when taken as typed
  } cases[] = {
      {overlap, "0.7", 0.7, ""},
      {overlap, " 0.25 ", 0.25, ""},
      {overlap, "7", 1.0, "Overlap: 7 is above the limit 1; set to 1.000"},
      {overlap, "-3", 0.1, "Overlap: -3 is below the limit 0.1; set to 0.100"},
      {overlap, "abc", 0.55, "Overlap: \"abc\" is not a number; kept 0.550"},
      {overlap, "0.5x", 0.55, "Overlap: \"0.5x\" is not a number; kept 0.550"},
      {overlap, "", 0.55, "Overlap: the field was empty; kept 0.550"},
      {overlap, "nan", 0.55, "Overlap: \"nan\" is not a number; kept 0.550"},
      {overlap, "1e999", 0.55, "Overlap: \"1e999\" is not a number; kept 0.550"},
      {margin, "2", 2, ""},
      {margin, "1.5", 0.55, "Base side: 1.5 is not a whole number; kept 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double value = 0.55;
    const FieldEdit edit = apply_field_text(c.spec, c.text, value);
    EXPECT_DOUBLE_EQ(value, c.expect);
    EXPECT_EQ(edit.message, c.message);
    EXPECT_EQ(edit.changed, c.expect != 0.55);
  }
}

TEST(FieldInput, ShowsWholeNumbersWholeAndSmallValuesReadably) {
  EXPECT_EQ(field_text({"", 0, 9, true}, 1000), "1000");
  EXPECT_EQ(field_text({"", 0, 9, false}, 0.9), "0.900");
  EXPECT_EQ(field_text({"", 0, 9, false}, 0.0004), "0.0004");
}

// ---- distances to P's surface ------------------------------------------------------------------

TEST(SurfaceDistance, PlaneDistanceInsideAndPointDistancePastTheEdge) {
  const core::PointSet p = grid(21, 1.0);  // 0..20 in x and y
  registration::AnnIndex index;
  index.build(p);
  const std::vector<float> normals = point_normals(p, index);
  EXPECT_NEAR(median_spacing(p, index), 1.0, 1e-9);
  struct Case {
    core::Point3D q;
    double expect;
  } cases[] = {
      {at(5.5, 5.5, 0.0), 0.0},  // between grid points, on the plane
      {at(5.5, 5.5, 0.3), 0.3},
      {at(10.2, 3.7, -1.5), 1.5},
      {at(30, 10, 0), 10.0},  // past the edge: to the nearest point
  };
  core::PointSet q;
  for (const Case& c : cases) q.push_back(c.q);
  const SurfaceDistances d = surface_distances(p, index, normals, 1.0, q, Matrix4());
  ASSERT_EQ(d.distance.size(), q.size());
  for (size_t i = 0; i < q.size(); ++i) EXPECT_NEAR(d.distance[i], cases[i].expect, 1e-5) << i;
  EXPECT_DOUBLE_EQ(d.top, kTopSpacings);
  // Q moved 2 up by its map into P's frame.
  const SurfaceDistances up =
      surface_distances(p, index, normals, 1.0, {at(4, 4, 0)}, translation_matrix(0, 0, 2));
  EXPECT_NEAR(up.distance[0], 2.0, 1e-5);
}

TEST(SurfaceDistance, PercentilesAndColours) {
  std::vector<float> v;
  for (int i = 1; i <= 100; ++i) v.push_back(static_cast<float>(i));
  const struct {
    double share, expect;
  } cases[] = {{0.5, 50}, {0.9, 90}, {0.99, 99}, {1.0, 100}, {0.0, 1}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(quantile(v, c.share), c.expect) << c.share;
  EXPECT_EQ(quantile({}, 0.5), 0);
  using C = std::array<float, 3>;
  EXPECT_EQ(distance_colour(0, 1), (C{0, 0, 1}));
  EXPECT_EQ(distance_colour(1, 1), (C{1, 0, 0}));
  EXPECT_EQ(distance_colour(5, 1), (C{1, 0, 0}));
  EXPECT_EQ(distance_colour(0.5, 1), (C{0, 0.75f, 0}));
}

TEST(PointNormals, LeastSpreadOfAxisAlignedSpreads) {
  const struct {
    double c[3][3];
    int axis;
  } cases[] = {{{{4, 0, 0}, {0, 9, 0}, {0, 0, 1}}, 2},
               {{{1, 0, 0}, {0, 9, 0}, {0, 0, 4}}, 0},
               {{{5, 0, 0}, {0, 0.5, 0}, {0, 0, 4}}, 1}};
  for (const auto& c : cases) {
    double n[3];
    ASSERT_TRUE(least_spread_direction(c.c, n));
    EXPECT_NEAR(std::fabs(n[c.axis]), 1, 1e-12);
  }
  double n[3];
  EXPECT_FALSE(least_spread_direction({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, n));
}

// ---- a drawn model that moves ------------------------------------------------------------------

TEST(ModelDrawing, RecognisesRigidMotionsOnly) {
  core::PointSet set = grid(10, 1.0);
  for (size_t i = 0; i < set.size(); ++i) set[i].z = std::sin(0.7 * static_cast<double>(i));
  const ShapeProbe probe = probe_shape(set);
  core::RigidTransform motion;
  const double a = 0.8;
  motion.R(0, 0) = std::cos(a), motion.R(0, 1) = -std::sin(a);
  motion.R(1, 0) = std::sin(a), motion.R(1, 1) = std::cos(a);
  motion.t[0] = 3, motion.t[2] = -7;
  core::PointSet moved = set;
  core::transform_point_set(moved, motion);
  const auto found = rigid_change(probe, moved);
  ASSERT_TRUE(found);
  const Matrix4 expect = motion_matrix(motion);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(found->m[r][c], expect.m[r][c], 1e-9);
  EXPECT_TRUE(rigid_change(probe, set)->is_identity());
  core::PointSet bent = moved;
  bent[probe.index[5]].z += 0.01;
  EXPECT_FALSE(rigid_change(probe, bent));
  bent.pop_back();
  EXPECT_FALSE(rigid_change(probe, bent));
  const Matrix4 back = rigid_inverse(*found) * *found;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(back.m[r][c], r == c, 1e-12);
}

TEST(ModelDrawing, BuildsOnceAndFollowsMotions) {
  core::PointSet set = grid(5, 1.0);
  const core::FaceList faces = {core::Face{{0, 1, 5}}, core::Face{{1, 6, 5}}};
  ModelDrawing d;
  EXPECT_TRUE(update_drawing(d, set, faces, 9));
  EXPECT_FALSE(update_drawing(d, set, faces, 9));
  core::transform_point_set(set, core::linear_motion(core::identity_matrix(3), 1, 2, 3));
  EXPECT_FALSE(update_drawing(d, set, faces, 9));
  EXPECT_DOUBLE_EQ(d.motion.m[1][3], 2);
  EXPECT_TRUE(update_drawing(d, set, faces, 8));  // a new draw limit
  EXPECT_EQ(d.triangles.faces(), 2u);
}

// ---- flat triangles ----------------------------------------------------------------------------

TEST(FlatTriangles, EdgeLimitAndTheFacesThatSkipIt) {
  core::PointSet set = {at(0, 0, 0), at(10, 0, 0), at(0, 10, 0), at(0, 0, 5)};
  const core::FaceList faces = {core::Face{{0, 1, 2}},     // edges of 10 and 14: over the limit
                                core::Face{{0, 0, 1}},     // first two equal: drawn, facing +z
                                core::Face{{3, 0, 1}},     // an edge of 10: left out
                                core::Face{{0, 3, 9}}};    // names a point the set lacks
  const TriangleArrays t = flat_triangles(set, faces, 9);  // min_draw_dist 3, spacing 1
  ASSERT_EQ(t.faces(), 1u);
  EXPECT_EQ(t.face_normal(0)[2], 1.0f);
  EXPECT_EQ(set[0].nz, 1.0);
  const TriangleArrays all = flat_triangles(set, faces, 20);
  ASSERT_EQ(all.faces(), 3u);
  EXPECT_EQ(set[3].nx, 0.0);  // face 3, 0, 1: normal along -y or +y
  EXPECT_NEAR(std::fabs(set[3].ny), 1.0, 1e-12);
}

// Faces share their points, and each face's last corner carries its normal: a point that is
// already some face's last corner is repeated, at the same place.
TEST(FlatTriangles, EveryFaceLightsItsOwnLastCorner) {
  core::PointSet set = {at(0, 0, 0), at(1, 0, 0), at(0, 1, 0), at(1, 1, 1), at(0, 0, 1)};
  const core::FaceList faces = {core::Face{{0, 1, 2}}, core::Face{{1, 3, 2}}, core::Face{{0, 2, 4}},
                                core::Face{{0, 1, 2}}};
  const TriangleArrays t = flat_triangles(set, faces, 10);
  ASSERT_EQ(t.faces(), 4u);
  std::vector<uint32_t> last;
  for (size_t f = 0; f < t.faces(); ++f) {
    const uint32_t l = t.indices[3 * f + 2];
    EXPECT_EQ(std::count(last.begin(), last.end(), l), 0) << f;
    last.push_back(l);
    const core::Face& face = faces[f];
    const double a[3] = {set[face.v[1]].x - set[face.v[0]].x, set[face.v[1]].y - set[face.v[0]].y,
                         set[face.v[1]].z - set[face.v[0]].z};
    const float* n = t.face_normal(f);
    EXPECT_NEAR(a[0] * n[0] + a[1] * n[1] + a[2] * n[2], 0, 1e-6) << f;
    EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1, 1e-6) << f;
  }
  EXPECT_GT(t.positions.size(), set.size() * 3);  // the fourth face repeats a point
  const uint32_t copy = t.indices[11];
  for (int k = 0; k < 3; ++k) EXPECT_EQ(t.positions[3 * copy + k], t.positions[k]);
}

// A fine grid of faces merged on a grid twice as coarse keeps about a quarter of them, each with
// distinct corners at the means of their cells and a unit normal.
TEST(FlatTriangles, MergedOnACoarserGrid) {
  core::PointSet set = grid(21, 1.0);  // 20 x 20 squares, two faces each
  for (core::Point3D& p : set) p.z = 0.1 * p.x;
  core::FaceList faces;
  for (int i = 0; i < 20; ++i)
    for (int j = 0; j < 20; ++j) {
      const int a = i * 21 + j;
      faces.push_back(core::Face{{a, a + 21, a + 1}});
      faces.push_back(core::Face{{a + 21, a + 22, a + 1}});
    }
  const TriangleArrays full = flat_triangles(set, faces, 10);
  EXPECT_GE(median_edge(full), 1.0);  // a side or a diagonal of a square
  EXPECT_LE(median_edge(full), 1.42);
  const TriangleArrays merged = merged_triangles(full, 2.0);
  EXPECT_GT(merged.faces(), full.faces() / 6);
  EXPECT_LT(merged.faces(), full.faces() / 3);
  for (size_t f = 0; f < merged.faces(); ++f) {
    const uint32_t* c = &merged.indices[3 * f];
    EXPECT_TRUE(c[0] != c[1] && c[1] != c[2] && c[0] != c[2]);
    const float* n = merged.face_normal(f);
    EXPECT_NEAR(std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), 1, 1e-5);
    EXPECT_NEAR(std::fabs(n[0] / n[2]), 0.1, 1e-4);  // the plane's slope survives
  }
  EXPECT_EQ(median_edge(TriangleArrays()), 0);
}

// ---- the fitted view ---------------------------------------------------------------------------

TEST(ViewFit, CentresOnBothModelsAndFitsTheirSphere) {
  const core::PointSet a = {at(100, 0, 0), at(110, 0, 0)};
  const core::PointSet b = {at(100, 40, 0)};
  const struct { float aspect; } cases[] = {{1.0f}, {2.0f}, {0.5f}};
  for (const auto& c : cases) {
    const ViewFit fit = fit_view(a, b, c.aspect);
    EXPECT_DOUBLE_EQ(fit.centre[0], 105);
    EXPECT_DOUBLE_EQ(fit.centre[1], 20);
    const double radius = std::sqrt(25 + 400) * fit.zoom * 0.07;  // in eye units
    const double slope = 0.8 * std::min(1.0f, c.aspect);
    EXPECT_NEAR(radius, 0.9 * 10.2 * slope / std::sqrt(1 + slope * slope), 1e-5);
  }
  EXPECT_EQ(fit_view({}, {}, 1).zoom, 1.0f);
}

// ---- the verdict line and messages -------------------------------------------------------------

TEST(VerdictLine, ToneFollowsTheVerdictAndIcpAddsItsLine) {
  AppState s;
  EXPECT_FALSE(verdict_lines(s).shown);
  s.result_label = "Kestrel run";
  s.judgement.reason = "0.50 of Q on P's surface; RMS 0.1";
  s.judgement.fit.q_asked = 100;
  s.judgement.fit.rms = 0.125;
  s.judgement.fit.fine_share = 0.5;
  s.judgement.fit.plane_tol = 0.3;
  const struct {
    registration::Verdict verdict;
    VerdictTone tone;
    const char* text;
  } cases[] = {{registration::Verdict::kConfident, VerdictTone::kGood, "Verdict: confident"},
               {registration::Verdict::kUncertain, VerdictTone::kDoubt, "Verdict: uncertain"},
               {registration::Verdict::kNoMatch, VerdictTone::kBad, "Verdict: no match"}};
  for (const auto& c : cases) {
    s.judgement.verdict = c.verdict;
    const VerdictLines v = verdict_lines(s);
    EXPECT_EQ(v.tone, c.tone);
    EXPECT_EQ(v.verdict, std::string(c.text) + " (Kestrel run)");
    EXPECT_EQ(v.evidence, (std::vector<std::string>{"0.50 of Q on P's surface", "RMS 0.1"}));
    EXPECT_TRUE(v.icp.empty());
  }
  s.result_label = "Kestrel run, then ICP";
  s.result_stopped = true;
  EXPECT_EQ(verdict_lines(s).icp, "After ICP: RMS 0.125, 50% of Q within 0.3 of P's surface");
  EXPECT_EQ(verdict_lines(s).verdict, "Verdict: no match (Kestrel run, then ICP, stopped)");
}

TEST(Messages, KeepTheLastFewBesideTheStatusLine) {
  AppState s;
  s.console = false;
  for (const char* m : {"a", "b", "c", "d", "e"}) tell(s, m);
  EXPECT_EQ(s.status_text, "e");
  EXPECT_EQ(s.messages.lines, (std::deque<std::string>{"b", "c", "d", "e"}));
  EXPECT_EQ(earlier_messages(s, 2), (std::deque<std::string>{"c", "d"}));
  s.status_text.clear();
  EXPECT_EQ(earlier_messages(s, 9), (std::deque<std::string>{"b", "c", "d", "e"}));
}

}  // namespace
}  // namespace kestrel::app
