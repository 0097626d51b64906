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
  out.positions.reserve(faces.size() * 9);
  out.normals.reserve(faces.size() * 9);
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
    for (const core::Point3D* corner : {static_cast<const core::Point3D*>(&A), &B, &C}) {
      put(out.positions, corner->x, corner->y, corner->z);
      put(out.normals, static_cast<float>(normal[0]), static_cast<float>(normal[1]),
          static_cast<float>(normal[2]));
    }
  }
  return out;
}

}  // namespace kestrel::app
