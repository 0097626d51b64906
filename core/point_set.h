#pragma once
// The records every part of Kestrel passes around: points, point sets, and the index and
// correspondence records of a registration search.

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kestrel::core {

// One point of a model: position and normal. A normal of (0, 0, 0) means "not known".
struct Point3D {
  double x = 0, y = 0, z = 0;
  double nx = 0, ny = 0, nz = 0;
};

// Euclidean distance of two positions, in double.
inline double distance(const Point3D& a, const Point3D& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Length of the difference of two normal vectors, in double.
inline double normal_difference(const Point3D& a, const Point3D& b) {
  const double dx = a.nx - b.nx, dy = a.ny - b.ny, dz = a.nz - b.nz;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Ordered, growable, deep-copied set of points; a point is named by its 0-based index.
using PointSet = std::vector<Point3D>;

// The positions of `set`, in order: what the search structures are built over.
inline std::vector<std::array<double, 3>> positions(const PointSet& set) {
  std::vector<std::array<double, 3>> out;
  out.reserve(set.size());
  for (const Point3D& p : set) out.push_back({p.x, p.y, p.z});
  return out;
}

// A pair of points of Q (indices into Q).
struct IndexPair {
  uint32_t first = 0;
  uint32_t second = 0;
};

// A candidate in Q for the four base points b0..b3 of P.
struct CongruentQuad {
  uint32_t q0 = 0, q1 = 0, q2 = 0, q3 = 0;
};

// One correspondence handed to motion estimation: a point of P and a point of Q.
struct PointMatch {
  Point3D p;
  Point3D q;
};

}  // namespace kestrel::core
