#include "app/model_actions.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/command_line.h"
#include "app_test_support.h"
#include "core/random15.h"

namespace kestrel::app {
namespace {

using testing::grid_vrt;
using testing::ScratchDir;

const ActionHooks kNoHooks;

// ---- loading ---------------------------------------------------------------------------------

TEST(ModelActions, LoadingPThenQSharesTheSampleCount) {
  ScratchDir dir;
  const auto p = dir.write("p.vrt", grid_vrt(50, 1.0));  // 2500 points
  const auto q = dir.write("q.vrt", grid_vrt(50, 1.0, 3, 1, 0));
  AppState s;
  ASSERT_TRUE(load_model(s, ModelSide::kP, p, kNoHooks));
  EXPECT_EQ(s.params.sample, 2);
  EXPECT_EQ(s.models.full_p.size(), 2500u);
  EXPECT_LT(s.models.model_p.size(), 1500u);
  EXPECT_EQ(s.models.p_index.size(), s.models.model_p.size());
  EXPECT_GT(s.params.point_spacing, 0);
  EXPECT_EQ(s.models.saved_p.size(), s.models.model_p.size());

  ASSERT_TRUE(load_model(s, ModelSide::kQ, q, kNoHooks));
  EXPECT_EQ(s.params.sample, 2);
  EXPECT_EQ(s.models.full_q.size(), 2500u);
  EXPECT_EQ(s.models.saved_q.size(), s.models.model_q.size());
  EXPECT_EQ(s.models.saved_full_q.size(), 2500u);
  EXPECT_EQ(s.models.file_p, p);
  EXPECT_EQ(s.models.file_q, q);
  EXPECT_TRUE(s.status_text.empty());
  EXPECT_FALSE(s.loading);
  EXPECT_NEAR(s.params.model_extent, 49.0f, 1.5f);  // centred working grids: x spans about 49
}

TEST(ModelActions, FailedLoadChangesNothing) {
  ScratchDir dir;
  const auto p = dir.write("p.vrt", grid_vrt(20, 1.0));
  const auto q = dir.write("q.vrt", grid_vrt(20, 1.0));
  AppState s;
  ASSERT_TRUE(load_model(s, ModelSide::kP, p, kNoHooks));
  ASSERT_TRUE(load_model(s, ModelSide::kQ, q, kNoHooks));
  const auto model_p = s.models.model_p;
  const float spacing = s.params.point_spacing;
  const size_t tree = s.models.p_index.size();

  for (const std::string& bad :
       {dir.write("two.vrt", "0 0 0\n1 1 1\n"), dir.write("words.vrt", "no numbers\n"),
        dir.file("missing.vrt"), dir.write("same.vrt", "1 1 1\n1 1 2\n1 1 3\n")}) {
    std::string error;
    EXPECT_FALSE(load_model(s, ModelSide::kP, bad, kNoHooks, &error)) << bad;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(s.status_text, error);
    EXPECT_FALSE(load_model(s, ModelSide::kQ, bad, kNoHooks, &error)) << bad;
    EXPECT_EQ(s.models.file_p, p);
    EXPECT_EQ(s.models.file_q, q);
    EXPECT_EQ(s.models.model_p.size(), model_p.size());
    EXPECT_EQ(s.models.model_p[5].x, model_p[5].x);
    EXPECT_EQ(s.params.point_spacing, spacing);
    EXPECT_EQ(s.models.p_index.size(), tree);
    EXPECT_EQ(s.models.full_p.size(), 400u);
    EXPECT_EQ(s.models.full_q.size(), 400u);
    EXPECT_FALSE(s.loading);
  }
}

TEST(ModelActions, LargeModelRuleAndCutOffsets) {
  ScratchDir dir;
  AppState s;
  s.params.isamp = 50;
  s.params.cut_y = 20;  // P is cut at 120, Q at -80
  const auto p = dir.write("p.vrt", grid_vrt(40, 10.0, -200, 0, 0));
  ASSERT_TRUE(load_model(s, ModelSide::kP, p, kNoHooks));
  for (const auto& pt : s.models.full_p) EXPECT_LE(pt.x, 120);
  ASSERT_TRUE(load_model(s, ModelSide::kQ, p, kNoHooks));
  for (const auto& pt : s.models.full_q) EXPECT_GE(pt.x, -80);
  EXPECT_EQ(s.params.margin, 0);
  EXPECT_EQ(s.params.isamp, 50u);

  const auto big = dir.write("big.vrt", grid_vrt(320, 0.5));  // 102400 points
  s.params.cut_y = 0;
  ASSERT_TRUE(load_model(s, ModelSide::kQ, big, kNoHooks));
  EXPECT_EQ(s.params.margin, 1);
  EXPECT_FLOAT_EQ(s.params.norm_diff, 0.05f);
  EXPECT_EQ(s.params.isamp, 1000u);
  EXPECT_EQ(s.params.sample, 102);
}

TEST(ModelActions, TransformFileMapsQAtLoad) {
  ScratchDir dir;
  AppState s;
  s.params.centering = false;
  s.params.trans_file = "given.tfm";  // the matrix below stands for its content
  double m[4][4] = {{0, -1, 0, 5}, {1, 0, 0, 0}, {0, 0, 1, -2}, {0, 0, 0, 1}};
  std::copy(&m[0][0], &m[0][0] + 16, &s.params.trans_matrix[0][0]);
  const auto q = dir.write("q.vrt", "1 0 0\n0 1 0\n0 0 1\n2 2 0\n");
  ASSERT_TRUE(load_model(s, ModelSide::kQ, q, kNoHooks));
  EXPECT_DOUBLE_EQ(s.models.full_q[0].x, 5);
  EXPECT_DOUBLE_EQ(s.models.full_q[0].y, 1);
  EXPECT_DOUBLE_EQ(s.models.full_q[2].z, -1);
  EXPECT_DOUBLE_EQ(s.models.saved_q[1].x, 4);
}

TEST(ModelActions, LoadingPRestoresQFromItsSavedCopies) {
  ScratchDir dir;
  const auto f = dir.write("a.vrt", grid_vrt(10, 1.0));
  AppState s;
  ASSERT_TRUE(load_model(s, ModelSide::kQ, f, kNoHooks));
  s.models.model_q[0].x += 100;
  s.models.full_q[0].x += 100;
  ASSERT_TRUE(load_model(s, ModelSide::kP, f, kNoHooks));
  EXPECT_EQ(s.models.model_q[0].x, s.models.saved_q[0].x);
  EXPECT_EQ(s.models.full_q[0].x, s.models.saved_full_q[0].x);
}

// Every position (and with `normals` every normal) of two sets, bit for bit.
bool same_points(const core::PointSet& a, const core::PointSet& b, bool normals = true) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].z != b[i].z) return false;
    if (normals && (a[i].nx != b[i].nx || a[i].ny != b[i].ny || a[i].nz != b[i].nz)) return false;
  }
  return true;
}

