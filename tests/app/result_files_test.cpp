#include "app/result_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/model_actions.h"
#include "app/run_actions.h"
#include "app_test_support.h"

namespace kestrel::app {
namespace {

using testing::grid_vrt;
using testing::ScratchDir;

const ActionHooks kNoHooks;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

class ResultFiles : public ::testing::Test {
 protected:
  // Loads the same small grid as P and Q.
  void load(const std::string& p_text, const std::string& q_text) {
    p_ = dir_.write("p.vrt", p_text);
    q_ = dir_.write("q.vrt", q_text);
    ASSERT_TRUE(load_model(s_, ModelSide::kP, p_, kNoHooks));
    ASSERT_TRUE(load_model(s_, ModelSide::kQ, q_, kNoHooks));
  }
  ScratchDir dir_;
  AppState s_;
  std::string p_, q_;
};

TEST_F(ResultFiles, IdentityOnTheSameFileGivesTheIdentityMatrix) {
  load(grid_vrt(10, 1.0, 30, -4, 2), grid_vrt(10, 1.0, 30, -4, 2));
  s_.run_time_ms = 1500;
  ASSERT_TRUE(export_results(s_, dir_.file("results.tfm"), dir_.file("reconstruct.obj")));
  const auto lines = lines_of(ScratchDir::read(dir_.file("results.tfm")));
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "files: " + q_ + " ---> " + p_);
  EXPECT_EQ(lines[1], "points: " + p_ + ": 100 " + q_ + ": 100");
  EXPECT_EQ(lines[2], "time: 1.5 sec");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], "1 0 0 0");
  EXPECT_EQ(lines[5], "0 1 0 0");
  EXPECT_EQ(lines[6], "0 0 1 0");
  EXPECT_EQ(lines[7], "0 0 0 1");
  EXPECT_EQ(lines[8], "");
  EXPECT_EQ(lines[9], "Units: mm");
  // Joined model: both vertex lists, then both face lists.
  const auto joined = lines_of(ScratchDir::read(dir_.file("reconstruct.obj")));
  EXPECT_EQ(std::count_if(joined.begin(), joined.end(), [](auto& l) { return l[0] == 'v'; }), 200);
}

TEST_F(ResultFiles, TranslationAddsTheCentroids) {
  // P's centroid is (10, 0, 0) in file coordinates, Q's is the origin.
  load("9 -1 0\n11 -1 0\n10 2 0\n", "-1 -1 0\n1 -1 0\n0 2 0\n");
  place_by_run(s_.models.q_placement);
  s_.current_transform.t[0] = 1;
  s_.current_transform.t[1] = 2;
  s_.current_transform.t[2] = 3;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(export_results(s_, dir_.file("results.tfm"), ""));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("translation: 11.000000 2.000000 3.000000\n"), std::string::npos) << out;
  EXPECT_NE(out.find("R:\n"), std::string::npos);
  const auto lines = lines_of(ScratchDir::read(dir_.file("results.tfm")));
  EXPECT_EQ(lines[4], "1 0 0 11");
  EXPECT_FALSE(std::ifstream(dir_.file("reconstruct.obj")).good());
}

TEST_F(ResultFiles, WithoutCentringNoCentroidEntersTheMotion) {
  s_.params.centering = false;
  load("9 -1 0\n11 -1 0\n10 2 0\n", "-1 -1 0\n1 -1 0\n0 2 0\n");
  place_by_run(s_.models.q_placement);
  s_.current_transform.t[0] = 1;
  ASSERT_TRUE(export_results(s_, dir_.file("results.tfm"), ""));
  EXPECT_EQ(lines_of(ScratchDir::read(dir_.file("results.tfm")))[4], "1 0 0 1");
}

