#pragma once
// Thinning a candidate list evenly: on flat or featureless parts nearly every pair and quad
// passes the tests; a share of them, drawn evenly, still holds the right ones where the surface
// repeats itself.

#include <cstddef>
#include <vector>

namespace kestrel::registration {

// Keeps at most `limit` items (0: all), spread evenly over the list in their order.
template <typename T>
void keep_evenly(std::vector<T>& items, size_t limit) {
  if (limit == 0 || items.size() <= limit) return;
  std::vector<T> kept;
  kept.reserve(limit);
  for (size_t k = 0; k < limit; ++k) kept.push_back(items[k * items.size() / limit]);
  items.swap(kept);
}

}  // namespace kestrel::registration
