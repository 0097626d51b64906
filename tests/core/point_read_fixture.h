#pragma once
// What the point-file reader tests share: a scratch folder removed with the fixture, files
// written into it, and a read into sets the test then inspects.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/point_file.h"
#include "scratch_dir.h"

namespace kestrel::core::test {

class PointReadFixture : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }
  // Reads with no cut; centering off and every point kept unless asked.
  bool read(const std::string& file, int32_t sample = 1, bool centering = false) {
    return read_point_set(file, set_, faces_, centering, sample, 0, cx_, cy_, cz_, 1000, &error_);
  }

  kestrel::testing::ScratchDir scratch_;
  const std::filesystem::path dir_ = scratch_.path();
  PointSet set_;
  FaceList faces_;
  float cx_ = -7, cy_ = -7, cz_ = -7;
  std::string error_;
};

}  // namespace kestrel::core::test
