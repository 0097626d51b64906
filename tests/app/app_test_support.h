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

#include "registration/records.h"
#include "scratch_dir.h"

namespace kestrel::app::testing {

namespace fs = std::filesystem;

// The aligner wrote its results: 0 when it is confident of them, 3 when not.
inline bool written(int status) { return status == 0 || status == 3; }

using kestrel::testing::ScratchDir;

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
