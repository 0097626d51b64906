#pragma once
// The aligner's live progress line on a terminal: one line redrawn in place with "\r" (trial,
// best LCP, share of the trial's candidates done, elapsed time and, once it can be told, time
// left), so a long run shows it is alive without filling the screen or any log. A thread of its
// own redraws it on a steady beat, so the clock keeps moving while a trial searches for quads
// and reports nothing.

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "app/run_progress.h"
#include "core/clock.h"
#include "registration/records.h"

namespace kestrel::app {

// The line's words for the run standing at `at`, `p` being its measure (run_progress).
std::string terminal_progress_text(const registration::ProgressPoint& at, const RunProgress& p);

// Draws the line on `out`, which must outlive it. step() may be called from any one thread;
// the line is drawn from a thread of its own.
class TerminalProgress {
 public:
  // The run's clock starts now. The first step is drawn at once, and the line is redrawn
  // every `interval_s` seconds after it.
  explicit TerminalProgress(FILE* out, double interval_s = 0.15);
  ~TerminalProgress();
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // The engine's latest step (EngineHooks::on_step), shown at the next redraw; the run's last
  // step (done) ends the line as finish() does.
  void step(const registration::ProgressPoint& at);
  // Stops the redraws, wipes the line and leaves the cursor at its start, so what follows
  // prints on a clean line. Later calls do nothing.
  void finish();

 private:
  void redraw_loop();
  void draw(const std::string& text);

  FILE* out_;
  core::Clock::time_point start_;
  double interval_s_;
  size_t shown_ = 0;  // characters of the line now on screen (drawing thread, then finish)

  std::mutex mutex_;  // guards the three below
  std::condition_variable wake_;
  registration::ProgressPoint latest_;
  bool has_step_ = false;
  bool stopping_ = false;
  std::thread drawer_;  // started last, once the members it reads are set
};

// True when `file` is a terminal.
bool is_terminal(FILE* file);

// True when the two descriptors are the same terminal, so that lines drawn in place on one
// overwrite those of the other.
bool same_terminal(int fd_a, int fd_b);

}  // namespace kestrel::app
