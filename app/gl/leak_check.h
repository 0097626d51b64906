#pragma once
// In a build with LeakSanitizer: the toolkit's own exit handler closes the display, and the GL
// driver it loaded goes with it, so leaks found at exit could no longer be told apart by their
// library. This runs the leak check before that handler instead.

namespace kestrel::app {

// Call right after glutInit. Does nothing in a build without LeakSanitizer.
void check_leaks_before_toolkit_exit();

}  // namespace kestrel::app