bool same_faces(const core::FaceList& a, const core::FaceList& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    for (int k = 0; k < 3; ++k)
      if (a[i].v[k] != b[i].v[k]) return false;
  return true;
}

TEST(ModelActions, LoadWithoutFullSurfacesLeavesOnlyTheFullSetsFacesOut) {
  ScratchDir dir;
  const auto p = dir.write("p.vrt", grid_vrt(30, 1.0));
  const auto q = dir.write("q.vrt", grid_vrt(30, 1.0, 3, 1, 0));
  for (const float cut_y : {0.0f, -95.0f}) {  // whole sets, then P cut at x = 5
    AppState drawn, headless;
    headless.models.full_surfaces = false;
    for (AppState* s : {&drawn, &headless}) {
      s->params.cut_y = cut_y;
      ASSERT_TRUE(load_model(*s, ModelSide::kP, p, kNoHooks));
      ASSERT_TRUE(load_model(*s, ModelSide::kQ, q, kNoHooks));
    }
    const ModelSets &a = drawn.models, &b = headless.models;
    EXPECT_FALSE(a.full_p_faces.empty());
    EXPECT_TRUE(b.full_p_faces.empty());
    EXPECT_TRUE(b.full_q_faces.empty());
    EXPECT_NE(a.full_q[10].nz, 0);
    EXPECT_EQ(b.full_q[10].nz, 0);  // no normals either
    EXPECT_TRUE(same_points(a.full_p, b.full_p, false)) << cut_y;
    EXPECT_TRUE(same_points(a.saved_full_q, b.saved_full_q, false)) << cut_y;
    EXPECT_TRUE(same_points(a.model_p, b.model_p)) << cut_y;
    EXPECT_TRUE(same_points(a.saved_q, b.saved_q)) << cut_y;
    EXPECT_TRUE(same_faces(a.model_p_faces, b.model_p_faces)) << cut_y;
    EXPECT_TRUE(same_faces(a.model_q_faces, b.model_q_faces)) << cut_y;
    EXPECT_EQ(drawn.params.point_spacing, headless.params.point_spacing);
    EXPECT_EQ(drawn.params.model_extent, headless.params.model_extent);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a.centroid_q[k], b.centroid_q[k]);
  }
  // The same files are refused, with the same words.
  for (const std::string& bad :
       {dir.write("two.vrt", "0 0 0\n1 1 1\n"), dir.write("same.vrt", "1 1 1\n1 1 2\n1 1 3\n")}) {
    AppState drawn, headless;
    headless.models.full_surfaces = false;
    std::string drawn_error, headless_error;
    EXPECT_FALSE(load_model(drawn, ModelSide::kP, bad, kNoHooks, &drawn_error));
    EXPECT_FALSE(load_model(headless, ModelSide::kP, bad, kNoHooks, &headless_error));
    EXPECT_EQ(drawn_error, headless_error);
  }
}

