#include "app/terminal_progress.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel::app {

namespace {

// Columns of the terminal behind `file`, or 0 when it cannot be told. A line as wide as the
// terminal would wrap, and "\r" would then redraw only its second half.
size_t terminal_columns(FILE* file) {
  winsize size{};
  if (ioctl(fileno(file), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

std::string count_text(uint64_t count) {
  char buffer[32];
  if (count < 10000000)
    std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(count));
  else
    std::snprintf(buffer, sizeof buffer, "%.1e", static_cast<double>(count));
  return buffer;
}

}  // namespace

std::string terminal_progress_text(const registration::ProgressPoint& at, const RunProgress& p) {
  char head[64];
  std::snprintf(head, sizeof head, "trial %d/%d  best LCP %.3f  ", at.trial, at.num_try,
                static_cast<double>(at.lcp));
  std::string text = head;
  if (at.count == 0)
    text += "looking for candidates";
  else
    text += percent_text(p.trial_share) + " of " + count_text(at.count) + " candidates";
  text += "  " + duration_text(p.elapsed_s);
  if (p.left_s) {
    const std::string left = duration_text(*p.left_s);
    text += (left[0] == '>' ? ", " : ", ~") + left + " left";  // ">1 year" is no estimate
  }
  return text;
}

TerminalProgress::TerminalProgress(FILE* out, double interval_s)
    : out_(out), start_(core::Clock::now()), interval_s_(interval_s) {
  drawer_ = std::thread([this] { redraw_loop(); });
}

TerminalProgress::~TerminalProgress() {
  finish();
}

void TerminalProgress::step(const registration::ProgressPoint& at) {
  if (at.done) {
    finish();
    return;
  }
  bool first = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    latest_ = at;
    first = !has_step_;
    has_step_ = true;
  }
  if (first) wake_.notify_all();  // show at once that the run has begun
}

void TerminalProgress::finish() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (drawer_.joinable()) drawer_.join();
  // The drawer has ended, so nothing can redraw over the wiped line.
  if (shown_ == 0) return;
  std::fprintf(out_, "\r%s\r", std::string(shown_, ' ').c_str());
  std::fflush(out_);
  shown_ = 0;
}

// The first step is drawn at once, then the line is redrawn on the beat until finish().
void TerminalProgress::redraw_loop() {
  const auto interval = std::chrono::duration<double>(interval_s_);
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return stopping_ || has_step_; });
  while (!stopping_) {
    const registration::ProgressPoint at = latest_;
    lock.unlock();
    const double elapsed_s = core::elapsed_ms(start_) * 0.001;
    draw(terminal_progress_text(at, run_progress(at, elapsed_s)));
    lock.lock();
    wake_.wait_for(lock, interval, [this] { return stopping_; });
  }
}

// Cut to the terminal's width and padded over a longer previous line.
void TerminalProgress::draw(const std::string& text) {
  std::string line = text;
  const size_t columns = terminal_columns(out_);
  if (columns > 1 && line.size() > columns - 1) line.resize(columns - 1);
  const size_t width = line.size();
  if (width < shown_) line.append(shown_ - width, ' ');
  std::fprintf(out_, "\r%s", line.c_str());
  std::fflush(out_);
  shown_ = width;
}

bool is_terminal(FILE* file) {
  return file != nullptr && isatty(fileno(file)) == 1;
}

bool same_terminal(int fd_a, int fd_b) {
  struct stat a {
  }, b{};
  if (isatty(fd_a) != 1 || isatty(fd_b) != 1) return false;
  if (fstat(fd_a, &a) != 0 || fstat(fd_b, &b) != 0) return false;
  return a.st_rdev == b.st_rdev;
}

}  // namespace kestrel::app