TEST_F(ResultFiles, ScaleIsFoldedIntoTheRotationEachTime) {
  load(grid_vrt(5, 1.0), grid_vrt(5, 1.0));
  s_.current_transform.s = 2;
  ASSERT_TRUE(export_results(s_, dir_.file("r1.tfm"), ""));
  ASSERT_TRUE(export_results(s_, dir_.file("r2.tfm"), ""));
  EXPECT_EQ(s_.current_transform.R(0, 0), 4);
  EXPECT_EQ(s_.current_transform.R(1, 1), 4);
}

TEST_F(ResultFiles, ExportLeavesTheLoadedModelsAsTheyWere) {
  load(grid_vrt(12, 1.0, 5, 5, 5), grid_vrt(12, 1.0, -5, 0, 0));
  const auto model_p = s_.models.model_p;
  const auto model_q = s_.models.model_q;
  const float spacing = s_.params.point_spacing;
  ASSERT_TRUE(export_results(s_, dir_.file("results.tfm"), dir_.file("reconstruct.obj")));
  ASSERT_EQ(s_.models.model_p.size(), model_p.size());
  EXPECT_EQ(s_.models.model_p[7].x, model_p[7].x);
  EXPECT_EQ(s_.models.model_q[7].y, model_q[7].y);
  EXPECT_EQ(s_.params.point_spacing, spacing);
}

// A motion that shears or mirrors Q is not written as a result (a uniform scale may be).
TEST_F(ResultFiles, ExportRefusesAMotionThatIsNoRotation) {
  load(grid_vrt(5, 1.0), grid_vrt(5, 1.0));
  place_by_run(s_.models.q_placement);
  s_.current_transform.R(0, 1) = 0.3;
  std::string error;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(export_results(s_, dir_.file("results.tfm"), "", nullptr, &error));
  ::testing::internal::GetCapturedStdout();
  EXPECT_NE(error.find("the motion is not a rotation with a uniform scale"), std::string::npos)
      << error;
  s_.current_transform.R(0, 1) = 0;
  s_.current_transform.R(2, 2) = -1;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(export_results(s_, dir_.file("results.tfm"), "", nullptr, &error));
  ::testing::internal::GetCapturedStdout();
  EXPECT_NE(error.find("mirrors or flattens Q"), std::string::npos) << error;
  EXPECT_FALSE(std::ifstream(dir_.file("results.tfm")).good());
}

TEST_F(ResultFiles, ExportRefusesWithoutBothModels) {
  std::string error;
  EXPECT_FALSE(export_results(s_, dir_.file("results.tfm"), "", nullptr, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::ifstream(dir_.file("results.tfm")).good());
}

TEST_F(ResultFiles, SaveModelsWritesFiveFilesEvenWhenEmpty) {
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(save_models(s_, dir_.file("")));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "written.\n");
  for (const char* name : {"out1.obj", "out2.obj", "full1.obj", "full2.obj", "reconstruct.obj"})
    EXPECT_EQ(ScratchDir::read(dir_.file(name)), "") << name;
}

// ---- the exported motion follows the shown Q -------------------------------------------------

// One letter per action, in order: r "Random position", k "Start Kestrel", a "Start basic
// RANSAC", i "Start ICP", p load P again, q load Q again, n "Add noise" of level 0.
class ExportFollowsQ : public ResultFiles, public ::testing::WithParamInterface<const char*> {};

std::vector<core::Point3D> points_of(const std::string& vrt_text) {
  std::vector<core::Point3D> out;
  std::istringstream in(vrt_text);
  core::Point3D p;
  while (in >> p.x >> p.y >> p.z) out.push_back(p);
  return out;
}

