// PLY input through the reader every model load uses: the same scan in every encoding gives the
// same points, and a broken file is refused with a message while the loaded set stays.
#include "core/ply_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "core/point_file.h"
#include "ply_writer.h"
#include "point_read_fixture.h"

namespace kestrel::core {
namespace {

namespace fs = std::filesystem;
using test::PlyEncoding;
using test::PlyLayout;

const std::string kBun000 = std::string(KESTREL_EXAMPLES_DIR) + "/bun000.vrt";

class PlyFile : public test::PointReadFixture {
 protected:
  using PointReadFixture::write;
  std::string write(const std::string& name, const test::Vertices& points,
                    const test::Polygons& polygons, const PlyLayout& layout) const {
    test::write_ply(path(name), points, polygons, layout);
    return path(name);
  }
};
const test::Vertices kSquare = {{0, 0, 1}, {2, 0, 1}, {2, 2, 1}, {0, 2, 1}};

// ---- the same scan in every encoding ---------------------------------------------------------

struct Encoding {
  const char* label;
  PlyLayout layout;
};

class PlyEncodings : public PlyFile, public ::testing::WithParamInterface<Encoding> {};

// A load reads the full set (sample 1) and the working set (sample 0, centred): both must match
// the .vrt point for point, and so must the faces the reconstruction gives them.
TEST_P(PlyEncodings, ReadsTheSamePointsAsTheVrtFile) {
  const std::string ply = write("bun000.ply", test::read_vrt(kBun000), {}, GetParam().layout);
  for (const int32_t sample : {1, 0}) {
    PointSet vrt_set;
    FaceList vrt_faces;
    float c[3];
    int32_t vrt_sample = sample;
    ASSERT_TRUE(read_point_set(kBun000, vrt_set, vrt_faces, sample == 0, vrt_sample, 0, c[0], c[1],
                               c[2], 1000));
    ASSERT_TRUE(read(ply, sample, sample == 0)) << error_;
    ASSERT_EQ(set_.size(), vrt_set.size());
    for (size_t i = 0; i < set_.size(); ++i) {
      ASSERT_EQ(set_[i].x, vrt_set[i].x) << i;
      ASSERT_EQ(set_[i].y, vrt_set[i].y) << i;
      ASSERT_EQ(set_[i].z, vrt_set[i].z) << i;
      ASSERT_EQ(set_[i].nz, vrt_set[i].nz) << i;
    }
    ASSERT_EQ(faces_.size(), vrt_faces.size());
    EXPECT_EQ(cx_, c[0]);
    EXPECT_EQ(cz_, c[2]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllEncodings, PlyEncodings,
    ::testing::Values(Encoding{"AsciiFloat", {PlyEncoding::kAscii, false, false}},
                      Encoding{"AsciiDoubleWithExtras", {PlyEncoding::kAscii, true, true}},
                      Encoding{"LittleEndianFloatWithExtras",
                               {PlyEncoding::kLittleEndian, false, true}},
                      Encoding{"LittleEndianDouble", {PlyEncoding::kLittleEndian, true, false}},
                      Encoding{"BigEndianFloat", {PlyEncoding::kBigEndian, false, false}},
                      Encoding{"BigEndianDoubleWithExtras", {PlyEncoding::kBigEndian, true, true}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(PlyFile, XyzIsReadAsVrt) {
  std::ifstream in(kBun000);
  const std::string xyz = write("bun000.xyz", std::string(std::istreambuf_iterator<char>(in), {}));
  ASSERT_TRUE(read(xyz)) << error_;
  PointSet vrt_set;
  FaceList vrt_faces;
  float c[3];
  int32_t one = 1;
  ASSERT_TRUE(read_point_set(kBun000, vrt_set, vrt_faces, false, one, 0, c[0], c[1], c[2], 1000));
  ASSERT_EQ(set_.size(), vrt_set.size());
  EXPECT_EQ(set_.back().z, vrt_set.back().z);
}

// ---- faces and values ------------------------------------------------------------------------

// Like an OBJ file's faces: kept only when the whole file is read (sample 1), normals then zero.
TEST_F(PlyFile, FacesAreFannedAndKeptOnlyAtSampleOne) {
  for (const PlyEncoding encoding : {PlyEncoding::kAscii, PlyEncoding::kBigEndian}) {
    const std::string ply = write("quad.ply", kSquare, {{0, 1, 2, 3}, {0, 1}}, {encoding});
    ASSERT_TRUE(read(ply)) << error_;
    ASSERT_EQ(faces_.size(), 2u);  // the quad as two triangles; the two-corner face is dropped
    EXPECT_EQ(faces_[1].v[0], 0);
    EXPECT_EQ(faces_[1].v[1], 2);
    EXPECT_EQ(faces_[1].v[2], 3);
    EXPECT_EQ(set_[0].nz, 0);
    ASSERT_TRUE(read(ply, 0));
    EXPECT_EQ(set_[0].nz, 1);  // triangulated instead
  }
}

TEST_F(PlyFile, NonFiniteVerticesAreSkippedAndFacesFollowTheKeptOnes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  test::Vertices points = {{nan, 0, 0}};
  points.insert(points.end(), kSquare.begin(), kSquare.end());
  const std::string binary =
      write("nan.ply", points, {{1, 2, 3}, {0, 1, 2}, {4, 3, 9}}, {PlyEncoding::kLittleEndian});
  ASSERT_TRUE(read(binary)) << error_;
  ASSERT_EQ(set_.size(), 4u);
  ASSERT_EQ(faces_.size(), 1u);  // the face on the NaN vertex and the one past the end are gone
  EXPECT_EQ(faces_[0].v[0], 0);
  EXPECT_EQ(faces_[0].v[2], 2);

  const std::string ascii = write("nan_ascii.ply",
                                  "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\n"
                                  "property float y\nproperty float z\nend_header\n"
                                  "nan 0 0\n0 inf 0\n1e50 0 0\n0 0 0\n1 0 0\n0 1 0\n");
  ASSERT_TRUE(read(ascii)) << error_;
  EXPECT_EQ(set_.size(), 3u);
}

TEST_F(PlyFile, CoordinatesOfAnyNumericTypeAndEmptyElementsOfAnyCount) {
  const std::string ply = write("ints.ply",
                                "ply\nformat ascii 1.0\nelement nothing 99999999999999\n"
                                "element vertex 3\nproperty short x\nproperty uchar y\n"
                                "property int z\nproperty list uchar float weights\nend_header\n"
                                "-300 0 70000 2 0.5 0.5\n0 255 0 0\n7 1 -1 1 3\n");
  ASSERT_TRUE(read(ply)) << error_;
  ASSERT_EQ(set_.size(), 3u);
  EXPECT_EQ(set_[0].x, -300);
  EXPECT_EQ(set_[0].z, 70000);
  EXPECT_EQ(set_[1].y, 255);
  EXPECT_EQ(set_[2].z, -1);
}

// ---- refusals leave the caller's set alone ---------------------------------------------------

std::string header(const std::string& format, const std::string& elements) {
  return "ply\nformat " + format + " 1.0\n" + elements + "end_header\n";
}
const std::string kXyz = "property float x\nproperty float y\nproperty float z\n";

TEST_F(PlyFile, BrokenFilesAreRefusedWithAMessage) {
  ASSERT_TRUE(read(write("good.ply", kSquare, {}, {})));
  const PointSet before = set_;
  const float cx_before = cx_;

  std::string binary = test::ply_file_bytes(kSquare, {}, {PlyEncoding::kLittleEndian});
  // One face whose uint count claims four billion corners.
  std::string huge_list =
      header("binary_little_endian", "element vertex 1\n" + kXyz +
                                         "element face 1\nproperty list uint int vertex_indices\n");
  huge_list += std::string(12, '\0') + std::string(4, '\xff') + std::string(8, '\0');
  const double nan = std::numeric_limits<double>::quiet_NaN();

  const struct {
    std::string name, bytes, reason;
  } cases[] = {
      {"no_z.ply",
       header("ascii", "element vertex 1\nproperty float x\nproperty float y\n") + "1 2\n",
       "no numeric x, y and z"},
      {"list_z.ply",
       header("ascii",
              "element vertex 1\nproperty float x\nproperty float y\n"
              "property list uchar float z\n") +
           "1 2 1 3\n",
       "no numeric x, y and z"},
      {"no_vertex.ply", header("ascii", "element point 1\n" + kXyz) + "1 2 3\n",
       "no vertex element"},
      {"short_ascii.ply", header("ascii", "element vertex 5\n" + kXyz) + "0 0 0\n1 0 0\n0 1 0\n",
       "vertex 4 of 5 cannot be read"},
      {"word.ply", header("ascii", "element vertex 2\n" + kXyz) + "0 0 0\n1 zero 0\n",
       "vertex 2 of 2 cannot be read"},
      {"short_binary.ply", binary.substr(0, binary.size() - 5), "vertex 4 of 4 cannot be read"},
      {"count_beyond.ply",
       header("binary_little_endian", "element vertex 1000\n" + kXyz) +
           binary.substr(binary.find("end_header\n") + 11),
       "vertex 5 of 1000 cannot be read"},
      {"huge_list.ply", huge_list, "face 1 of 1 cannot be read"},
      {"negative_list.ply",
       header("ascii", "element vertex 3\n" + kXyz +
                           "element face 1\nproperty list int int vertex_indices\n") +
           "0 0 0\n1 0 0\n0 1 0\n-1 0 1 2\n",
       "face 1 of 1 cannot be read"},
      {"int64.ply", header("ascii", "element vertex 1\nproperty int64 x\n") + "1\n",
       "unsupported property type"},
      {"orphan.ply", header("ascii", kXyz + "element vertex 1\n") + "1 2 3\n",
       "a property before any element"},
      {"no_end.ply", "ply\nformat ascii 1.0\nelement vertex 1\n" + kXyz + "1 2 3\n",
       "no end_header"},
      {"middle_endian.ply", header("binary_middle_endian", "element vertex 1\n" + kXyz),
       "header line 2"},
      {"text.ply", "0 0 0\n1 0 0\n0 1 0\n", "not a PLY file"},
      {"empty.ply", "", "not a PLY file"},
      {"all_nan.ply", test::ply_file_bytes({{nan, 0, 0}, {0, nan, 1}}, {}, {}),
       "no vertex has finite"},
      {"no_vertices.ply", header("ascii", "element vertex 0\n" + kXyz), "no vertex has finite"},
      // Binary files without lists are read straight into the points: the same refusals.
      {"no_z_binary.ply",
       header("binary_little_endian", "element vertex 1\nproperty float x\nproperty float y\n") +
           std::string(8, '\0'),
       "no numeric x, y and z"},
      {"no_vertex_binary.ply", header("binary_big_endian", "element point 1\n" + kXyz),
       "point 1 of 1 cannot be read"},
      {"all_nan_binary.ply",
       test::ply_file_bytes({{nan, 0, 0}, {0, nan, 1}}, {}, {PlyEncoding::kBigEndian, true}),
       "no vertex has finite"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(read(write(c.name, c.bytes))) << c.name;
    EXPECT_NE(error_.find(c.name), std::string::npos) << error_;
    EXPECT_NE(error_.find(c.reason), std::string::npos) << c.name << ": " << error_;
    ASSERT_EQ(set_.size(), before.size()) << c.name;
    EXPECT_EQ(set_[2].x, before[2].x);
    EXPECT_EQ(cx_, cx_before);
  }
  EXPECT_FALSE(read(path("missing.ply")));
  EXPECT_NE(error_.find("cannot open"), std::string::npos);
}

// The reader on its own replaces nothing when it refuses.
TEST_F(PlyFile, RefusalLeavesTheOutputsAsTheyWere) {
  PointSet points = {{1, 2, 3, 0, 0, 1}};
  FaceList faces = {Face{{0, 0, 0}}};
  std::string error;
  EXPECT_FALSE(
      read_ply_file(write("bad.ply", "ply\nformat ascii 1.0\n"), points, faces, true, error));
  EXPECT_FALSE(error.empty());
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].nz, 1);
  EXPECT_EQ(faces.size(), 1u);
}

}  // namespace
}  // namespace kestrel::core
