#pragma once
// The links of a long action to the window that started it: a repaint request, a poll that
// asks whether the user wants the action stopped (Escape in the window, Ctrl-C or a time limit
// in the aligner), and news of how far a registration run has come. The headless aligner and
// the tests may leave any of them empty.

#include <functional>

#include "registration/records.h"

namespace kestrel::app {

struct ActionHooks {
  std::function<void()> repaint;      // draw a frame now
  std::function<bool()> should_stop;  // true when the running action should end now
  // A run's steps as the engine reports them (EngineHooks::on_step); often, so pace drawing.
  std::function<void(const registration::ProgressPoint&)> on_step;

  void request_repaint() const {
    if (repaint) repaint();
  }
};

}  // namespace kestrel::app
