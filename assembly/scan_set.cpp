#include "assembly/scan_set.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "registration/any_pose/voxel_sample.h"

namespace kestrel::assembly {

namespace {

constexpr size_t kSignatureBins = 16;
// Pairs of working points drawn (evenly, not at random) for the distance histogram.
constexpr size_t kSignatureStride = 7;

std::array<double, 3> centroid_of(const core::PointSet& set) {
  std::array<double, 3> c = {0, 0, 0};
  for (const core::Point3D& p : set) c[0] += p.x, c[1] += p.y, c[2] += p.z;
  for (double& v : c) v /= static_cast<double>(std::max<size_t>(set.size(), 1));
  return c;
}

core::PointSet centred(const core::PointSet& set, const std::array<double, 3>& c) {
  core::PointSet out = set;
  for (core::Point3D& p : out) p.x -= c[0], p.y -= c[1], p.z -= c[2];
  return out;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  const auto mid = v.begin() + static_cast<long>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

// Two histograms over [0, `reach`): distances of the working points from their centroid, and
// distances between evenly drawn pairs of them. Turning a scan changes neither; two views that
// see much of the same surface give similar ones.
std::vector<double> shape_signature(const core::PointSet& w, double reach) {
  std::vector<double> h(2 * kSignatureBins, 0.0);
  if (w.empty() || !(reach > 0)) return h;
  const std::array<double, 3> c = centroid_of(w);
  const auto bin = [reach](double d) {
    return std::min(kSignatureBins - 1, static_cast<size_t>(d / reach * kSignatureBins));
  };
  for (const core::Point3D& p : w)
    h[bin(std::sqrt((p.x - c[0]) * (p.x - c[0]) + (p.y - c[1]) * (p.y - c[1]) +
                    (p.z - c[2]) * (p.z - c[2])))] += 1;
  double pairs = 0;
  for (size_t i = 0; i < w.size(); i += kSignatureStride)
    for (size_t j = i + 1; j < w.size(); j += kSignatureStride) {
      h[kSignatureBins + bin(0.5 * core::distance(w[i], w[j]))] += 1;
      pairs += 1;
    }
  const double n = static_cast<double>(w.size());
  for (size_t k = 0; k < kSignatureBins; ++k) {
    h[k] /= n;
    h[kSignatureBins + k] /= std::max(pairs, 1.0);
  }
  return h;
}

// Points of each scan that look for partners in the refinements.
constexpr size_t kSamplePoints = 2000;

RefineView view_of(const ScanSet& set, size_t i) {
  RefineView v;
  const core::PointSet& full = set.full[i];
  const size_t step = std::max<size_t>(1, full.size() / kSamplePoints);
  v.centre.setZero();
  for (size_t k = 0; k < full.size(); k += step) {
    v.sample.emplace_back(full[k].x, full[k].y, full[k].z);
    v.centre += v.sample.back();
  }
  v.centre /= static_cast<double>(std::max<size_t>(v.sample.size(), 1));
  for (const Eigen::Vector3d& s : v.sample) v.reach = std::max(v.reach, (s - v.centre).norm());
  const core::PointSet& working = set.prepared[i].working;
  v.working_grid.emplace(core::positions(working), set.cell);
  // The full grid's cell is four of the full scan's spacings (any_pose_scan.h).
  v.spacing = registration::full_grid_cell(full.size(), working.size(), set.cell) / 4;
  return v;
}

// Bends of the surface: how much each working point's normal differs from its nearest
// neighbour's, over [0, kMaxBend). Sheets of one extent but with different bumps differ here.
constexpr double kMaxBend = 0.5;

void add_bend_histogram(const registration::AnyPoseScan& s, std::vector<double>& h) {
  const size_t first = h.size();
  h.resize(first + kSignatureBins, 0.0);
  std::vector<int> nn;
  double count = 0;
  for (const core::Point3D& p : s.working) {
    s.index.nearest_k(p.x, p.y, p.z, 2, nn);
    if (nn.size() < 2) continue;
    const core::Point3D& q = s.working[static_cast<size_t>(nn[1])];
    // Normals carry one sign per scan, but a sign may flip between neighbours across a fold.
    const double bend =
        std::min(core::normal_difference(p, q), std::hypot(p.nx + q.nx, p.ny + q.ny, p.nz + q.nz));
    h[first +
      std::min(kSignatureBins - 1, static_cast<size_t>(bend / kMaxBend * kSignatureBins))] += 1;
    count += 1;
  }
  for (size_t k = first; k < h.size(); ++k) h[k] /= std::max(count, 1.0);
}

// The largest distance of a working point from its scan's centroid, over all scans.
double largest_reach(const ScanSet& set) {
  double reach = 0;
  for (const registration::AnyPoseScan& s : set.prepared) {
    const std::array<double, 3> c = centroid_of(s.working);
    for (const core::Point3D& p : s.working)
      reach = std::max(reach, std::hypot(p.x - c[0], p.y - c[1], p.z - c[2]));
  }
  return reach;
}

}  // namespace

ScanSet prepare_scans(const std::vector<const core::PointSet*>& scans, int threads) {
  ScanSet set;
  std::vector<double> cells;
  for (const core::PointSet* s : scans) {
    set.centroid.push_back(centroid_of(*s));
    set.full.push_back(centred(*s, set.centroid.back()));
    cells.push_back(registration::voxel_cell_for(set.full.back(), kWorkingPoints));
  }
  // One cell for all, so that any two scans are thinned alike, as a pairwise run thins both.
  set.cell = median(cells);
  const size_t n = scans.size();
  set.prepared.resize(n);
  const auto prepare_from = [&set, n](size_t first, size_t step) {
    for (size_t i = first; i < n; i += step)
      set.prepared[i] = registration::prepare_any_pose_scan(set.full[i], set.cell, false);
  };
  if (threads >= 2 && n > 1) {
    std::thread other(prepare_from, 1, 2);
    prepare_from(0, 2);
    other.join();
  } else {
    prepare_from(0, 1);
  }
  // ANN's trees share global state: built on one thread, one after the other.
  for (registration::AnyPoseScan& s : set.prepared) s.index.build(s.working);
  const double reach = largest_reach(set);
  for (const registration::AnyPoseScan& s : set.prepared) {
    set.signature.push_back(shape_signature(s.working, reach));
    add_bend_histogram(s, set.signature.back());
  }
  for (size_t i = 0; i < n; ++i) set.views.push_back(view_of(set, i));
  return set;
}

double signature_distance(const std::vector<double>& a, const std::vector<double>& b) {
  double d = 0;
  for (size_t k = 0; k < a.size() && k < b.size(); ++k) d += std::abs(a[k] - b[k]);
  return d;
}

}  // namespace kestrel::assembly
