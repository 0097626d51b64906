#include "core/planar_reconstruction.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/delaunay_2d.h"

namespace kestrel::core {

bool can_triangulate(const PointSet& set, std::string* reason) {
  if (set.size() < 3) {
    if (reason) *reason = "fewer than three points to triangulate";
    return false;
  }
  for (const Point3D& p : set) {
    if (p.x != set[0].x || p.y != set[0].y) return true;
  }
  if (reason) *reason = "all points share one position in the x-y plane";
  return false;
}

void reconstruct_planar(PointSet& set, FaceList& faces) {
  std::vector<int32_t> count(set.size(), 0);
  for (Point3D& p : set) p.nx = p.ny = p.nz = 0;

  faces = delaunay_2d(set);
  for (const Face& f : faces) {
    const Point3D& a = set[f.v[0]];
    const Point3D& b = set[f.v[1]];
    const Point3D& c = set[f.v[2]];
    const double ux = c.x - b.x, uy = c.y - b.y, uz = c.z - b.z;
    const double vx = a.x - b.x, vy = a.y - b.y, vz = a.z - b.z;
    double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    // The length is rounded to float and its reciprocal taken in float, as the stored normals
    // have always been computed.
    const float len = static_cast<float>(std::sqrt(nx * nx + ny * ny + nz * nz));
    if (len > 0) {
      const float inv = 1.0f / len;
      nx *= inv;
      ny *= inv;
      nz *= inv;
    }
    for (int32_t v : f.v) {
      set[v].nx += nx;
      set[v].ny += ny;
      set[v].nz += nz;
      ++count[v];
    }
  }
  for (size_t i = 0; i < set.size(); ++i) {
    if (count[i] == 0) continue;
    Point3D& p = set[i];
    const double k = 1.0 / count[i];
    p.nx *= k;
    p.ny *= k;
    p.nz *= k;
    const double len = std::sqrt(p.nx * p.nx + p.ny * p.ny + p.nz * p.nz);
    if (len != 0) {
      p.nx /= len;
      p.ny /= len;
      p.nz /= len;
    }
  }
}

}  // namespace kestrel::core
