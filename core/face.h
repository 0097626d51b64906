#pragma once
// Triangles of a model: three 0-based vertex indices into the point set (or mesh) they belong
// to; counter-clockwise corners face outwards.

#include <cstdint>
#include <vector>

namespace kestrel::core {

struct Face {
  int32_t v[3] = {0, 0, 0};

  int32_t operator[](int k) const { return v[k]; }
  int32_t& operator[](int k) { return v[k]; }
};

using FaceList = std::vector<Face>;

}  // namespace kestrel::core
