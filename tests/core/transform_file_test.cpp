#include "core/transform_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "scratch_dir.h"

namespace kestrel::core {
namespace {

namespace fs = std::filesystem;

class TransformFile : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto& row : m_)
      for (double& v : row) v = -7;
  }
  std::string write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  bool untouched() const {
    for (const auto& row : m_)
      for (double v : row)
        if (v != -7) return false;
    return true;
  }

  kestrel::testing::ScratchDir scratch_;  // removed with the fixture
  const fs::path dir_ = scratch_.path();
  double m_[4][4];
  std::string error_;
};

const std::string kHead = "files: q.vrt ---> p.vrt\npoints: p.vrt: 3 q.vrt: 3\ntime: 0.1 sec\n\n";
const std::string kRows = "1 0 0 4\n0 1 0 5\n0 0 1 6.5\n0 0 0 1\n";

TEST_F(TransformFile, ReadsRowsFiveToEightOfAResultsFile) {
  const auto path = write("r.tfm", kHead + kRows + "\nUnits: mm\n");
  ASSERT_TRUE(read_transform_file(path, m_, &error_)) << error_;
  EXPECT_EQ(m_[0][3], 4);
  EXPECT_EQ(m_[2][3], 6.5);
  EXPECT_EQ(m_[1][1], 1);
  EXPECT_EQ(m_[3][3], 1);
}

// The first line names both files; a results file for long paths must read back all the same.
TEST_F(TransformFile, ReadsLinesOfAnyLength) {
  const std::string long_name(5000, 'a');
  const auto path = write("long.tfm", "files: " + long_name + " ---> " + long_name +
                                          "\npoints: " + long_name + "\ntime: 1 sec\n\n" + kRows);
  ASSERT_TRUE(read_transform_file(path, m_, &error_)) << error_;
  EXPECT_EQ(m_[1][3], 5);
}

TEST_F(TransformFile, AcceptsWindowsLineEndsAndBlanks) {
  const auto path =
      write("crlf.tfm", "a\r\nb\r\nc\r\n\r\n 1 0 0 4 \r\n0\t1 0 5\r\n0 0 1 6\r\n0 0 0 1");
  ASSERT_TRUE(read_transform_file(path, m_, &error_)) << error_;
  EXPECT_EQ(m_[1][3], 5);
}

TEST_F(TransformFile, RefusesAsAWholeNamingFileAndLine) {
  const struct {
    std::string name, text, message;
  } cases[] = {
      {"empty.tfm", "", "empty.tfm: the transform file ends before line 1"},
      {"short.tfm", kHead + "1 0 0 4\n0 1 0 5\n0 0 1 6\n",
       "short.tfm: the transform file ends before line 8"},
      {"three.tfm", kHead + "1 0 0\n0 1 0 5\n0 0 1 6\n0 0 0 1\n",
       "three.tfm, line 5: expected four numbers"},
      {"five.tfm", kHead + "1 0 0 4 9\n0 1 0 5\n0 0 1 6\n0 0 0 1\n",
       "five.tfm, line 5: expected four numbers"},
      {"word.tfm", kHead + "1 0 0 4\n0 1 0 5\n0 0 1 6\n0 0 0 one\n",
       "word.tfm, line 8: expected four numbers"},
      {"nan.tfm", kHead + "1 0 0 4\n0 1 nan 5\n0 0 1 6\n0 0 0 1\n",
       "nan.tfm, line 6: a value is not a finite number"},
      {"inf.tfm", kHead + "1 0 0 4\n0 1 0 5\n0 0 1 -inf\n0 0 0 1\n",
       "inf.tfm, line 7: a value is not a finite number"},
      {"huge.tfm", kHead + "1 0 0 1e400\n0 1 0 5\n0 0 1 6\n0 0 0 1\n",
       "huge.tfm, line 5: a value is not a finite number"},
      {"nul.tfm", kHead + std::string("1 0 0 4\0 7\n", 11) + "0 1 0 5\n0 0 1 6\n0 0 0 1\n",
       "nul.tfm, line 5: expected four numbers"},
  };
  for (const auto& c : cases) {
    const auto path = write(c.name, c.text);
    EXPECT_FALSE(read_transform_file(path, m_, &error_)) << c.name;
    EXPECT_EQ(error_.rfind((dir_ / c.message).string(), 0), 0u) << error_;
    EXPECT_TRUE(untouched()) << c.name;
  }
  EXPECT_FALSE(read_transform_file((dir_ / "missing.tfm").string(), m_, &error_));
  EXPECT_EQ(error_, (dir_ / "missing.tfm: cannot open the transform file").string());
  fs::create_directories(dir_ / "folder.tfm");
  EXPECT_FALSE(read_transform_file((dir_ / "folder.tfm").string(), m_, &error_));
  EXPECT_EQ(error_, (dir_ / "folder.tfm: is a folder, not a transform file").string());
  EXPECT_TRUE(untouched());
}

}  // namespace
}  // namespace kestrel::core