// Whatever the window did to Q since it was loaded, the exported matrix maps every point of Q's
// file onto the Q it shows, in P's file coordinates.
TEST_P(ExportFollowsQ, ExportedMotionMapsQsFileOntoTheShownQ) {
  const std::string p_text = grid_vrt(12, 1.0, 30, -4, 2), q_text = grid_vrt(12, 1.0, -5, 3, 1);
  load(p_text, q_text);
  s_.params.noise_level = 0;
  ::testing::internal::CaptureStdout();
  for (const char* a = GetParam(); *a; ++a) {
    switch (*a) {
      case 'r':
        on_random_position(s_);
        break;
      case 'k':
        on_start_kestrel(s_, kNoHooks);
        break;
      case 'a':
        on_start_ransac(s_, kNoHooks);
        break;
      case 'i':
        ASSERT_TRUE(on_start_icp(s_, kNoHooks).ran);
        break;
      case 'p':
        ASSERT_TRUE(load_model(s_, ModelSide::kP, p_, kNoHooks));
        break;
      case 'q':
        ASSERT_TRUE(load_model(s_, ModelSide::kQ, q_, kNoHooks));
        break;
      case 'n':
        on_add_noise(s_);
        break;
    }
  }
  ExportedMotion motion;
  ASSERT_TRUE(export_results(s_, dir_.file("results.tfm"), "", &motion));
  ::testing::internal::GetCapturedStdout();

  const std::vector<core::Point3D> file_q = points_of(q_text);
  const core::PointSet& shown = s_.models.full_q;
  ASSERT_EQ(shown.size(), file_q.size());
  const double(&m)[4][4] = motion.m;
  for (size_t i = 0; i < file_q.size(); i += 7) {
    const core::Point3D& f = file_q[i];
    const double shown_in_p_file[3] = {shown[i].x + s_.models.centroid_p[0],
                                       shown[i].y + s_.models.centroid_p[1],
                                       shown[i].z + s_.models.centroid_p[2]};
    for (int r = 0; r < 3; ++r)
      EXPECT_NEAR(m[r][0] * f.x + m[r][1] * f.y + m[r][2] * f.z + m[r][3], shown_in_p_file[r], 1e-3)
          << "point " << i << " row " << r;
  }
}

INSTANTIATE_TEST_SUITE_P(ResultFiles, ExportFollowsQ,
                         ::testing::Values("", "r", "rr", "rk", "kr", "rkr", "rki", "rkir", "irk",
                                           "ir", "rkp", "rap", "rai", "rkiq", "rnki"));

// ---- files that cannot be written ------------------------------------------------------------

// Nothing but the given entries is left in the scratch folder.
void expect_only(const std::string& folder, std::vector<std::string> names) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    found.push_back(entry.path().filename().string());
  std::sort(found.begin(), found.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(found, names);
}

// The figures a load keeps of its files stand in for reading them again: the same results
// file and the same joint centroid, near the files' origin, far from it (read exactly, kept
// relative to an origin), with Q scaled, and after the file has gone.
struct KeptCase {
  const char* name;
  double far;        // added to every coordinate of both files
  float do_scale;    // Q's scale as the results take it
  bool remove_files; // the files are gone when the results are written
};

class KeptFigures : public ::testing::TestWithParam<KeptCase> {};

TEST_P(KeptFigures, WriteWhatReadingTheFilesAgainWrites) {
  const KeptCase& c = GetParam();
  ScratchDir dir;
  const std::string p = dir.write("p.vrt", grid_vrt(12, 0.37, c.far + 3.1, -2.3, 0.7));
  const std::string q = dir.write("q.vrt", grid_vrt(11, 0.41, c.far - 1.9, 4.4, -0.2));
  std::string written[2];
  float joint[2][3];
  for (int pass = 0; pass < 2; ++pass) {
    AppState s;
    ASSERT_TRUE(load_model(s, ModelSide::kP, p, kNoHooks));
    ASSERT_TRUE(load_model(s, ModelSide::kQ, q, kNoHooks));
    // Far from the origin a number the load does not round to a float sends the export back
    // to the file; near it the figures are kept.
    if (c.far == 0) ASSERT_TRUE(s.models.figures_p.known && s.models.figures_q.known);
    // The second pass reads the files again, as every export did before figures were kept.
    if (pass == 1) s.models.figures_q.known = false;
    s.params.do_scale = c.do_scale;
    place_by_run(s.models.q_placement);
    const double a = 0.3, co = std::cos(a), si = std::sin(a);
    s.current_transform.R(0, 0) = co, s.current_transform.R(0, 1) = -si;
    s.current_transform.R(1, 0) = si, s.current_transform.R(1, 1) = co;
    s.current_transform.t[0] = 1.25, s.current_transform.t[2] = -0.5;
    if (c.remove_files && pass == 0) {
      std::filesystem::rename(p, p + ".gone");
      std::filesystem::rename(q, q + ".gone");
    }
    ::testing::internal::CaptureStdout();
    const bool ok = export_results(s, dir.file("r.tfm"), "");
    ::testing::internal::GetCapturedStdout();
    if (c.remove_files && pass == 0) {
      std::filesystem::rename(p + ".gone", p);
      std::filesystem::rename(q + ".gone", q);
    }
    ASSERT_TRUE(ok);
    written[pass] = ScratchDir::read(dir.file("r.tfm"));
    std::copy(s.models.centroid_q, s.models.centroid_q + 3, joint[pass]);
  }
  EXPECT_EQ(written[0], written[1]);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(joint[0][k], joint[1][k]) << k;
}

