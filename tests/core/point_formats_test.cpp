// The format table: which row a file name picks, and rows that cannot shadow each other.
#include "core/point_formats.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kestrel::core {
namespace {

TEST(PointFormats, NamePicksTheRowOfItsLastThreeCharacters) {
  const struct {
    const char* name;
    const char* ending;  // nullptr: no format
  } cases[] = {
      {"scan.obj", "obj"},       {"scan.vrt", "vrt"},      {"scan.pct", "pct"},
      {"scan.txt", "txt"},       {"scan.ply", "ply"},      {"scan.xyz", "xyz"},
      {"scanobj", "obj"},        {"dir.ply/a.vrt", "vrt"}, {"scan.OBJ", nullptr},
      {"scan.vrt.bak", nullptr}, {"vr", nullptr},          {"", nullptr},
  };
  for (const auto& c : cases) {
    const PointFormat* format = point_format_of(c.name);
    if (!c.ending) {
      EXPECT_EQ(format, nullptr) << c.name;
      continue;
    }
    ASSERT_NE(format, nullptr) << c.name;
    EXPECT_STREQ(format->ending, c.ending) << c.name;
  }
}

// A row whose ending is not three characters long could never be picked, and of two rows with
// one ending the second would never be.
TEST(PointFormats, EndingsAreThreeCharactersAndDistinct) {
  std::set<std::string> seen;
  for (const PointFormat& format : point_formats()) {
    EXPECT_EQ(std::string(format.ending).size(), 3u) << format.ending;
    EXPECT_TRUE(seen.insert(format.ending).second) << format.ending;
  }
}

}  // namespace
}  // namespace kestrel::core
