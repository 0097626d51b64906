#pragma once
// Triangles of a model: three 0-based vertex indices into the point set they belong to.

#include <cstdint>
#include <vector>

namespace kestrel::core {

struct Face {
  int32_t v[3] = {0, 0, 0};
};

using FaceList = std::vector<Face>;

}  // namespace kestrel::core
