#include "app/aligner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "../core/ply_writer.h"
#include "app_test_support.h"

namespace kestrel::app {
namespace {

using testing::ScratchDir;
using testing::written;
using Mat4 = std::array<std::array<double, 4>, 4>;

const std::string kExamples = KESTREL_EXAMPLES_DIR;

Mat4 identity4() {
  Mat4 m{};
  for (int i = 0; i < 4; ++i) m[i][i] = 1;
  return m;
}

Mat4 mul(const Mat4& a, const Mat4& b) {
  Mat4 c{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}

Mat4 rigid_inverse(const Mat4& m) {
  Mat4 r = identity4();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = m[j][i];
  for (int i = 0; i < 3; ++i)
    r[i][3] = -(r[i][0] * m[0][3] + r[i][1] * m[1][3] + r[i][2] * m[2][3]);
  return r;
}

Mat4 read_rows(const std::string& path, int first_line) {
  std::ifstream in(path);
  std::string line;
  for (int i = 1; i < first_line; ++i) std::getline(in, line);
  Mat4 m{};
  for (auto& row : m) {
    std::getline(in, line);
    std::istringstream(line) >> row[0] >> row[1] >> row[2] >> row[3];
  }
  return m;
}

// Rotation by `deg` about the axis (ax, ay, az), then translation t.
Mat4 displacement(double deg, double ax, double ay, double az, double tx, double ty, double tz) {
  const double n = std::sqrt(ax * ax + ay * ay + az * az);
  ax /= n, ay /= n, az /= n;
  const double a = deg * M_PI / 180, c = std::cos(a), s = std::sin(a), k = 1 - c;
  Mat4 m = identity4();
  m[0] = {c + ax * ax * k, ax * ay * k - az * s, ax * az * k + ay * s, tx};
  m[1] = {ay * ax * k + az * s, c + ay * ay * k, ay * az * k - ax * s, ty};
  m[2] = {az * ax * k - ay * s, az * ay * k + ax * s, c + az * az * k, tz};
  return m;
}

// Writes the scan moved by `m` as a .vrt file; returns the centroid of the moved points.
std::array<double, 3> write_moved(const std::string& in_path, const std::string& out_path,
                                  const Mat4& m) {
  std::ifstream in(in_path);
  FILE* out = std::fopen(out_path.c_str(), "w");
  std::array<double, 3> sum{0, 0, 0};
  size_t n = 0;
  double x, y, z;
  while (in >> x >> y >> z) {
    double p[3];
    for (int r = 0; r < 3; ++r) p[r] = m[r][0] * x + m[r][1] * y + m[r][2] * z + m[r][3];
    std::fprintf(out, "%.6g %.6g %.6g\n", p[0], p[1], p[2]);
    for (int r = 0; r < 3; ++r) sum[r] += p[r];
    ++n;
  }
  std::fclose(out);
  for (double& v : sum) v /= static_cast<double>(n);
  return sum;
}

double rotation_error_deg(const Mat4& a, const Mat4& b) {
  // The ICP may leave a uniform scale near 1 in `a`: measure the rotation without it.
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  double trace = 0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) trace += a[k][i] * b[k][i];
  trace /= std::cbrt(std::abs(det));
  return std::acos(std::max(-1.0, std::min(1.0, (trace - 1) / 2))) * 180 / M_PI;
}

// How far apart the two motions put the point `p` (mm).
double displacement_error(const Mat4& a, const Mat4& b, const std::array<double, 3>& p) {
  double d2 = 0;
  for (int r = 0; r < 3; ++r) {
    const double ea = a[r][0] * p[0] + a[r][1] * p[1] + a[r][2] * p[2] + a[r][3];
    const double eb = b[r][0] * p[0] + b[r][1] * p[1] + b[r][2] * p[2] + b[r][3];
    d2 += (ea - eb) * (ea - eb);
  }
  return std::sqrt(d2);
}

int run(std::vector<std::string> args) {
  std::vector<const char*> argv = {"kestrel-align"};
  for (const auto& a : args) argv.push_back(a.c_str());
  FILE* sink = std::tmpfile();
  const int status = align_main(static_cast<int>(argv.size()), argv.data(), sink, sink);
  std::fclose(sink);
  return status;
}

// The status and what the aligner printed on standard output.
std::pair<int, std::string> run_printing(std::vector<std::string> args) {
  std::vector<const char*> argv = {"kestrel-align"};
  for (const auto& a : args) argv.push_back(a.c_str());
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  const int status = align_main(static_cast<int>(argv.size()), argv.data(), out, err);
  std::string text;
  std::rewind(out);
  for (int ch; (ch = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(ch));
  std::fclose(out);
  std::fclose(err);
  return {status, text};
}

// ---- end to end on real scans ----------------------------------------------------------------

// The verdict sets the exit status: the any-pose mode refined by ICP lands precisely and is
// confident; the default mode's coarse motion settles a few degrees away, so it is written but
// not trusted.
TEST(Aligner, TheVerdictSetsTheStatusAndTheJson) {
  struct Case {
    std::vector<std::string> flags;
    int status;
    const char* verdict;
  };
  const Case cases[] = {{{"--any-pose", "--icp"}, 0, "confident"}, {{}, 3, "uncertain"}};
  for (const Case& c : cases) {
    ScratchDir dir;
    std::vector<std::string> args = c.flags;
    args.insert(args.end(), {"--json", "--out", dir.file("r.tfm")});
    args.push_back(kExamples + "/bun000.vrt");
    args.push_back(kExamples + "/bun045.vrt");
    const auto [status, out] = run_printing(args);
    EXPECT_EQ(status, c.status) << out;
    EXPECT_EQ(out.rfind(std::string("Verdict: ") + c.verdict + " (", 0), 0u) << out;
    EXPECT_NE(
        out.find(std::string("\"verdict\":\"") + c.verdict + "\",\"evidence\":{\"fine_share\":"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("\"alternatives\":["), std::string::npos) << out;
  }
}

// The overlap estimate suits the pair (84 % of bun315 lies on bun000), and the normal test of
// the pair search is off: the normals of the planar reconstruction depend on how a scan lies
// in the x-y plane, so under a rotation about an arbitrary axis they no longer match P's.
TEST(Aligner, RecoversAKnownDisplacementOfARealScan) {
  ScratchDir dir;
  const Mat4 truth = mul(rigid_inverse(read_rows(kExamples + "/gt_world/bun000.txt", 1)),
                         read_rows(kExamples + "/gt_world/bun315.txt", 1));
  const Mat4 d = displacement(35, 1, -2, 0.5, 25, -15, 40);
  const auto centroid = write_moved(kExamples + "/bun315.vrt", dir.file("moved.vrt"), d);
  const Mat4 expected = mul(truth, rigid_inverse(d));

  ASSERT_EQ(run({"-o", "0.84", "-nd", "10", "--out", dir.file("results.tfm"),
                 kExamples + "/bun000.vrt", dir.file("moved.vrt")}),
            0);
  const Mat4 found = read_rows(dir.file("results.tfm"), 5);
  EXPECT_LT(rotation_error_deg(found, expected), 5.0);
  EXPECT_LT(displacement_error(found, expected, centroid), 5.0);
}

TEST(Aligner, IcpRefinesTheCoarseMotionToTheGroundTruth) {
  ScratchDir dir;
  const Mat4 truth = mul(rigid_inverse(read_rows(kExamples + "/gt_world/bun000.txt", 1)),
                         read_rows(kExamples + "/gt_world/bun315.txt", 1));
  const Mat4 d = displacement(60, -1, 0.5, 2, -30, 10, 20);
  const auto centroid = write_moved(kExamples + "/bun315.vrt", dir.file("moved.vrt"), d);
  const Mat4 expected = mul(truth, rigid_inverse(d));

  ASSERT_EQ(run({"--icp", "--out", dir.file("results.tfm"), kExamples + "/bun000.vrt",
                 dir.file("moved.vrt")}),
            0);
  const Mat4 found = read_rows(dir.file("results.tfm"), 5);
  EXPECT_LT(rotation_error_deg(found, expected), 1.0);
  EXPECT_LT(displacement_error(found, expected, centroid), 1.0);
}

// Turning Q at random (once or twice) or jittering it changes nothing in what results.tfm
// means: after ICP it carries bun045's file onto bun000's, as the ground truth does (the coarse
// motion alone is about 3 degrees off).
class AlignerOnTheBundledPair : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(AlignerOnTheBundledPair, ResultsCarryQsFileOntoPsFile) {
  ScratchDir dir;
  const Mat4 truth = mul(rigid_inverse(read_rows(kExamples + "/gt_world/bun000.txt", 1)),
                         read_rows(kExamples + "/gt_world/bun045.txt", 1));
  const auto centroid = write_moved(kExamples + "/bun045.vrt", dir.file("bun045.vrt"), identity4());
  std::vector<std::string> args = {"-o", "0.94", "-nd", "10", "--out", dir.file("results.tfm")};
  args.insert(args.end(), GetParam().begin(), GetParam().end());
  args.push_back(kExamples + "/bun000.vrt");
  args.push_back(kExamples + "/bun045.vrt");
  ASSERT_TRUE(written(run(args)));
  const Mat4 found = read_rows(dir.file("results.tfm"), 5);
  EXPECT_LT(rotation_error_deg(found, truth), 2.0);
  EXPECT_LT(displacement_error(found, truth, centroid), 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Aligner, AlignerOnTheBundledPair,
    ::testing::Values(std::vector<std::string>{"--icp"},
                      std::vector<std::string>{"--random-position", "1", "--icp"},
                      std::vector<std::string>{"--random-position", "2", "--icp"},
                      std::vector<std::string>{"--random-position", "2", "--noise", "--icp"}),
    [](const ::testing::TestParamInfo<std::vector<std::string>>& info) {
      std::string name;
      for (const std::string& a : info.param)
        for (char ch : a)
          if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
      return name;
    });

TEST(Aligner, SameInputsGiveTheSameMotion) {
  ScratchDir dir;
  const std::string p = kExamples + "/bun000.vrt", q = kExamples + "/bun045.vrt";
  ASSERT_TRUE(written(run({"--out", dir.file("a.tfm"), "--random-position", "1", p, q})));
  ASSERT_TRUE(written(run({"--out", dir.file("b.tfm"), "--random-position", "1", p, q})));
  EXPECT_EQ(read_rows(dir.file("a.tfm"), 5), read_rows(dir.file("b.tfm"), 5));
}

// ---- far from the origin ---------------------------------------------------------------------

// The motion as the run's JSON line prints it ("matrix").
// The result's own "matrix" (the first; alternatives carry theirs later in the object).
Mat4 json_matrix(const std::string& out) {
  Mat4 m{};
  const size_t at = out.find("\"matrix\":[[", out.rfind("\n{\""));
  if (at == std::string::npos) return m;
  std::string numbers = out.substr(at + 10, out.find("]]", at) - at - 10);
  std::replace_if(
      numbers.begin(), numbers.end(), [](char ch) { return ch == '[' || ch == ']' || ch == ','; },
      ' ');
  std::istringstream in(numbers);
  for (auto& row : m)
    for (double& v : row) in >> v;
  return m;
}

// The three forms a run writes its motion in: --matrix, the JSON, results.tfm.
std::array<Mat4, 3> written_forms(const ScratchDir& dir, const std::string& tag,
                                  std::vector<std::string> args) {
  const std::string matrix = dir.file(tag + ".txt"), results = dir.file(tag + ".tfm");
  args.insert(args.begin(), {"--json", "--matrix", matrix, "--out", results});
  std::vector<const char*> argv = {"kestrel-align"};
  for (const auto& a : args) argv.push_back(a.c_str());
  FILE* out = std::tmpfile();
  FILE* sink = std::tmpfile();
  EXPECT_TRUE(written(align_main(static_cast<int>(argv.size()), argv.data(), out, sink)));
  std::string text;
  std::rewind(out);
  for (int ch; (ch = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(ch));
  std::fclose(out);
  std::fclose(sink);
  return {read_rows(matrix, 1), json_matrix(text), read_rows(results, 5)};
}

// Georeferenced scans, both files 4.5 million mm out along x and 5.4 million along y: every
// written form of the motion carries Q's far file onto P's within 0.05 mm of where the run on
// the files near the origin carries them (a float alone would cost 0.25 mm a coordinate there).
class AlignerFarFromTheOrigin : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(AlignerFarFromTheOrigin, RegistersAsWellAsTheScansNearIt) {
  ScratchDir dir;
  const std::array<double, 3> offset = {4.5e6, 5.4e6, 0};
  std::vector<std::array<double, 3>> q_points;
  for (const char* name : {"bun000.vrt", "bun045.vrt"}) {
    std::ifstream in(kExamples + "/" + name);
    FILE* out = std::fopen(dir.file(name).c_str(), "w");
    double x, y, z;
    for (int n = 0; in >> x >> y >> z; ++n) {
      std::fprintf(out, "%.4f %.4f %.4f\n", x + offset[0], y + offset[1], z + offset[2]);
      if (std::string(name) == "bun045.vrt" && n % 500 == 0) q_points.push_back({x, y, z});
    }
    std::fclose(out);
  }
  std::vector<std::string> near = GetParam(), far = GetParam();
  near.insert(near.end(), {kExamples + "/bun000.vrt", kExamples + "/bun045.vrt"});
  far.insert(far.end(), {dir.file("bun000.vrt"), dir.file("bun045.vrt")});
  const std::array<Mat4, 3> at_origin = written_forms(dir, "near", near);
  const std::array<Mat4, 3> out_far = written_forms(dir, "far", far);
  const char* forms[] = {"--matrix", "JSON", "results.tfm"};
  for (int f = 0; f < 3; ++f) {
    double worst = 0;
    for (const auto& q : q_points) {
      const std::array<double, 3> q_far = {q[0] + offset[0], q[1] + offset[1], q[2] + offset[2]};
      for (int r = 0; r < 3; ++r) {
        const Mat4& a = at_origin[static_cast<size_t>(f)];
        const Mat4& b = out_far[static_cast<size_t>(f)];
        const double near_moved = a[r][0] * q[0] + a[r][1] * q[1] + a[r][2] * q[2] + a[r][3];
        const double far_moved =
            b[r][0] * q_far[0] + b[r][1] * q_far[1] + b[r][2] * q_far[2] + b[r][3];
        worst = std::max(worst, std::fabs(far_moved - offset[static_cast<size_t>(r)] - near_moved));
      }
    }
    EXPECT_LT(worst, 0.05) << forms[f];
  }
}

INSTANTIATE_TEST_SUITE_P(Aligner, AlignerFarFromTheOrigin,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--any-pose"},
                                           std::vector<std::string>{"-c", "--icp"}),
                         [](const ::testing::TestParamInfo<std::vector<std::string>>& info) {
                           std::string name = "default";
                           for (const std::string& a : info.param)
                             for (char ch : a)
                               if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                           return name;
                         });

// Every alternative's matrix carries Q's file onto P's as the result's does: with Q's file
// 500 mm out along x, a matrix taken after the results were written (which moves the centre
// later exports start from) would leave Q 250 mm beside P.
TEST(Aligner, AlternativesCarryQsFileOntoPsFile) {
  ScratchDir dir;
  const std::string q_file = dir.file("bun045-out.xyz");
  std::ifstream in(kExamples + "/bun045.vrt");
  FILE* out = std::fopen(q_file.c_str(), "w");
  double x, y, z, c[3] = {0, 0, 0};
  int n = 0;
  for (; in >> x >> y >> z; ++n) {
    std::fprintf(out, "%.6f %.6f %.6f\n", x + 500, y, z);
    c[0] += x + 500, c[1] += y, c[2] += z;
  }
  std::fclose(out);
  for (double& v : c) v /= n;
  double p_centroid[3] = {0, 0, 0};
  std::ifstream p_in(kExamples + "/bun000.vrt");
  int np = 0;
  for (; p_in >> x >> y >> z; ++np) p_centroid[0] += x, p_centroid[1] += y, p_centroid[2] += z;
  for (double& v : p_centroid) v /= np;
  const auto [status, text] = run_printing(
      {"--any-pose", "--json", "--out", dir.file("r.tfm"), kExamples + "/bun000.vrt", q_file});
  ASSERT_TRUE(written(status)) << text;
  // Every "matrix" of the JSON line: the result's first, then the alternatives'.
  size_t at = text.rfind("\n{\"");
  int matrices = 0;
  while ((at = text.find("\"matrix\":[[", at)) != std::string::npos) {
    std::string numbers = text.substr(at + 10, text.find("]]", at) - at - 10);
    std::replace_if(
        numbers.begin(), numbers.end(),
        [](char ch) { return ch == '[' || ch == ']' || ch == ','; }, ' ');
    std::istringstream row_in(numbers);
    Mat4 m{};
    for (auto& row : m)
      for (double& v : row) row_in >> v;
    double gap = 0;
    for (int r = 0; r < 3; ++r) {
      const double moved = m[r][0] * c[0] + m[r][1] * c[1] + m[r][2] * c[2] + m[r][3];
      gap += (moved - p_centroid[r]) * (moved - p_centroid[r]);
    }
    EXPECT_LT(std::sqrt(gap), 120.0) << "matrix " << matrices << " leaves Q beside P";
    ++matrices;
    at += 10;
  }
  EXPECT_GE(matrices, 2) << "no alternative to check:\n" << text;
}

// ---- any pose --------------------------------------------------------------------------------

// No overlap given and Q turned far about an oblique axis: the any-pose search finds the motion
// on its own (global only, no ICP), and the same on one thread as on two, with the ICP too.
TEST(Aligner, AnyPoseFindsAFarTurnedScanWithoutAnOverlap) {
  ScratchDir dir;
  const Mat4 truth = mul(rigid_inverse(read_rows(kExamples + "/gt_world/bun000.txt", 1)),
                         read_rows(kExamples + "/gt_world/bun045.txt", 1));
  const Mat4 d = displacement(140, 0.3, -1, 0.7, 20, 35, -10);
  const auto centroid = write_moved(kExamples + "/bun045.vrt", dir.file("moved.vrt"), d);
  const Mat4 expected = mul(truth, rigid_inverse(d));

  const std::vector<std::vector<std::string>> runs = {
      {"--out", dir.file("a.tfm")},
      {"--out", dir.file("b.tfm"), "--threads", "1"},
      {"--out", dir.file("c.tfm"), "--icp"},
      {"--out", dir.file("d.tfm"), "--icp", "--threads", "1"}};
  for (std::vector<std::string> args : runs) {
    args.insert(args.begin(), "--any-pose");
    args.push_back(kExamples + "/bun000.vrt");
    args.push_back(dir.file("moved.vrt"));
    ASSERT_TRUE(written(run(args)));
  }
  const Mat4 found = read_rows(dir.file("a.tfm"), 5);
  EXPECT_LT(rotation_error_deg(found, expected), 2.0);
  EXPECT_LT(displacement_error(found, expected, centroid), 2.0);
  EXPECT_EQ(found, read_rows(dir.file("b.tfm"), 5));
  const Mat4 refined = read_rows(dir.file("c.tfm"), 5);
  EXPECT_LT(rotation_error_deg(refined, expected), 0.5);
  EXPECT_EQ(refined, read_rows(dir.file("d.tfm"), 5));
}

// The same search on scans written in metres: every tolerance comes from the data, none from
// millimetre-sized constants.
TEST(Aligner, AnyPoseWorksInAnyUnit) {
  ScratchDir dir;
  Mat4 to_m = identity4();
  for (int i = 0; i < 3; ++i) to_m[i][i] = 0.001;
  Mat4 to_mm = identity4();
  for (int i = 0; i < 3; ++i) to_mm[i][i] = 1000;
  const Mat4 truth = mul(rigid_inverse(read_rows(kExamples + "/gt_world/bun000.txt", 1)),
                         read_rows(kExamples + "/gt_world/bun045.txt", 1));
  const Mat4 d = displacement(70, -1, 0.2, 0.4, 10, -20, 5);
  write_moved(kExamples + "/bun000.vrt", dir.file("p_m.vrt"), to_m);
  const auto centroid = write_moved(kExamples + "/bun045.vrt", dir.file("q_m.vrt"), mul(to_m, d));
  const Mat4 expected = mul(mul(to_m, mul(truth, rigid_inverse(d))), to_mm);  // in metres

  ASSERT_EQ(run({"--any-pose", "--out", dir.file("results.tfm"), dir.file("p_m.vrt"),
                 dir.file("q_m.vrt")}),
            0);
  const Mat4 found = read_rows(dir.file("results.tfm"), 5);
  EXPECT_LT(rotation_error_deg(found, expected), 2.0);
  EXPECT_LT(displacement_error(found, expected, centroid), 0.002);  // 2 mm
}

// ---- console ---------------------------------------------------------------------------------

// Without --quiet the run's "\r" trial lines go to standard output as the recorded traces hold
// them, wherever it goes; --quiet drops them with every other progress line.
TEST(Aligner, QuietDropsTheRunsTrialLines) {
  ScratchDir dir;
  const std::string p = kExamples + "/bun000.vrt", q = kExamples + "/bun045.vrt";
  for (const bool quiet : {false, true}) {
    std::vector<std::string> args = {"--out", dir.file("r.tfm"), p, q};
    if (quiet) args.insert(args.begin(), "--quiet");
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(written(run(args)));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("\rtrial ") == std::string::npos, quiet) << out;
    EXPECT_NE(out.find("\nTime: "), std::string::npos) << out;  // the run's time stays
  }
}

// ---- PLY scans and the plain matrix ----------------------------------------------------------

// The scans as PLY files (P binary, Q ASCII) give the very motion the .vrt files give; --matrix
// writes that motion as four lines of four numbers: results.tfm's lines 5 to 8, every digit kept.
TEST(Aligner, PlyScansGiveTheMatrixOfTheVrtScans) {
  ScratchDir dir;
  const std::string p = kExamples + "/bun000.vrt", q = kExamples + "/bun045.vrt";
  core::test::write_ply(dir.file("bun000.ply"), core::test::read_vrt(p), {},
                        {core::test::PlyEncoding::kLittleEndian});
  core::test::write_ply(dir.file("bun045.ply"), core::test::read_vrt(q), {},
                        {core::test::PlyEncoding::kAscii});
  ASSERT_TRUE(written(run({"--out", dir.file("vrt.tfm"), "--matrix", dir.file("vrt.txt"), p, q})));
  ASSERT_TRUE(written(run({"--out", dir.file("ply.tfm"), "--matrix", dir.file("ply.txt"),
                           dir.file("bun000.ply"), dir.file("bun045.ply")})));
  EXPECT_EQ(read_rows(dir.file("ply.tfm"), 5), read_rows(dir.file("vrt.tfm"), 5));
  const std::string matrix = ScratchDir::read(dir.file("vrt.txt"));
  EXPECT_EQ(ScratchDir::read(dir.file("ply.txt")), matrix);

  std::istringstream lines(matrix);
  std::string line;
  int rows = 0;
  while (std::getline(lines, line)) {
    std::istringstream numbers(line);
    double v;
    int columns = 0;
    while (numbers >> v) ++columns;
    EXPECT_TRUE(numbers.eof()) << line;
    EXPECT_EQ(columns, 4) << line;
    ++rows;
  }
  EXPECT_EQ(rows, 4);
  const Mat4 m = read_rows(dir.file("vrt.txt"), 1), tfm = read_rows(dir.file("vrt.tfm"), 5);
  EXPECT_NE(m, identity4());
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)  // results.tfm carries six significant digits
      EXPECT_NEAR(m[r][c], tfm[r][c], 5e-6 * std::max(1.0, std::abs(m[r][c]))) << r << c;
}

// ---- refusals --------------------------------------------------------------------------------

TEST(Aligner, RefusesBadOptionsAndUnreadableModelsWithoutWriting) {
  ScratchDir dir;
  const std::string out = dir.file("results.tfm");
  const std::string p = kExamples + "/bun000.vrt";
  EXPECT_EQ(run({"--out", out, "-x", p, p}), 1);
  EXPECT_EQ(run({"--out", out, "--bogus", p, p}), 1);
  EXPECT_EQ(run({"--out", out, p}), 1);
  EXPECT_EQ(run({"--out", out, p, dir.file("missing.vrt")}), 1);
  EXPECT_EQ(run({"--out", out, dir.write("two.vrt", "0 0 0\n1 1 1\n"), p}), 1);
  EXPECT_EQ(run({p, p, "--out"}), 1);
  EXPECT_EQ(run({"--out", out, p, p, "--matrix"}), 1);
  EXPECT_EQ(run({"--out", out, p, dir.write("broken.ply", "ply\nformat ascii 1.0\n")}), 1);
  EXPECT_FALSE(std::ifstream(out).good());
  const std::string grid = dir.write("grid.vrt", testing::grid_vrt(20, 1.0));
  const std::string moved = dir.write("moved.vrt", testing::grid_vrt(20, 1.0, 2, 1, 0));
  EXPECT_EQ(run({"--out", out, "--matrix", dir.file("no/such/matrix.txt"), grid, moved}), 1);
  EXPECT_TRUE(written(run({"--out", out, "--matrix", dir.file("matrix.txt"), grid, moved})));
  EXPECT_EQ(run({"--help"}), 0);
}

TEST(Aligner, AResultFileThatCannotBeWrittenEndsWithStatusOne) {
  ScratchDir dir;
  const std::string p = kExamples + "/bun000.vrt", q = kExamples + "/bun045.vrt";
  std::filesystem::create_directory(dir.file("folder"));
  for (const std::string& out : {dir.file("missing/results.tfm"), dir.file("folder")}) {
    std::vector<const char*> argv = {"kestrel-align", "-y",      "1",      "--out",
                                     out.c_str(),     p.c_str(), q.c_str()};
    FILE* err = std::tmpfile();
    FILE* sink = std::tmpfile();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(align_main(static_cast<int>(argv.size()), argv.data(), sink, err), 1) << out;
    ::testing::internal::GetCapturedStdout();
    std::rewind(err);
    char message[512] = {};
    EXPECT_GT(std::fread(message, 1, sizeof message - 1, err), 0u);
    EXPECT_NE(std::string(message).find("cannot write"), std::string::npos) << message;
    std::fclose(err);
    std::fclose(sink);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("folder")));
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.file(""))) entries += e.exists();
  EXPECT_EQ(entries, 1u);  // the folder only: no temporary file stayed behind
}

