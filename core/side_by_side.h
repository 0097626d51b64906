#pragma once
// Two independent pieces of work, on two threads when allowed. Each must touch only what the
// other does not, so the results are the same either way.

#include <thread>

namespace kestrel::core {

// Runs `first` on the calling thread and `second` on a thread of its own when `threads` is at
// least 2, else one after the other; returns when both are done.
template <typename First, typename Second>
void side_by_side(int threads, First&& first, Second&& second) {
  if (threads < 2) {
    first();
    second();
    return;
  }
  std::thread other([&second] { second(); });
  first();
  other.join();
}

}  // namespace kestrel::core
