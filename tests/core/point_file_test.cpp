#include "core/point_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "point_read_fixture.h"

namespace kestrel::core {
namespace {

namespace fs = std::filesystem;

class PointFile : public test::PointReadFixture {
 protected:
  std::string read_text(const std::string& name) {
    std::ifstream in(dir_ / name);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
};

// ---- formats ---------------------------------------------------------------------------------

TEST_F(PointFile, ObjKeepsItsOwnFacesAtSampleOne) {
  const auto path = write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_TRUE(read(path));
  ASSERT_EQ(set_.size(), 3u);
  ASSERT_EQ(faces_.size(), 1u);
  EXPECT_EQ(faces_[0].v[0], 0);
  EXPECT_EQ(faces_[0].v[2], 2);
  EXPECT_EQ(set_[0].nz, 0);  // own faces: normals stay zero
}

TEST_F(PointFile, ObjFacesIgnoredWhenSampling) {
  const auto path = write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 3 2\n");
  int32_t sample = 0;
  ASSERT_TRUE(read_point_set(path, set_, faces_, false, sample, 0, cx_, cy_, cz_, 1000));
  ASSERT_EQ(faces_.size(), 1u);
  EXPECT_EQ(set_[0].nz, 1);  // the face came from the triangulation
}

TEST_F(PointFile, ObjSkipsOtherLinesAndComments) {
  const auto path = write("mix.obj",
                          "v 0 0 0\n v 5 5 5\nvn 0 0 1\nvt 1 2 3\nv 1 0 0\nf 1/1 2/2 3/3\n"
                          "v 0 1 0\n# 1 2 3\nv 1 2\n");
  ASSERT_TRUE(read(path));
  EXPECT_EQ(set_.size(), 3u);
  ASSERT_EQ(faces_.size(), 1u);
  EXPECT_EQ(set_[0].nz, 1);  // the comment gave no face: the face came from the triangulation
}

TEST_F(PointFile, ObjFaceNamingAMissingVertexIsDropped) {
  const auto path = write("bad.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 9\nf 0 1 2\n");
  ASSERT_TRUE(read(path));
  EXPECT_EQ(faces_.size(), 1u);  // triangulated instead: no face may point past the vertices
  for (const Face& f : faces_)
    for (int v : f.v) EXPECT_LT(v, 3);
}

TEST_F(PointFile, ObjFaceIndexBeyondAnyIntegerIsDropped) {
  const auto path = write("huge.obj",
                          "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 3000000000 1 2\nf 1 2 -5e9\n"
                          "f 1e38 2 3\nf 1.5 2 3.9\n");
  ASSERT_TRUE(read(path));
  ASSERT_EQ(faces_.size(), 1u);  // only the last face, truncated to 0 1 2
  EXPECT_EQ(faces_[0].v[0], 0);
  EXPECT_EQ(faces_[0].v[2], 2);
  EXPECT_EQ(set_[0].nz, 0);  // the file's own face
}

TEST_F(PointFile, VrtCentringGivesCentroidAndMovedPoints) {
  const auto path = write("c.vrt", "0 0 0\n3 0 0\n0 3 3\n");
  ASSERT_TRUE(read(path, 1, true));
  EXPECT_FLOAT_EQ(cx_, 1);
  EXPECT_FLOAT_EQ(cy_, 1);
  EXPECT_FLOAT_EQ(cz_, 1);
  EXPECT_DOUBLE_EQ(set_[0].x, -1);
  EXPECT_DOUBLE_EQ(set_[1].x, 2);
  EXPECT_DOUBLE_EQ(set_[2].z, 2);
  EXPECT_EQ(faces_.size(), 1u);
}

TEST_F(PointFile, PctAndTxtSkipTwoLeadingFields) {
  for (const char* name : {"a.pct", "a.txt"}) {
    const auto path = write(name, "a b 1 2 3 c\na b 4 5 6\nx 7 8 9\nq r 1 0 5\n");
    ASSERT_TRUE(read(path)) << name;
    ASSERT_EQ(set_.size(), 3u) << name;
    EXPECT_EQ(set_[0].x, 1);
    EXPECT_EQ(set_[1].z, 6);
  }
}

TEST_F(PointFile, NumbersAreConvertedAsFloats) {
  const auto path = write("p.vrt", "0.123456789 0 0\n1 0 0\n0 1 0\n");
  ASSERT_TRUE(read(path));
  EXPECT_EQ(set_[0].x, static_cast<double>(0.123456789f));
}

TEST_F(PointFile, SkipsNonFiniteAndOverlongLines) {
  const std::string longline = "1 1 1" + std::string(1100, ' ') + "9\n";
  const auto path = write("p.vrt", "nan 0 0\n0 inf 0\n" + longline + "0 0 0\n1 0 0\n0 1 0\n");
  ASSERT_TRUE(read(path));
  EXPECT_EQ(set_.size(), 3u);
}

TEST_F(PointFile, ReadsLinesOf1022CharactersAndSkipsLongerOnes) {
  for (const char* name : {"long.vrt", "long.obj"}) {
    const std::string head = std::string(name) == "long.obj" ? "v " : "";
    const auto padded = [&head](const std::string& point, size_t length) {
      std::string line = head + point;
      return line + std::string(length - line.size(), ' ') + "\n";
    };
    const auto path = write(name, padded("0 0 0", 1022) + padded("5 5 5", 1023) + head + "1 0 0\n" +
                                      padded("0 1 0", 1022));
    ASSERT_TRUE(read(path)) << name;
    ASSERT_EQ(set_.size(), 3u) << name;
    EXPECT_EQ(set_[2].y, 1) << name;
  }
}

// ---- tricky lines are read as sscanf reads them ----------------------------------------------

// Lines the quick reading must leave to sscanf, or answer exactly as sscanf would.
const char* const kTrickyNumbers[] = {
    "1 2 3",
    " -1.5\t+2.25e3 .5\r",
    "5. -0 1e-3 words",
    "1.e5 0.0000001 3E+2",
    "1e-40 2 3",
    "1e40 1 2",
    "0x1p3 1 2",
    "inf 1 2",
    "nan 1 2",
    "1 2",
    "+-1 2 3",
    ". 1 2 3",
    "\x01 1 2 3",
    "\xa0 1 2 3",
    "262143.99 0.1 -0.3",  // far coordinates (from 2^18) make the file be read exactly
    "1 2 3 4 5 6",
    "",
    "hello",
    "4 5 6e+00",
};

// Each format with what comes before the numbers on a line and the sscanf call it is read by.
struct TrickyFormat {
  const char* name;
  const char* head;
  int (*scan)(const char* line, float (&v)[3]);
};

const TrickyFormat kTrickyFormats[] = {
    {"t.vrt", "",
     [](const char* line, float (&v)[3]) {
       return std::sscanf(line, "%f %f %f", &v[0], &v[1], &v[2]);
     }},
    {"t.obj", "v",
     [](const char* line, float (&v)[3]) {
       char kind;
       return std::sscanf(line, "%c %f %f %f", &kind, &v[0], &v[1], &v[2]) - 1;
     }},
    {"t.pct", "a b ",
     [](const char* line, float (&v)[3]) {
       return std::sscanf(line, "%*s %*s %f %f %f %*s", &v[0], &v[1], &v[2]);
     }},
};

TEST_F(PointFile, TrickyLinesAreReadAsSscanfReadsThem) {
  for (const TrickyFormat& format : kTrickyFormats) {
    std::string text;
    PointSet expected;
    // Three plain points first, so every file holds a set whatever its tricky lines give.
    text +=
        format.head + std::string(" 0 0 0\n") + format.head + " 1 0 0\n" + format.head + " 0 1 0\n";
    expected = {{0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}};
    for (const char* numbers : kTrickyNumbers) {
      const std::string line = format.head + std::string(numbers);
      text += line + "\n";
      float v[3];
      if (format.scan(line.c_str(), v) == 3 && std::isfinite(v[0]) && std::isfinite(v[1]) &&
          std::isfinite(v[2]))
        expected.push_back({v[0], v[1], v[2], 0, 0, 0});
    }
    ASSERT_TRUE(read(write(format.name, text))) << format.name << ": " << error_;
    ASSERT_EQ(set_.size(), expected.size()) << format.name;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(set_[i].x, expected[i].x) << format.name << " point " << i;
      EXPECT_EQ(set_[i].y, expected[i].y) << format.name << " point " << i;
      EXPECT_EQ(set_[i].z, expected[i].z) << format.name << " point " << i;
    }
  }
}

// ---- numbers that go on into other characters -----------------------------------------------

// "%f" reads a shorter number from each of these and says nothing; the reader refuses the file
// instead, naming the line and the field. A face with slashes and extra fields stay as before.
TEST_F(PointFile, NumberWithTrailingCharactersRefusesTheFileWithItsLine) {
  const struct {
    const char* name;
    const char* bad_line;
    const char* field;
  } cases[] = {
      {"d.vrt", "1.5 2.5 3.5D+02", "\"3.5D+02\""}, {"d1.vrt", "1.5D+02 2.5 3.5", "\"1.5D+02\""},
      {"comma.vrt", "1,2,3", "\"1,2,3\""},         {"e.vrt", "1e 2 3", "\"1e\""},
      {"dots.xyz", "1.2.3 4 5", "\"1.2.3\""},      {"x.vrt", "1 2 3x", "\"3x\""},
      {"v.obj", "v 1 2,5 3", "\"2,5\""},           {"f.pct", "a b 1 2 3mm c", "\"3mm\""},
      {"t.txt", "a b 1e5e 2 3", "\"1e5e\""},
  };
  for (const auto& c : cases) {
    const std::string head = std::string(c.name).find(".obj") != std::string::npos ? "v "
                             : std::string(c.name).find(".pct") != std::string::npos ||
                                     std::string(c.name).find(".txt") != std::string::npos
                                 ? "a b "
                                 : "";
    const std::string good = head + "0 0 0\n" + head + "1 0 0\n" + head + "0 1 0\n";
    EXPECT_FALSE(read(write(c.name, good + "# note\n" + c.bad_line + "\n"))) << c.name;
    EXPECT_NE(error_.find(std::string(c.name) + ": line 5: " + c.field + " is not a number"),
              std::string::npos)
        << error_;
  }
  ASSERT_TRUE(read(write("ok.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/1 2/2 3/3\n")));
  ASSERT_TRUE(read(write("ok.xyz", "0 0 0 255 0 0\n1 0 0 0x1F 7\n0 1 0 5mm\n")));
  EXPECT_EQ(set_.size(), 3u);
}

TEST_F(PointFile, ByteOrderMarkBeforeTheFirstLineIsSkipped) {
  for (const char* name : {"bom.vrt", "bom.obj"}) {
    const std::string v = std::string(name) == "bom.obj" ? "v " : "";
    ASSERT_TRUE(read(write(name, "\xEF\xBB\xBF" + v + "7 8 9\n" + v + "1 0 0\n" + v + "0 1 0\n")))
        << error_;
    ASSERT_EQ(set_.size(), 3u) << name;
    EXPECT_EQ(set_[0].x, 7) << name;
  }
}

// Coordinates from 2^18 on lose more than a hundredth in a float: such a file is read exactly.
TEST_F(PointFile, FarCoordinatesAreReadExactlyAndNearOnesAsFloats) {
  const struct {
    const char* text;
    double x;
  } cases[] = {
      {"4500000.123 5400000.456 12.5\n4500001 5400000 12\n4500000 5400001 13\n", 4500000.123},
      {"262143.123 0 0\n1 0 0\n0 1 0\n", static_cast<double>(262143.123f)},
      {"0.123456789 0 0\n1 0 0\n0 1 0\n", static_cast<double>(0.123456789f)},
  };
  for (const char* name : {"far.vrt", "far.ply"}) {
    for (const auto& c : cases) {
      const std::string text = std::string(name) == "far.ply"
                                   ? "ply\nformat ascii 1.0\nelement vertex 3\nproperty double x\n"
                                     "property double y\nproperty double z\nend_header\n" +
                                         std::string(c.text)
                                   : c.text;
      ASSERT_TRUE(read(write(name, text))) << error_;
      EXPECT_EQ(set_[0].x, c.x) << name << " " << c.text;
    }
  }
}

// ---- refusals leave the caller's sets alone --------------------------------------------------

TEST_F(PointFile, RefusalsKeepPreviousContents) {
  const auto good = write("good.vrt", "0 0 0\n1 0 0\n0 1 0\n");
  ASSERT_TRUE(read(good));
  const PointSet before = set_;
  const struct {
    std::string name, text, reason;
  } cases[] = {
      {"upper.OBJ", "v 0 0 0\nv 1 0 0\nv 0 1 0\n", "unknown format"},
      {"other.dat", "0 0 0\n1 0 0\n0 1 0\n", "unknown format"},
      {"empty.vrt", "hello\n", "no line"},
      {"two.vrt", "0 0 0\n1 1 1\n", "fewer than three"},
      {"same.vrt", "1 1 0\n1 1 5\n1 1 9\n", "one position"},
  };
  for (const auto& c : cases) {
    const auto path = write(c.name, c.text);
    EXPECT_FALSE(read(path)) << c.name;
    EXPECT_NE(error_.find(c.name), std::string::npos) << error_;
    EXPECT_NE(error_.find(c.reason), std::string::npos) << error_;
    EXPECT_EQ(set_.size(), before.size());
    EXPECT_EQ(faces_.size(), 1u);
    EXPECT_EQ(cx_, 1.0f / 3);  // centroid output untouched
  }
  EXPECT_FALSE(read((dir_ / "missing.vrt").string()));
  EXPECT_NE(error_.find("cannot open"), std::string::npos);
  fs::create_directories(dir_ / "folder.vrt");
  EXPECT_FALSE(read((dir_ / "folder.vrt").string()));
  EXPECT_NE(error_.find("folder.vrt: is a folder"), std::string::npos) << error_;
  EXPECT_EQ(set_.size(), before.size());
}

TEST_F(PointFile, ThinningThatLeavesTooFewPointsIsRefused) {
  const auto path = write("p.vrt", "0 0 0\n1 0 0\n200 0 0\n200 1 0\n");
  int32_t sample = 1;
  EXPECT_FALSE(
      read_point_set(path, set_, faces_, false, sample, 150, cx_, cy_, cz_, 1000, &error_));
  EXPECT_NE(error_.find("after the cut"), std::string::npos);
  EXPECT_TRUE(set_.empty());
}

// ---- sampling and the cut --------------------------------------------------------------------

TEST_F(PointFile, SampleZeroBecomesCountOverIsampAndHalvesTheSet) {
  std::ostringstream text;
  for (int i = 0; i < 2500; ++i) text << (i % 50) << " " << (i / 50) << " " << (i % 7) << "\n";
  const auto path = write("grid.vrt", text.str());
  int32_t sample = 0;
  ASSERT_TRUE(read_point_set(path, set_, faces_, false, sample, 0, cx_, cy_, cz_, 1000));
  EXPECT_EQ(sample, 2);
  EXPECT_GT(set_.size(), 1100u);
  EXPECT_LT(set_.size(), 1400u);
  PointSet again;
  FaceList again_faces;
  sample = 2;
  ASSERT_TRUE(read_point_set(path, again, again_faces, false, sample, 0, cx_, cy_, cz_, 1000));
  ASSERT_EQ(again.size(), set_.size());  // the reader reseeds: same points every time
  EXPECT_EQ(again[100].x, set_[100].x);
}

TEST_F(PointFile, CutDropsOneSideOfX) {
  std::ostringstream text;
  for (int i = -100; i <= 200; i += 10) text << i << " " << (i % 20) << " 0\n";
  const auto path = write("line.vrt", text.str());
  for (float cut : {150.0f, -50.0f, 0.0f}) {
    int32_t sample = 1;
    ASSERT_TRUE(read_point_set(path, set_, faces_, false, sample, cut, cx_, cy_, cz_, 1000));
    for (const Point3D& p : set_) {
      if (cut > 0) EXPECT_LE(p.x, cut);
      if (cut < 0) EXPECT_GE(p.x, cut);
    }
    if (cut == 0) EXPECT_EQ(set_.size(), 31u);
    if (cut == 150) EXPECT_EQ(set_.size(), 26u);
    if (cut == -50) EXPECT_EQ(set_.size(), 26u);
  }
}

// ---- writers ---------------------------------------------------------------------------------

TEST_F(PointFile, WritersUseSixDigitsAndShiftMovingFaces) {
  PointSet ref = {{0.5, 1.0 / 3, 2, 0, 0, 0}, {1, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}};
  PointSet mov = {{7, 8, 9, 0, 0, 0}, {1, 1, 1, 0, 0, 0}, {2, 1, 1, 0, 0, 0}};
  FaceList ref_faces = {Face{{0, 1, 2}}}, mov_faces = {Face{{2, 1, 0}}};
  ASSERT_TRUE(write_obj(ref, (dir_ / "one.obj").string(), ref_faces));
  EXPECT_EQ(read_text("one.obj"), "v 0.5 0.333333 2\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_TRUE(write_reconstruction(mov, ref, ref_faces, mov_faces, (dir_ / "r.obj").string()));
  EXPECT_EQ(read_text("r.obj"),
            "v 0.5 0.333333 2\nv 1 0 0\nv 0 1 0\nv 7 8 9\nv 1 1 1\nv 2 1 1\nf 1 2 3\nf 6 5 4\n");
  EXPECT_FALSE(write_obj(ref, (dir_ / "no/such/dir.obj").string(), ref_faces));
}

// ---- real scan -------------------------------------------------------------------------------

TEST_F(PointFile, ReadsBundledScan) {
  int32_t sample = 0;
  ASSERT_TRUE(read_point_set(std::string(KESTREL_EXAMPLES_DIR) + "/bun000.vrt", set_, faces_, true,
                             sample, 0, cx_, cy_, cz_, 1000, &error_))
      << error_;
  EXPECT_EQ(sample, 40);
  EXPECT_GT(set_.size(), 900u);
  EXPECT_LT(set_.size(), 1150u);
  EXPECT_GT(faces_.size(), set_.size());
}

}  // namespace
}  // namespace kestrel::core