// ---- random position and noise ---------------------------------------------------------------

TEST(ModelActions, RandomPositionTurnsQAboutZ) {
  ScratchDir dir;
  const auto f = dir.write("a.vrt", grid_vrt(10, 1.0));
  AppState s;
  ASSERT_TRUE(load_model(s, ModelSide::kQ, f, kNoHooks));
  const auto before = s.models.full_q;
  core::srand15(0);
  const int r = core::rand15();
  core::srand15(0);
  on_random_position(s);
  const double a = static_cast<float>(r * (1.0f / 32767.0f) * M_PI);
  for (size_t i = 0; i < before.size(); i += 7) {
    const double x = before[i].x, y = before[i].y;
    EXPECT_NEAR(s.models.full_q[i].x, std::cos(a) * x + std::sin(a) * y, 1e-5);
    EXPECT_NEAR(s.models.full_q[i].y, -std::sin(a) * x + std::cos(a) * y, 1e-5);
    EXPECT_EQ(s.models.full_q[i].z, before[i].z);
  }
  EXPECT_EQ(s.models.saved_q[3].x, s.models.model_q[3].x);
  EXPECT_EQ(s.models.saved_full_q[3].x, s.models.full_q[3].x);
  EXPECT_NEAR(s.current_transform.R(0, 1), std::sin(a), 1e-7);
}

TEST(ModelActions, NoiseOfLevelZeroOnlySetsTheFlag) {
  ScratchDir dir;
  const auto f = dir.write("a.vrt", grid_vrt(10, 1.0));
  AppState s;
  ASSERT_TRUE(load_model(s, ModelSide::kP, f, kNoHooks));
  ASSERT_TRUE(load_model(s, ModelSide::kQ, f, kNoHooks));
  const auto before = s.models.full_p;
  s.params.noise_level = 0;
  on_add_noise(s);
  EXPECT_TRUE(s.noise_added);
  EXPECT_EQ(s.models.full_p[4].x, before[4].x);
  s.params.noise_level = 0.5f;
  on_add_noise(s);
  EXPECT_NE(s.models.full_p[4].x, before[4].x);
  ASSERT_TRUE(load_model(s, ModelSide::kQ, f, kNoHooks));
  EXPECT_FALSE(s.noise_added);  // a load clears it
}

TEST(ModelActions, GaussianHasUnitSpread) {
  core::srand15(0);
  double sum = 0, sum2 = 0;
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    const double g = gaussian(2.0f);
    sum += g;
    sum2 += g * g;
  }
  EXPECT_NEAR(sum / n, 0, 0.05);
  EXPECT_NEAR(std::sqrt(sum2 / n), 2.0, 0.05);
}

}  // namespace
}  // namespace kestrel::app
