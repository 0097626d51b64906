#include "app/flat_triangles.h"

#include <cmath>

namespace kestrel::app {

namespace {

void put(std::vector<float>& out, double x, double y, double z) {
  out.push_back(static_cast<float>(x));
  out.push_back(static_cast<float>(y));
  out.push_back(static_cast<float>(z));
}

// The face normal n = (C - B) x (A - B) / |...|; the length rounded to float before the division.
void face_normal(const core::Point3D& A, const core::Point3D& B, const core::Point3D& C,
                 double (&n)[3]) {
  const double ux = C.x - B.x, uy = C.y - B.y, uz = C.z - B.z;
  const double vx = A.x - B.x, vy = A.y - B.y, vz = A.z - B.z;
  n[0] = uy * vz - uz * vy;
  n[1] = uz * vx - ux * vz;
  n[2] = ux * vy - uy * vx;
  const auto len = static_cast<float>(std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]));
  if (len > 0)
    for (double& c : n) c /= len;
}

}  // namespace

TriangleArrays flat_triangles(core::PointSet& set, const core::FaceList& faces, float draw_limit) {
  TriangleArrays out;
  out.positions.reserve(set.size() * 3);
  for (const core::Point3D& p : set) put(out.positions, p.x, p.y, p.z);
  out.normals.assign(out.positions.size(), 0.0f);
  std::vector<bool> lit(set.size(), false);  // already the last corner of a face
  out.indices.reserve(faces.size() * 3);
  const auto n = static_cast<int64_t>(set.size());
  for (const core::Face& f : faces) {
    if (f.v[0] < 0 || f.v[1] < 0 || f.v[2] < 0 || f.v[0] >= n || f.v[1] >= n || f.v[2] >= n)
      continue;
    core::Point3D& A = set[static_cast<size_t>(f.v[0])];
    const core::Point3D& B = set[static_cast<size_t>(f.v[1])];
    const core::Point3D& C = set[static_cast<size_t>(f.v[2])];
    double normal[3] = {0, 0, 1};
    if (f.v[0] != f.v[1]) {
      if (core::distance(A, B) > draw_limit || core::distance(A, C) > draw_limit ||
          core::distance(B, C) > draw_limit)
        continue;
      face_normal(A, B, C, normal);
    }
    A.nx = normal[0];
    A.ny = normal[1];
    A.nz = normal[2];
    // Rotating the corners keeps the face's winding; a point lit before is repeated.
    uint32_t corner[3] = {static_cast<uint32_t>(f.v[0]), static_cast<uint32_t>(f.v[1]),
                          static_cast<uint32_t>(f.v[2])};
    int last = 0;
    while (last < 3 && lit[corner[last]]) ++last;
    uint32_t target;
    if (last < 3) {
      target = corner[last];
      lit[target] = true;
    } else {
      last = 0;
      target = static_cast<uint32_t>(out.positions.size() / 3);
      put(out.positions, A.x, A.y, A.z);
      out.normals.resize(out.positions.size());
    }
    for (int k = 0; k < 3; ++k) out.normals[3 * target + static_cast<uint32_t>(k)] = static_cast<float>(normal[k]);
    out.indices.push_back(corner[(last + 1) % 3]);
    out.indices.push_back(corner[(last + 2) % 3]);
    out.indices.push_back(target);
  }
  return out;
}

}  // namespace kestrel::app
