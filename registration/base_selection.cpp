#include "registration/base_selection.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/random15.h"
#include "registration/float3.h"
#include "registration/segment_closest_params.h"

namespace kestrel::registration {

namespace {

constexpr int kAttempts = 100;
constexpr int kDraws = 100;
// A fourth point must lie at least this far (model units) from every triangle vertex.
constexpr double kMinFourthDist = 10.0;

int draw(size_t n) {
  return static_cast<int>(static_cast<uint64_t>(core::rand15()) % n);
}

double distance(const core::Point3D& a, const core::Point3D& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Coordinate differences are rounded to float: the triangle test runs in single precision.
Float3 diff_f(const core::Point3D& a, const core::Point3D& b) {
  return {static_cast<float>(a.x - b.x), static_cast<float>(a.y - b.y),
          static_cast<float>(a.z - b.z)};
}

double det3(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// Mode 1 keeps the largest x of 100 draws, mode 2 the smallest. When no draw beats the start
// value (coordinates beyond +-1e6 / 1e5), the first draw is used.
int extreme_vertex(const core::PointSet& p, bool largest) {
  const size_t n = p.size();
  float f = largest ? -1000000.0f : 100000.0f;
  int a = -1, first = -1;
  for (int k = 0; k < kDraws; ++k) {
    const int h = draw(n);
    if (first < 0) first = h;
    const double x = p[static_cast<size_t>(h)].x;
    if (largest ? x > static_cast<double>(f) : x < static_cast<double>(f)) {
      a = h;
      f = static_cast<float>(x);
    }
  }
  return a >= 0 ? a : first;
}

}  // namespace

bool pick_triangle(const core::PointSet& p_sample, const core::RunParameters& params,
                   RegistrationState& state, int& i0, int& i1, int& i2) {
  const size_t n = p_sample.size();
  i0 = i1 = i2 = -1;
  // Only the very first selection of the process uses a non-zero margin as the mode itself.
  int mode = params.margin;
  if (params.margin != 0 && !state.first_selection) mode = core::rand15() % 3;
  state.first_selection = false;
  if (n == 0) return false;

  int a;
  if (mode == 1)
    a = extreme_vertex(p_sample, true);
  else if (mode == 2)
    a = extreme_vertex(p_sample, false);
  else
    a = draw(n);

  const core::Point3D& pa = p_sample[static_cast<size_t>(a)];
  float best_area = 0;
  for (int k = 0; k < kDraws; ++k) {
    const int h = draw(n);
    const int m = draw(n);
    const Float3 eh = diff_f(p_sample[static_cast<size_t>(h)], pa);
    const Float3 em = diff_f(p_sample[static_cast<size_t>(m)], pa);
    const float area = 0.5f * length(cross(eh, em));
    if (area > best_area && params.base_max_len > length(eh) && params.base_max_len > length(em)) {
      i0 = a;
      i1 = h;
      i2 = m;
      best_area = area;
    }
  }
  return i0 >= 0 && i1 >= 0 && i2 >= 0;
}

bool select_base(const core::PointSet& p_sample, const core::RunParameters& params,
                 RegistrationState& state, double& r1, double& r2, int& i0, int& i1, int& i2,
                 int& i3) {
  core::PointSet& base = state.base_points;
  if (base.size() != 4) base.resize(4);
  i3 = -1;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!pick_triangle(p_sample, params, state, i0, i1, i2)) return false;
    const core::Point3D& p0 = p_sample[static_cast<size_t>(i0)];
    const core::Point3D& p1 = p_sample[static_cast<size_t>(i1)];
    const core::Point3D& p2 = p_sample[static_cast<size_t>(i2)];
    base[0] = p0;
    base[1] = p1;
    base[2] = p2;

    // Plane a*x + b*y + c*z = 1 through the triangle, by Cramer's rule; a plane through the
    // origin has no such form (det = 0) and the attempt is skipped.
    const double m[3][3] = {{p0.x, p0.y, p0.z}, {p1.x, p1.y, p1.z}, {p2.x, p2.y, p2.z}};
    const double det = det3(m);
    if (det == 0) continue;
    double coef[3];
    for (int col = 0; col < 3; ++col) {
      double mc[3][3];
      for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k) mc[r][k] = k == col ? 1.0 : m[r][k];
      coef[col] = det3(mc) / det;
    }
    const double a = coef[0], b = coef[1], c = coef[2];
    core::Point3D centroid;
    centroid.x = (p0.x + p1.x + p2.x) / 3;
    centroid.y = (p0.y + p1.y + p2.y) / 3;
    centroid.z = (p0.z + p1.z + p2.z) / 3;
    const float half_len = 0.5f * params.base_max_len;

    // The plane residual orders the points of one plane like their distance from it.
    double best = 10000000;
    i3 = -1;
    for (size_t j = 0; j < p_sample.size(); ++j) {
      const core::Point3D& q = p_sample[j];
      if (distance(q, p0) < kMinFourthDist || distance(q, p1) < kMinFourthDist ||
          distance(q, p2) < kMinFourthDist)
        continue;
      if (params.margin == 0 && distance(q, centroid) > half_len) continue;
      const double r = std::fabs(c * q.z + b * q.y + a * q.x - 1);
      if (r < best) {
        best = r;
        i3 = static_cast<int>(j);
      }
    }
    if (i3 == -1) continue;
    base[3] = p_sample[static_cast<size_t>(i3)];
    split_base(base, r1, r2);
    return true;
  }
  return false;
}

void split_base(core::PointSet& base_points, double& r1, double& r2) {
  Float3 v[4];
  for (int k = 0; k < 4; ++k) v[k] = to_float3(base_points[static_cast<size_t>(k)]);
  float best = std::numeric_limits<float>::max();
  int order[4] = {0, 1, 2, 3};
  r1 = r2 = 0;
  for (int i = 0; i < 4; ++i) {
    for (int c = 0; c < 4; ++c) {
      if (c == i) continue;
      int j = 0;
      while (j == i || j == c) ++j;
      int k = j + 1;
      while (k == i || k == c) ++k;
      const SegmentClosest sc = segment_closest_params(v[i], v[c], v[j], v[k]);
      if (sc.dist < best) {
        best = sc.dist;
        r1 = sc.s;
        r2 = sc.t;
        order[0] = i;
        order[1] = c;
        order[2] = j;
        order[3] = k;
      }
    }
  }
  const core::PointSet old = base_points;
  for (int k = 0; k < 4; ++k)
    base_points[static_cast<size_t>(k)] = old[static_cast<size_t>(order[k])];
}

}  // namespace kestrel::registration
