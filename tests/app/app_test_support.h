#pragma once
// Shared helpers of the app tests: a scratch folder per test, small point files, engine steps
// and runs on a pseudo-terminal.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "registration/engine.h"

namespace kestrel::app::testing {

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

// Runs `command` (through sh) with a pseudo-terminal as its standard streams, by util-linux's
// `script`; returns what the terminal received, its line ends turned into "\r\n". Redirections
// inside `command` take streams off the terminal. `status` gets the command's exit status.
inline std::string on_terminal(const std::string& command, const ScratchDir& dir, int* status) {
  const std::string screen = dir.file("terminal.txt");
  const std::string wrapped =
      "script -qec \"" + command + "\" /dev/null < /dev/null > '" + screen + "'";
  const int raw = std::system(wrapped.c_str());
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return ScratchDir::read(screen);
}

// The engine's step of a run at candidate `pos` of `count` in trial `trial` of `num_try`.
inline registration::ProgressPoint step_at(int trial, int num_try, uint64_t pos, uint64_t count,
                                           float lcp = 0) {
  registration::ProgressPoint at;
  at.trial = trial;
  at.num_try = num_try;
  at.pos = pos;
  at.count = count;
  at.lcp = lcp;
  return at;
}

// A bumpy height field of n x n points with spacing h, offset by (ox, oy, oz); as .vrt text.
inline std::string grid_vrt(int n, double h, double ox = 0, double oy = 0, double oz = 0) {
  std::ostringstream out;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = i * h, y = j * h;
      out << x + ox << " " << y + oy << " " << 0.1 * x + 0.05 * y + oz << "\n";
    }
  return out.str();
}

}  // namespace kestrel::app::testing
