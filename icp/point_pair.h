#pragma once
// One ICP correspondence in the common frame. Whichever mesh the sample came from, p1 and
// normal belong to mesh 1 (the fixed one) and p2 to mesh 2 (the one being moved).

#include <vector>

#include "icp/vec3f.h"

namespace kestrel::icp {

struct PointPair {
  Vec3f p1;      // vertex of mesh 1 carried by xf1
  Vec3f p2;      // vertex of mesh 2 carried by xf2
  Vec3f normal;  // normal of the mesh-1 vertex carried by xf1's normal matrix
};

using PointPairs = std::vector<PointPair>;

}  // namespace kestrel::icp
