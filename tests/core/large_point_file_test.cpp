// Large files are read in windows parsed side by side (text) or straight into the points
// (binary PLY). Each must give what the line-by-line and general reads give, with one thread
// or two.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/point_file.h"
#include "ply_writer.h"
#include "point_read_fixture.h"

namespace kestrel::core::test {
namespace {

struct LargeCase {
  const char* ending;
  const char* prefix;  // before the three numbers of a point line
  int threads;
};

class LargePointFile : public PointReadFixture, public ::testing::WithParamInterface<LargeCase> {
 protected:
  // About 9 MB of lines: points, with blank lines, comments, a line too long to keep, a
  // non-finite point and tricky numbers among them, and a byte-order mark first.
  std::string text() const {
    const LargeCase& c = GetParam();
    std::string out = "\xEF\xBB\xBF";
    char line[96];
    for (int i = 0; out.size() < (size_t{9} << 20); ++i) {
      if (i % 1000 == 7) out += "\n";
      if (i % 1000 == 8) out += "# comment 1 2 3\n";
      if (i % 100000 == 9) out += std::string(c.prefix) + std::string(1100, '7') + "\n";
      if (i % 50000 == 10) out += std::string(c.prefix) + "nan 1 2\n";
      std::snprintf(line, sizeof line, "%s%.6g %.7g %de-3\n", c.prefix, (i % 1000) * 0.37,
                    -0.5 - i % 3000 * 0.125, i % 97);
      out += line;
    }
    return out;
  }

  // The same lines read piece by piece, each piece small enough to be read line by line.
  PointSet piecewise(const std::string& all) {
    PointSet expected;
    size_t at = 0;
    for (int k = 0; at < all.size(); ++k) {
      size_t end = std::min(all.size(), at + (size_t{1} << 20));
      while (end < all.size() && all[end - 1] != '\n') ++end;
      const std::string piece =
          write("piece" + std::to_string(k) + "." + GetParam().ending, all.substr(at, end - at));
      PointSet points;
      FaceList faces;
      EXPECT_TRUE(parse_point_file(piece, points, faces, false, &error_)) << error_;
      expected.insert(expected.end(), points.begin(), points.end());
      at = end;
    }
    return expected;
  }
};

TEST_P(LargePointFile, WindowsSideBySideGiveTheLineByLinePoints) {
  const std::string all = text();
  const std::string file = write(std::string("large.") + GetParam().ending, all);
  PointSet points;
  FaceList faces;
  ASSERT_TRUE(parse_point_file(file, points, faces, false, &error_, GetParam().threads)) << error_;
  const PointSet expected = piecewise(all);
  ASSERT_EQ(points.size(), expected.size());
  for (size_t i = 0; i < points.size(); ++i) {
    ASSERT_EQ(points[i].x, expected[i].x) << i;
    ASSERT_EQ(points[i].y, expected[i].y) << i;
    ASSERT_EQ(points[i].z, expected[i].z) << i;
  }
}

TEST_P(LargePointFile, BadNumberNamesItsLineOfTheWholeFile) {
  std::string all = text();
  size_t lines = 0;
  for (char ch : all) lines += ch == '\n';
  all += std::string(GetParam().prefix) + "1 2 3.5D+02\n" + GetParam().prefix + "1 2 3\n";
  const std::string file = write(std::string("bad.") + GetParam().ending, all);
  PointSet points{{1, 2, 3, 0, 0, 0}};
  FaceList faces;
  EXPECT_FALSE(parse_point_file(file, points, faces, false, &error_, GetParam().threads));
  EXPECT_EQ(error_.rfind(file + ": line " + std::to_string(lines + 1) + ": \"3.5D+02\"", 0), 0u)
      << error_;
  EXPECT_EQ(points.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Formats, LargePointFile,
                         ::testing::Values(LargeCase{"xyz", "", 1}, LargeCase{"xyz", "", 2},
                                           LargeCase{"obj", "v ", 2}, LargeCase{"pct", "a b ", 2}),
                         [](const ::testing::TestParamInfo<LargeCase>& info) {
                           return std::string(info.param.ending) + "_threads" +
                                  std::to_string(info.param.threads);
                         });

// Binary PLY of every byte order and coordinate type, large enough to be read in halves: the
// same points from one thread and two, and the same as the file's text twin.
class LargePly : public PointReadFixture, public ::testing::WithParamInterface<PlyLayout> {};

TEST_P(LargePly, HalvesSideBySideGiveThePointsOfTheText) {
  Vertices vertices;
  std::string xyz;
  char line[64];
  for (int i = 0; i < 300001; ++i) {
    const float v[3] = {i * 0.25f, -1.0f / static_cast<float>(i + 1), static_cast<float>(i % 7)};
    vertices.push_back({v[0], v[1], v[2]});
    std::snprintf(line, sizeof line, "%.9g %.9g %.9g\n", v[0], v[1], v[2]);
    xyz += line;
  }
  const std::string ply = path("large.ply");
  write_ply(ply, vertices, {}, GetParam());
  PointSet text_points, one, two;
  FaceList faces;
  ASSERT_TRUE(parse_point_file(write("large.xyz", xyz), text_points, faces, false, &error_));
  ASSERT_TRUE(parse_point_file(ply, one, faces, false, &error_, 1)) << error_;
  ASSERT_TRUE(parse_point_file(ply, two, faces, false, &error_, 2)) << error_;
  ASSERT_EQ(one.size(), text_points.size());
  ASSERT_EQ(two.size(), text_points.size());
  for (size_t i = 0; i < one.size(); ++i) {
    ASSERT_EQ(one[i].x, text_points[i].x) << i;
    ASSERT_EQ(one[i].z, text_points[i].z) << i;
    ASSERT_EQ(two[i].y, one[i].y) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LargePly,
                         ::testing::Values(PlyLayout{PlyEncoding::kLittleEndian, false, false},
                                           PlyLayout{PlyEncoding::kBigEndian, true, false}));

}  // namespace
}  // namespace kestrel::core::test
