// Stopping a run without a window: Ctrl-C and --max-seconds end it as Escape does, keeping the
// best motion so far.
#include "app/interrupt_watch.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "app_test_support.h"

extern char** environ;

namespace kestrel::app {
namespace {

using testing::grid_vrt;
using testing::ScratchDir;
using testing::written;

sighandler_t current_handler() {
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  return now.sa_handler;
}

void other_handler(int) {}

TEST(InterruptWatch, FirstCtrlCRaisesTheFlagAndTheNextEndsTheProgram) {
  const sighandler_t before = std::signal(SIGINT, other_handler);
  {
    const InterruptWatch watch;
    EXPECT_FALSE(watch.interrupted());
    std::raise(SIGINT);
    EXPECT_TRUE(watch.interrupted());
    EXPECT_EQ(current_handler(), SIG_DFL);  // a second Ctrl-C takes the default action
  }
  EXPECT_EQ(current_handler(), other_handler);  // put back as it was
  {
    const InterruptWatch watch;
    EXPECT_FALSE(watch.interrupted());  // a new watch starts clear
  }
  std::signal(SIGINT, SIG_IGN);  // started in the background of a shell: keeps ignoring it
  {
    const InterruptWatch watch;
    EXPECT_EQ(current_handler(), SIG_IGN);
    std::raise(SIGINT);
    EXPECT_FALSE(watch.interrupted());
  }
  std::signal(SIGINT, before);
}

// A RANSAC run over two 400-point grids: |Q|^3 candidates per trial, far more than a test can
// wait for, with good motions among the first few thousand.
struct LongRun {
  ScratchDir dir;
  std::string p = dir.write("p.vrt", grid_vrt(20, 1.0));
  std::string q = dir.write("q.vrt", grid_vrt(20, 1.0, 2, 1, 0));
  std::string out = dir.file("results.tfm");
  std::vector<std::string> args(const std::vector<std::string>& extra) const {
    std::vector<std::string> a = {"--ransac", "-o", "1", "--json", "--out", out};
    a.insert(a.end(), extra.begin(), extra.end());
    a.push_back(p);
    a.push_back(q);
    return a;
  }
};

// Whether a progress line in `text` from `from` on shows an LCP above 0.
bool shows_a_motion(const std::string& text, size_t from) {
  for (size_t at = text.find("LCP: ", from); at != std::string::npos;
       at = text.find("LCP: ", at + 1))
    if (at + 10 <= text.size() && text.compare(at + 5, 5, "0.000") != 0) return true;
  return false;
}

// Runs kestrel-align in a process of its own, sends it Ctrl-C once its run has found a motion,
// and returns everything it printed on stdout; `status` gets the wait status.
std::string interrupted_run(const std::vector<std::string>& args, int* status) {
  int pipe_fds[2];
  EXPECT_EQ(pipe(pipe_fds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  std::vector<char*> argv = {const_cast<char*>(KESTREL_ALIGN)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, KESTREL_ALIGN, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  // The progress lines show that the run, and the watch around it, have begun.
  std::string text;
  char buf[4096];
  ssize_t n;
  bool sent = false;
  while ((n = read(pipe_fds[0], buf, sizeof buf)) > 0) {
    const size_t from = text.size() < 16 ? 0 : text.size() - 16;
    text.append(buf, static_cast<size_t>(n));
    if (!sent && shows_a_motion(text, from)) {
      kill(pid, SIGINT);
      sent = true;
    }
  }
  close(pipe_fds[0]);
  waitpid(pid, status, 0);
  EXPECT_TRUE(sent);
  return text;
}

TEST(RunStop, CtrlCStopsTheRunAndKeepsTheBestMotion) {
  const LongRun run;
  int status = 0;
  const std::string out = interrupted_run(run.args({}), &status);
  ASSERT_TRUE(WIFEXITED(status)) << out.substr(out.size() > 2000 ? out.size() - 2000 : 0);
  EXPECT_TRUE(written(WEXITSTATUS(status)));
  EXPECT_NE(out.find("\nRun stopped: interrupted (Ctrl-C) in trial 1.\n"), std::string::npos);
  EXPECT_NE(out.find("\"stopped\":true,"), std::string::npos);
  EXPECT_NE(out.find("\"stop_reason\":\"interrupt\""), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(run.out));
}

}  // namespace
}  // namespace kestrel::app
