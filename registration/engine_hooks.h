#pragma once
// The engine's two links to a window: a repaint request and the Escape poll. The headless
// aligner and the tests pass hooks that draw nothing; the window program passes real ones.

#include <functional>

namespace kestrel::registration {

struct EngineHooks {
  std::function<void()> repaint;         // draw a frame now (may be empty)
  std::function<bool()> escape_pressed;  // true when Escape went down since the last poll

  void request_repaint() const {
    if (repaint) repaint();
  }
  bool escape() const { return escape_pressed && escape_pressed(); }
};

}  // namespace kestrel::registration