const KeptCase kKeptCases[] = {
    {"near_origin", 0, 1.0f, false},
    {"far_from_origin", 3.0e6, 1.0f, false},
    {"q_scaled", 0, 1.7f, false},
    {"files_gone", 0, 1.0f, true},
};

INSTANTIATE_TEST_SUITE_P(ResultFiles, KeptFigures, ::testing::ValuesIn(kKeptCases),
                         [](const ::testing::TestParamInfo<KeptCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ResultFiles, WritingIntoAMissingFolderOrOverAFolderFailsAndLeavesNoFile) {
  load(grid_vrt(10, 1.0), grid_vrt(10, 1.0));
  std::filesystem::create_directory(dir_.file("taken.tfm"));
  for (const std::string& results : {dir_.file("missing/results.tfm"), dir_.file("taken.tfm")}) {
    std::string error;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(export_results(s_, results, "", nullptr, &error)) << results;
    ::testing::internal::GetCapturedStdout();
    EXPECT_NE(error.find(results), std::string::npos) << error;
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  }
  std::string error;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(
      export_results(s_, dir_.file("results.tfm"), dir_.file("taken.tfm"), nullptr, &error));
  EXPECT_FALSE(save_models(s_, dir_.file("missing"), &error));
  EXPECT_EQ(::testing::internal::GetCapturedStdout().find("written."), std::string::npos);
  EXPECT_NE(error.find("out1.obj"), std::string::npos) << error;
  // The files of one command are written all or none, and no temporary file is left anywhere.
  expect_only(dir_.file(""), {"p.vrt", "q.vrt", "taken.tfm"});
  EXPECT_TRUE(std::filesystem::is_empty(dir_.file("taken.tfm")));
}

TEST_F(ResultFiles, AWriteReplacesAnOlderFileWhole) {
  load(grid_vrt(10, 1.0), grid_vrt(10, 1.0));
  const std::string path = dir_.write("results.tfm", std::string(5000, 'x'));
  ASSERT_TRUE(export_results(s_, path, ""));
  const std::string text = ScratchDir::read(path);
  EXPECT_EQ(text.find('x'), std::string::npos);
  EXPECT_EQ(lines_of(text).size(), 10u);
  expect_only(dir_.file(""), {"p.vrt", "q.vrt", "results.tfm"});
}

TEST_F(ResultFiles, PrintRotationLayout) {
  ::testing::internal::CaptureStdout();
  print_rotation(s_);
  const std::string pad(20, ' ');
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "R:\n" + pad + "1.000 " + pad + "0.000 " + pad + "0.000\n" + pad + "0.000 " + pad +
                "1.000 " + pad + "0.000\n" + pad + "0.000 " + pad + "0.000 " + pad + "1.000\n\n");
}

}  // namespace
}  // namespace kestrel::app
