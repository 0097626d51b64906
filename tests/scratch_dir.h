#pragma once
// A scratch folder per test, shared by the tests of every layer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrel::testing {

namespace fs = std::filesystem;

// A fresh folder under the test temp dir, removed at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::path(::testing::TempDir()) / ("kestrel_" + std::string(info->test_suite_name()) +
                                              "_" + info->name() + "_" +
                                              std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ / name) << text;
    return file(name);
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

 private:
  fs::path path_;
};

}  // namespace kestrel::testing
