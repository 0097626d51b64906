#pragma once
// The links of a long action to the window that started it: a repaint request, and a poll that
// asks whether the user wants the action stopped (Escape in the window, Ctrl-C or a time limit
// in the aligner). The headless aligner and the tests may leave either empty.

#include <functional>

namespace kestrel::app {

struct ActionHooks {
  std::function<void()> repaint;      // draw a frame now
  std::function<bool()> should_stop;  // true when the running action should end now

  void request_repaint() const {
    if (repaint) repaint();
  }
};

}  // namespace kestrel::app
