#include "app/model_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/point_normals.h"

namespace kestrel::app {

namespace {

constexpr size_t kProbes = 48;
constexpr double kRigidTolerance = 1e-5;

using Vec = std::array<double, 3>;

Vec vec(const core::Point3D& p) {
  return {p.x, p.y, p.z};
}
Vec sub(const Vec& a, const Vec& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double norm(const Vec& a) {
  return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}

// Three probes far apart and off one line, or nothing.
std::optional<std::array<size_t, 3>> spread_triple(const std::vector<Vec>& pts) {
  if (pts.size() < 3) return std::nullopt;
  size_t b = 0, c = 0;
  double best = 0;
  for (size_t i = 1; i < pts.size(); ++i)
    if (double d = norm(sub(pts[i], pts[0])); d > best) best = d, b = i;
  best = 0;
  for (size_t i = 1; i < pts.size(); ++i)
    if (double a = norm(cross(sub(pts[i], pts[0]), sub(pts[b], pts[0]))); a > best) best = a, c = i;
  if (best == 0) return std::nullopt;
  return std::array<size_t, 3>{0, b, c};
}

// Columns: an orthonormal frame of the triangle a, b, c.
void frame(const Vec& a, const Vec& b, const Vec& c, double (&f)[3][3]) {
  Vec e1 = sub(b, a);
  Vec e3 = cross(e1, sub(c, a));
  const double l1 = norm(e1), l3 = norm(e3);
  for (double& v : e1) v /= l1;
  for (double& v : e3) v /= l3;
  const Vec e2 = cross(e3, e1);
  for (int r = 0; r < 3; ++r) f[r][0] = e1[r], f[r][1] = e2[r], f[r][2] = e3[r];
}

}  // namespace

ShapeProbe probe_shape(const core::PointSet& set) {
  ShapeProbe probe;
  probe.count = set.size();
  const size_t n = std::min(kProbes, set.size());
  for (size_t k = 0; k < n; ++k) {
    const size_t i = k * set.size() / n;
    probe.index.push_back(i);
    probe.at.push_back(set[i]);
  }
  return probe;
}

std::optional<Matrix4> rigid_change(const ShapeProbe& before, const core::PointSet& now) {
  if (now.size() != before.count) return std::nullopt;
  bool unmoved = true;
  for (size_t k = 0; k < before.index.size() && unmoved; ++k) {
    const core::Point3D& p = now[before.index[k]];
    unmoved = p.x == before.at[k].x && p.y == before.at[k].y && p.z == before.at[k].z;
  }
  if (unmoved) return Matrix4();
  std::vector<Vec> a, b;
  double size = 1;
  for (size_t k = 0; k < before.index.size(); ++k) {
    a.push_back(vec(before.at[k]));
    b.push_back(vec(now[before.index[k]]));
    for (double v : a.back()) size = std::max(size, std::fabs(v));
  }
  Matrix4 m;
  if (const auto t = spread_triple(a)) {
    double fa[3][3], fb[3][3];
    frame(a[(*t)[0]], a[(*t)[1]], a[(*t)[2]], fa);
    frame(b[(*t)[0]], b[(*t)[1]], b[(*t)[2]], fb);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        m.m[r][c] = fb[r][0] * fa[c][0] + fb[r][1] * fa[c][1] + fb[r][2] * fa[c][2];
    const Vec& pa = a[(*t)[0]];
    for (int r = 0; r < 3; ++r)
      m.m[r][3] = b[(*t)[0]][r] - (m.m[r][0] * pa[0] + m.m[r][1] * pa[1] + m.m[r][2] * pa[2]);
  }
  for (size_t k = 0; k < a.size(); ++k)
    for (int r = 0; r < 3; ++r) {
      const double moved =
          m.m[r][0] * a[k][0] + m.m[r][1] * a[k][1] + m.m[r][2] * a[k][2] + m.m[r][3];
      if (std::fabs(moved - b[k][r]) > kRigidTolerance * size) return std::nullopt;
    }
  return m;
}

bool update_drawing(ModelDrawing& d, core::PointSet& set, const core::FaceList& faces,
                    float draw_limit) {
  const bool same_faces = faces.size() == d.face_count &&
                          static_cast<const void*>(faces.data()) == d.face_data &&
                          draw_limit == d.draw_limit;
  if (same_faces && d.version > 0) {
    if (const auto motion = rigid_change(d.probe, set)) {
      d.motion = *motion;
      return false;
    }
  }
  d.probe = probe_shape(set);
  d.face_count = faces.size();
  d.face_data = faces.data();
  d.draw_limit = draw_limit;
  d.motion = Matrix4();
  ++d.version;
  d.triangles = flat_triangles(set, faces, draw_limit);
  d.edge = median_edge(d.triangles);
  d.merged = d.edge > 0 ? merged_triangles(d.triangles, kMergedEdges * d.edge) : d.triangles;
  d.points = set;
  d.vertex.clear();
  d.vertex.reserve(set.size() * 3);
  for (const core::Point3D& p : set)
    for (double v : {p.x, p.y, p.z}) d.vertex.push_back(static_cast<float>(v));
  d.index = registration::AnnIndex();
  d.normals.clear();
  d.spacing = 0;
  return true;
}

void ensure_point_normals(ModelDrawing& d) {
  if (!d.index.empty() || d.points.empty()) return;
  d.index.build(d.points);
  d.normals = point_normals(d.points, d.index);
  d.spacing = median_spacing(d.points, d.index);
}

Matrix4 rigid_inverse(const Matrix4& m) {
  Matrix4 out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out.m[r][c] = m.m[c][r];
  for (int r = 0; r < 3; ++r)
    out.m[r][3] = -(out.m[r][0] * m.m[0][3] + out.m[r][1] * m.m[1][3] + out.m[r][2] * m.m[2][3]);
  return out;
}

}  // namespace kestrel::app
