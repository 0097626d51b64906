#pragma once
// Messages to the user: each one goes to the console and onto the window's status line, and the
// window keeps the last few beneath it, so a message is never seen only in a terminal.

#include <cstddef>
#include <deque>
#include <string>

namespace kestrel::app {

struct AppState;

// The last messages, oldest first.
struct MessageLog {
  static constexpr size_t kKept = 4;
  std::deque<std::string> lines;
};

// Where tell() also prints a message (unless state.console is off): kNone when the caller's
// library call has printed it already.
enum class Echo { kStdout, kStderr, kNone };

// Shows `text` on the status line, keeps it in state.messages and prints it as `echo` says.
void tell(AppState& state, const std::string& text, Echo echo = Echo::kStdout);

// The kept messages other than the one the status line shows now, newest last, at most `count`.
std::deque<std::string> earlier_messages(const AppState& state, size_t count);

}  // namespace kestrel::app
