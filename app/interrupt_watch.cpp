#include "app/interrupt_watch.h"

namespace kestrel::app {

namespace {

volatile std::sig_atomic_t interrupt_seen = 0;

// Only the flag: anything more is not safe inside a signal handler. SA_RESETHAND has already
// put the default action back, so the next Ctrl-C ends the program.
void on_interrupt(int) {
  interrupt_seen = 1;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  interrupt_seen = 0;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, &previous_);
  // A program started in the background of a shell ignores Ctrl-C meant for the foreground.
  if (previous_.sa_handler == SIG_IGN) sigaction(SIGINT, &previous_, nullptr);
}

InterruptWatch::~InterruptWatch() {
  sigaction(SIGINT, &previous_, nullptr);
}

bool InterruptWatch::interrupted() const {
  return interrupt_seen != 0;
}

}  // namespace kestrel::app
