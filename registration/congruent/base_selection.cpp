#include "registration/congruent/base_selection.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/dense_matrix.h"
#include "core/random15.h"
#include "core/vec3f.h"
#include "registration/congruent/segment_closest_params.h"

namespace kestrel::registration {

namespace {

constexpr int kAttempts = 100;
constexpr int kDraws = 100;

using core::distance;
using core::Vec3f;

int draw(core::Random15& rng, size_t n) {
  return static_cast<int>(static_cast<uint64_t>(rng.next()) % n);
}

// Coordinate differences are rounded to float: the triangle test runs in single precision.
Vec3f diff_f(const core::Point3D& a, const core::Point3D& b) {
  return {static_cast<float>(a.x - b.x), static_cast<float>(a.y - b.y),
          static_cast<float>(a.z - b.z)};
}

// Mode 1 keeps the largest x of 100 draws, mode 2 the smallest. When no draw beats the start
// value (coordinates beyond +-1e6 / 1e5), the first draw is used.
int extreme_vertex(const core::PointSet& p, bool largest, core::Random15& rng) {
  const size_t n = p.size();
  float f = largest ? -1000000.0f : 100000.0f;
  int a = -1, first = -1;
  for (int k = 0; k < kDraws; ++k) {
    const int h = draw(rng, n);
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

bool pick_triangle(const core::PointSet& p_sample, const BaseLimits& limits, bool& first_selection,
                   core::Random15& rng, int& i0, int& i1, int& i2) {
  const size_t n = p_sample.size();
  i0 = i1 = i2 = -1;
  int mode = limits.margin;
  if (limits.margin != 0 && !first_selection) mode = rng.next() % 3;
  first_selection = false;
  if (n == 0) return false;

  int a;
  if (mode == 1)
    a = extreme_vertex(p_sample, true, rng);
  else if (mode == 2)
    a = extreme_vertex(p_sample, false, rng);
  else
    a = draw(rng, n);

  const core::Point3D& pa = p_sample[static_cast<size_t>(a)];
  float best_area = 0;
  for (int k = 0; k < kDraws; ++k) {
    const int h = draw(rng, n);
    const int m = draw(rng, n);
    const Vec3f eh = diff_f(p_sample[static_cast<size_t>(h)], pa);
    const Vec3f em = diff_f(p_sample[static_cast<size_t>(m)], pa);
    const float area = 0.5f * len(cross(eh, em));
    if (area > best_area && limits.base_max_len > len(eh) && limits.base_max_len > len(em)) {
      i0 = a;
      i1 = h;
      i2 = m;
      best_area = area;
    }
  }
  return i0 >= 0 && i1 >= 0 && i2 >= 0;
}

namespace {

// The sample point closest to the plane a*x + b*y + c*z = 1 through the triangle t (found by
// Cramer's rule), among those at least 10 from every vertex and, without a margin, within
// base_max_len / 2 of its centroid. -1 when none qualifies or the plane passes through the
// origin (det = 0: no such form).
int fourth_point(const core::PointSet& p_sample, const core::Point3D* t[3],
                 const BaseLimits& limits) {
  const double m[3][3] = {
      {t[0]->x, t[0]->y, t[0]->z}, {t[1]->x, t[1]->y, t[1]->z}, {t[2]->x, t[2]->y, t[2]->z}};
  const double det = core::det3(m);
  if (det == 0) return -1;
  double coef[3];
  for (int col = 0; col < 3; ++col) {
    double mc[3][3];
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) mc[r][k] = k == col ? 1.0 : m[r][k];
    coef[col] = core::det3(mc) / det;
  }
  const double a = coef[0], b = coef[1], c = coef[2];
  core::Point3D centroid;
  centroid.x = (t[0]->x + t[1]->x + t[2]->x) / 3;
  centroid.y = (t[0]->y + t[1]->y + t[2]->y) / 3;
  centroid.z = (t[0]->z + t[1]->z + t[2]->z) / 3;
  const float half_len = 0.5f * limits.base_max_len;
  const double min_dist = limits.min_fourth_distance;

  // The plane residual orders the points of one plane like their distance from it.
  double best = 10000000;
  int found = -1;
  for (size_t j = 0; j < p_sample.size(); ++j) {
    const core::Point3D& q = p_sample[j];
    if (distance(q, *t[0]) < min_dist || distance(q, *t[1]) < min_dist ||
        distance(q, *t[2]) < min_dist)
      continue;
    if (limits.margin == 0 && distance(q, centroid) > half_len) continue;
    const double r = std::fabs(c * q.z + b * q.y + a * q.x - 1);
    if (r < best) {
      best = r;
      found = static_cast<int>(j);
    }
  }
  return found;
}

}  // namespace

std::optional<Base> select_base(const core::PointSet& p_sample, const BaseLimits& limits,
                                bool& first_selection, core::Random15& rng) {
  Base base;
  int* i = base.index;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!pick_triangle(p_sample, limits, first_selection, rng, i[0], i[1], i[2])) return {};
    const core::Point3D* t[3] = {&p_sample[static_cast<size_t>(i[0])],
                                 &p_sample[static_cast<size_t>(i[1])],
                                 &p_sample[static_cast<size_t>(i[2])]};
    i[3] = fourth_point(p_sample, t, limits);
    if (i[3] == -1) continue;
    base.points = {*t[0], *t[1], *t[2], p_sample[static_cast<size_t>(i[3])]};
    split_base(base.points, base.r1, base.r2);
    return base;
  }
  return {};
}

void split_base(core::PointSet& base_points, double& r1, double& r2) {
  Vec3f v[4];
  for (int k = 0; k < 4; ++k) v[k] = core::to_vec3f(base_points[static_cast<size_t>(k)]);
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
