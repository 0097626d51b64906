#pragma once
// The panel's handlers bound to the session actions. A control only records what was asked
// for; the idle step runs it here, outside any ImGui frame, one action at a time, with hooks
// that repaint the window and poll Escape while the action holds the GUI thread.

#include <string>

#include "app/gl/session.h"

namespace kestrel::app {

// Hooks of the window program: repaint = draw the 3D window now, should_stop = the Escape
// poll.
ActionHooks window_hooks(GlSession& s);

// Runs s.pending, if any and no other action is running, then discards the input that arrived
// meanwhile.
void run_pending_action(GlSession& s);

// id 7 loads `file` as Model P, id 8 as Model Q; other ids do nothing. A failed load keeps the
// models and shows its reason on the status line.
void on_load_model(GlSession& s, int id, const std::string& file);

}  // namespace kestrel::app
