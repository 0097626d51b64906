#include "registration/search/base_schedules.h"

#include <cstddef>

namespace kestrel::registration {

BaseLimits CycledBases::limits(int32_t index) const {
  const float length = lengths_[static_cast<size_t>(index) % lengths_.size()];
  return {0, length, fourth_share_ * length};
}

}  // namespace kestrel::registration
