#include "app/flat_triangles.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

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

// Appends the face (a, b, c) with `normal` to `out`, its last corner a point not yet lit (or a
// copy of `a` when all three are).
void add_face(TriangleArrays& out, std::vector<bool>& lit, uint32_t a, uint32_t b, uint32_t c,
              const double (&normal)[3]) {
  uint32_t corner[3] = {a, b, c};
  int last = 0;
  while (last < 3 && lit[corner[last]]) ++last;
  uint32_t target;
  if (last < 3) {
    target = corner[last];
  } else {
    last = 0;
    target = static_cast<uint32_t>(out.positions.size() / 3);
    const float copy[3] = {out.positions[3 * a], out.positions[3 * a + 1],
                           out.positions[3 * a + 2]};
    out.positions.insert(out.positions.end(), copy, copy + 3);
    out.normals.resize(out.positions.size());
    lit.push_back(false);
  }
  lit[target] = true;
  for (int k = 0; k < 3; ++k)
    out.normals[3 * target + static_cast<uint32_t>(k)] = static_cast<float>(normal[k]);
  // Rotating the corners keeps the face's winding.
  out.indices.push_back(corner[(last + 1) % 3]);
  out.indices.push_back(corner[(last + 2) % 3]);
  out.indices.push_back(target);
}

core::Point3D point_at(const std::vector<float>& positions, uint32_t i) {
  core::Point3D p;
  p.x = positions[3 * i], p.y = positions[3 * i + 1], p.z = positions[3 * i + 2];
  return p;
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
    add_face(out, lit, static_cast<uint32_t>(f.v[0]), static_cast<uint32_t>(f.v[1]),
             static_cast<uint32_t>(f.v[2]), normal);
  }
  return out;
}

TriangleArrays merged_triangles(const TriangleArrays& full, double cell) {
  TriangleArrays out;
  const size_t n = full.positions.size() / 3;
  std::unordered_map<uint64_t, uint32_t> cells;
  std::vector<uint32_t> merged(n);
  std::vector<double> sums;
  std::vector<int> counts;
  for (size_t i = 0; i < n; ++i) {
    uint64_t key = 0;
    for (int k = 0; k < 3; ++k) {
      const auto c =
          static_cast<int64_t>(std::floor(full.positions[3 * i + static_cast<size_t>(k)] / cell));
      key = key * 2097152 + static_cast<uint64_t>(c & 0x1fffff);  // 21 bits per axis
    }
    const auto found = cells.emplace(key, static_cast<uint32_t>(counts.size()));
    if (found.second) sums.insert(sums.end(), 3, 0.0), counts.push_back(0);
    merged[i] = found.first->second;
    for (int k = 0; k < 3; ++k)
      sums[3 * merged[i] + static_cast<uint32_t>(k)] +=
          full.positions[3 * i + static_cast<size_t>(k)];
    ++counts[merged[i]];
  }
  for (size_t c = 0; c < counts.size(); ++c)
    for (int k = 0; k < 3; ++k)
      out.positions.push_back(static_cast<float>(sums[3 * c + static_cast<size_t>(k)] / counts[c]));
  out.normals.assign(out.positions.size(), 0.0f);
  std::vector<bool> lit(counts.size(), false);
  for (size_t f = 0; f < full.faces(); ++f) {
    const uint32_t a = merged[full.indices[3 * f]], b = merged[full.indices[3 * f + 1]],
                   c = merged[full.indices[3 * f + 2]];
    if (a == b || b == c || a == c) continue;
    double normal[3];
    face_normal(point_at(out.positions, a), point_at(out.positions, b), point_at(out.positions, c),
                normal);
    add_face(out, lit, a, b, c, normal);
  }
  return out;
}

double median_edge(const TriangleArrays& t) {
  std::vector<float> lengths;
  const size_t step = std::max<size_t>(1, t.faces() / 1000);
  for (size_t f = 0; f < t.faces(); f += step) {
    const core::Point3D a = point_at(t.positions, t.indices[3 * f]);
    const core::Point3D b = point_at(t.positions, t.indices[3 * f + 1]);
    lengths.push_back(static_cast<float>(core::distance(a, b)));
  }
  if (lengths.empty()) return 0;
  std::nth_element(lengths.begin(),
                   lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2),
                   lengths.end());
  return lengths[lengths.size() / 2];
}

}  // namespace kestrel::app
