#include "app/messages.h"

#include <cstdio>

#include "app/app_state.h"

namespace kestrel::app {

void tell(AppState& state, const std::string& text, Echo echo) {
  state.status_text = text;
  std::deque<std::string>& lines = state.messages.lines;
  lines.push_back(text);
  while (lines.size() > MessageLog::kKept) lines.pop_front();
  if (state.console && echo != Echo::kNone)
    std::fprintf(echo == Echo::kStderr ? stderr : stdout, "%s\n", text.c_str());
}

std::deque<std::string> earlier_messages(const AppState& state, size_t count) {
  std::deque<std::string> out(state.messages.lines.begin(), state.messages.lines.end());
  if (!out.empty() && out.back() == state.status_text) out.pop_back();
  while (out.size() > count) out.pop_front();
  return out;
}

}  // namespace kestrel::app
