#pragma once
// The ICP works in single precision on the shared float vectors of core/vec3f.h.

#include "core/vec3f.h"

namespace kestrel::icp {

using core::Box3f;
using core::Vec3f;

}  // namespace kestrel::icp
