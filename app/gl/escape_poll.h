#pragma once
// Sees the Escape key while a run holds the GUI thread and GLUT reads no events. A second X
// connection selects KeyPress on the program's windows, so the server queues every press for
// it, however short; polling that queue never blocks. A key-map query backs it up.

#include <cstdint>
#include <vector>

namespace kestrel::app {

class EscapePoll {
 public:
  EscapePoll() = default;
  EscapePoll(const EscapePoll&) = delete;
  EscapePoll& operator=(const EscapePoll&) = delete;
  ~EscapePoll();

  // Opens the second connection to `display_name` (the display GLUT uses). False when it
  // cannot be opened; the poll then always answers false.
  bool open(const char* display_name);
  // Selects key presses on one more X window (an id from glXGetCurrentDrawable).
  void watch(unsigned long window);
  // Drops every press seen so far, so a press made before an action does not stop it.
  void reset();
  // True when Escape went down since the last poll or reset. Cheap enough for every
  // candidate: the connection is read at most every few milliseconds.
  bool pressed();

 private:
  bool drain_queue();  // true when an Escape press was among the queued events
  bool key_held();     // the key-map query

  void* display_ = nullptr;  // Display*, kept opaque so X11 stays inside escape_poll.cpp
  unsigned escape_code_ = 0;
  std::vector<unsigned long> windows_;
  int64_t last_queue_us_ = 0;
  int64_t last_keymap_us_ = 0;
};

}  // namespace kestrel::app