// The profile names are read by benchmark scripts; they must stay as they are.
TEST(Aligner, ProfilePrintsStagesAndCountsAndGoesIntoTheJson) {
  ScratchDir dir;
  const std::string p = kExamples + "/bun000.vrt", q = kExamples + "/bun045.vrt";
  const std::string out_file = dir.file("results.tfm");
  std::vector<const char*> argv = {"kestrel-align", "--profile",      "--json",  "--icp",
                                   "--out",         out_file.c_str(), p.c_str(), q.c_str()};
  FILE* out = std::tmpfile();
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(written(align_main(static_cast<int>(argv.size()), argv.data(), out, out)));
  ::testing::internal::GetCapturedStdout();
  std::rewind(out);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  std::fclose(out);
  for (const char* label : {"base selection", "pair extraction", "quad search", "motion estimation",
                            "LCP scoring", "candidates scored", "LCP early exits"})
    EXPECT_NE(text.find(label), std::string::npos) << label;
  const std::string json = text.substr(text.rfind("\n{"));
  for (const char* key :
       {"\"profile\":{\"stages_ms\":{\"base_selection\":", "\"pair_extraction\":",
        "\"quad_search\":", "\"motion_estimation\":", "\"lcp_scoring\":", "\"counts\":{\"trials\":",
        "\"pairs_d1\":", "\"pairs_d2\":", "\"quads\":", "\"candidates\":", "\"lcp_early_exits\":",
        "\"coarse_matrix\":", "\"refined_matrix\":", "\"icp_time_ms\":", "\"matrix\":",
        "\"stopped\":false"})
    EXPECT_NE(json.find(key), std::string::npos) << key;
}

}  // namespace
}  // namespace kestrel::app
