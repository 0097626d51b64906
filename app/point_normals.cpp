#include "app/point_normals.h"

#include <algorithm>
#include <cmath>

namespace kestrel::app {

namespace {

constexpr int kJacobiSweeps = 12;
constexpr size_t kSpacingSample = 500;

// One Jacobi rotation that zeroes a[p][q], applied to a and accumulated into v.
void rotate(double (&a)[3][3], double (&v)[3][3], int p, int q) {
  if (a[p][q] == 0) return;
  const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
  const double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
  const double c = 1 / std::sqrt(t * t + 1), s = t * c;
  for (int k = 0; k < 3; ++k) {
    const double akp = a[k][p], akq = a[k][q];
    a[k][p] = c * akp - s * akq;
    a[k][q] = s * akp + c * akq;
  }
  for (int k = 0; k < 3; ++k) {
    const double apk = a[p][k], aqk = a[q][k];
    a[p][k] = c * apk - s * aqk;
    a[q][k] = s * apk + c * aqk;
  }
  for (int k = 0; k < 3; ++k) {
    const double vkp = v[k][p], vkq = v[k][q];
    v[k][p] = c * vkp - s * vkq;
    v[k][q] = s * vkp + c * vkq;
  }
}

}  // namespace

bool least_spread_direction(const double (&c)[3][3], double (&n)[3]) {
  double a[3][3], v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double scale = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      a[i][j] = c[i][j];
      scale = std::max(scale, std::fabs(c[i][j]));
    }
  if (scale == 0) return false;
  for (int sweep = 0; sweep < kJacobiSweeps; ++sweep) {
    rotate(a, v, 0, 1);
    rotate(a, v, 0, 2);
    rotate(a, v, 1, 2);
  }
  int least = 0;
  for (int k = 1; k < 3; ++k)
    if (a[k][k] < a[least][least]) least = k;
  for (int k = 0; k < 3; ++k) n[k] = v[k][least];
  return true;
}

std::vector<float> point_normals(const core::PointSet& set, const registration::AnnIndex& index,
                                 int k) {
  std::vector<float> normals(set.size() * 3, 0.0f);
  core::Point3D centroid;
  for (const core::Point3D& p : set) centroid.x += p.x, centroid.y += p.y, centroid.z += p.z;
  const double count = set.empty() ? 1.0 : static_cast<double>(set.size());
  centroid.x /= count, centroid.y /= count, centroid.z /= count;
  std::vector<int> near;
  for (size_t i = 0; i < set.size(); ++i) {
    const core::Point3D& p = set[i];
    index.nearest_k(p.x, p.y, p.z, k, near);
    if (near.size() < 3) continue;
    double mean[3] = {0, 0, 0}, c[3][3] = {};
    for (int j : near) {
      const core::Point3D& q = set[static_cast<size_t>(j)];
      mean[0] += q.x, mean[1] += q.y, mean[2] += q.z;
    }
    for (double& m : mean) m /= static_cast<double>(near.size());
    for (int j : near) {
      const core::Point3D& q = set[static_cast<size_t>(j)];
      const double d[3] = {q.x - mean[0], q.y - mean[1], q.z - mean[2]};
      for (int r = 0; r < 3; ++r)
        for (int s = 0; s < 3; ++s) c[r][s] += d[r] * d[s];
    }
    double n[3];
    if (!least_spread_direction(c, n)) continue;
    const double out =
        n[0] * (p.x - centroid.x) + n[1] * (p.y - centroid.y) + n[2] * (p.z - centroid.z);
    const double sign = out < 0 ? -1 : 1;
    for (int r = 0; r < 3; ++r)
      normals[3 * i + static_cast<size_t>(r)] = static_cast<float>(sign * n[r]);
  }
  return normals;
}

double median_spacing(const core::PointSet& set, const registration::AnnIndex& index) {
  if (set.size() < 2) return 0;
  const size_t step = std::max<size_t>(1, set.size() / kSpacingSample);
  std::vector<double> d;
  for (size_t i = 0; i < set.size(); i += step)
    d.push_back(std::sqrt(index.second_nearest_sq_dist(set[i].x, set[i].y, set[i].z)));
  std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2), d.end());
  return d[d.size() / 2];
}

}  // namespace kestrel::app
