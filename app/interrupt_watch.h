#pragma once
// Ctrl-C as a stop request for a run without a window: while a watch lives, the first SIGINT
// only raises a flag that the run's stop poll reads, so the run ends as Escape ends it and the
// best motion so far is kept; a second Ctrl-C ends the program as usual.

#include <csignal>

namespace kestrel::app {

// Installs the handler on construction and puts the previous one back on destruction. One watch
// at a time per process; not copyable.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // Whether Ctrl-C came since the watch began.
  bool interrupted() const;

 private:
  struct sigaction previous_ {};
};

}  // namespace kestrel::app
