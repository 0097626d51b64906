#pragma once
// The extent of a scan's points without the few written far off the rest (sentinel values,
// flying pixels kilometres out): the range of an even sample less its outermost half percent at
// each end. The loader's origin and the grids' boxes both take it.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kestrel::core {

// Every how many of `n` points an even sample of about 4096 of them takes.
inline size_t middle_sample_stride(size_t n) {
  constexpr size_t kSample = 4096;
  return std::max<size_t>(1, n / kSample);
}

// The lowest and highest of `values` (not empty; reordered) less the outermost half percent at
// each end; every value counts when there are under 200.
inline void middle_range(std::vector<double>& values, double& lo, double& hi) {
  constexpr double kTail = 0.005;
  const auto tail = static_cast<long>(kTail * static_cast<double>(values.size()));
  std::nth_element(values.begin(), values.begin() + tail, values.end());
  lo = values[static_cast<size_t>(tail)];
  std::nth_element(values.begin(), values.end() - 1 - tail, values.end());
  hi = values[values.size() - 1 - static_cast<size_t>(tail)];
}

}  // namespace kestrel::core
