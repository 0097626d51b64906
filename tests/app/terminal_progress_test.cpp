// The aligner's progress line: its words, how it is drawn and wiped, and what a terminal shows
// when the aligner runs on one.

#include "app/terminal_progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app_test_support.h"

namespace kestrel::app {
namespace {

using registration::ProgressPoint;
using testing::ScratchDir;
using testing::step_at;
using testing::written;

const std::string kExamples = KESTREL_EXAMPLES_DIR;

// ---- words -------------------------------------------------------------------------------

TEST(TerminalProgress, TextShowsTrialLcpShareAndTimes) {
  const ProgressPoint at = step_at(2, 4, 50, 200, 0.7861f);
  EXPECT_EQ(terminal_progress_text(at, run_progress(at, 3.0)),
            "trial 2/4  best LCP 0.786  25.0% of 200 candidates  3.0 s, ~6.6 s left");
  const ProgressPoint start = step_at(1, 4, 0, 0);
  EXPECT_EQ(terminal_progress_text(start, run_progress(start, 0.04)),
            "trial 1/4  best LCP 0.000  looking for candidates  0.0 s");
}

TEST(TerminalProgress, TextKeepsRansacCountsShort) {
  const ProgressPoint at = step_at(1, 55, 6300, 42144192000ull, 0.376f);
  const std::string text = terminal_progress_text(at, run_progress(at, 65.0));
  EXPECT_NE(text.find("0.000015% of 4.2e+10 candidates  1:05, >1 year left"), std::string::npos)
      << text;
  EXPECT_LT(text.size(), 80u) << text;
}

// ---- drawing -----------------------------------------------------------------------------

// Waits (up to 10 s) until the file holds a whole line, which ends in its elapsed time.
std::string wait_for_line(const std::string& path) {
  std::string text;
  for (int k = 0; k < 1000; ++k) {
    text = ScratchDir::read(path);
    if (text.size() > 2 && text.compare(text.size() - 2, 2, " s") == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return text;
}

TEST(TerminalProgress, DrawsTheFirstStepAtOnceAndWipesItAtTheEnd) {
  ScratchDir dir;
  const std::string path = dir.file("line.txt");
  FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  {
    TerminalProgress line(out, 60.0);  // no beat within the test: one drawing only
    line.step(step_at(1, 4, 0, 0));
    const std::string drawn = wait_for_line(path);
    ASSERT_EQ(drawn.rfind("\rtrial 1/4  best LCP 0.000  looking for candidates  ", 0), 0u) << drawn;
    line.finish();
    const std::string text = ScratchDir::read(path);
    const size_t n = drawn.size() - 1;
    EXPECT_EQ(text, drawn + "\r" + std::string(n, ' ') + "\r");
    line.finish();  // once is enough
    EXPECT_EQ(ScratchDir::read(path), text);
  }
  std::fclose(out);
}

TEST(TerminalProgress, ARunWithoutStepsOrEndedByDoneDrawsNothing) {
  ScratchDir dir;
  const std::string path = dir.file("line.txt");
  FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  { TerminalProgress idle(out, 0.01); }
  {
    TerminalProgress line(out, 0.01);
    ProgressPoint done = step_at(3, 4, 0, 0, 0.5f);
    done.done = true;
    line.step(done);
    line.step(step_at(4, 4, 0, 0, 0.5f));  // after the end: not drawn
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fclose(out);
  EXPECT_EQ(ScratchDir::read(path), "");
}

// ---- the aligner on a terminal -----------------------------------------------------------

std::string align_on_terminal(const std::string& args, const ScratchDir& dir, int* status) {
  const std::string pair = " '" + kExamples + "/bun000.vrt' '" + kExamples + "/bun045.vrt'";
  return testing::on_terminal("cd '" + dir.file("") + "' && '" + KESTREL_ALIGN + "' " + args + pair,
                              dir, status);
}

// Both streams on one terminal: the line stands in for the run's own "\r" lines, which would
// overwrite it, and is wiped before the closing time.
TEST(TerminalProgress, OneTerminalShowsTheLineInsteadOfTheRunsOwn) {
  ScratchDir dir;
  int status = -1;
  const std::string screen = align_on_terminal("-nd 10", dir, &status);
  EXPECT_TRUE(written(status));
  const size_t line = screen.rfind("best LCP");
  ASSERT_NE(line, std::string::npos) << screen;
  EXPECT_NE(screen.find("\rtrial "), std::string::npos) << screen;
  EXPECT_EQ(screen.find("), LCP: "), std::string::npos) << screen;
  const size_t time = screen.find("Time: ", line);
  ASSERT_NE(time, std::string::npos) << screen;
  const size_t wipe = screen.find('\r', line);
  EXPECT_EQ(screen.find_first_not_of(" \r\n", wipe), time) << screen;
  EXPECT_NE(screen.find("translation: "), std::string::npos) << screen;
}

// --quiet: no progress line at all, neither the line nor the run's "\r" trial lines; the run's
// time and the results still print.
TEST(TerminalProgress, QuietLeavesNoProgressLine) {
  ScratchDir dir;
  int status = -1;
  const std::string screen = align_on_terminal("--quiet", dir, &status);
  EXPECT_TRUE(written(status));
  EXPECT_EQ(screen.find("best LCP"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("\rtrial "), std::string::npos) << screen;
  EXPECT_NE(screen.find("Time: "), std::string::npos) << screen;
  EXPECT_NE(screen.find("translation: "), std::string::npos) << screen;
}

// With standard output in a file, the terminal holds the line and nothing else; --quiet
// leaves it blank.
TEST(TerminalProgress, StdoutInAFileLeavesOnlyTheLineOnTheTerminal) {
  ScratchDir dir;
  int status = -1;
  const std::string screen = align_on_terminal("> out.txt", dir, &status);
  EXPECT_TRUE(written(status));
  EXPECT_EQ(screen.rfind("\rtrial ", 0), 0u) << screen;
  EXPECT_NE(screen.find(" best LCP "), std::string::npos) << screen;
  EXPECT_EQ(screen.back(), '\r') << screen;
  EXPECT_EQ(screen.find('\n'), std::string::npos) << screen;
  EXPECT_NE(ScratchDir::read(dir.file("out.txt")).find("\rtrial 1("), std::string::npos);
  EXPECT_EQ(align_on_terminal("--quiet > out.txt", dir, &status), "");
}

}  // namespace
}  // namespace kestrel::app
