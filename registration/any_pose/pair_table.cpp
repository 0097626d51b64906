#include "registration/any_pose/pair_table.h"

#include <algorithm>
#include <cmath>

#include "core/stop_check.h"

namespace kestrel::registration {

namespace {

// About 100 MB of entries.
constexpr size_t kMaxPoints = 4096;

double component(const core::Point3D& p, const double u[3]) {
  return p.nx * u[0] + p.ny * u[1] + p.nz * u[2];
}

}  // namespace

bool PairTable::fits(size_t n) {
  return n <= kMaxPoints;
}

PairTable::PairTable(const core::PointSet& q, double bucket, const std::function<bool()>& stop)
    : q_(q) {
  const size_t n = q.size();
  std::vector<float> lengths;
  lengths.reserve(n * (n > 0 ? n - 1 : 0) / 2);
  double longest = 0;
  core::StopCheck stopped(stop);
  for (size_t i = 0; i < n; ++i) {
    if (stopped(static_cast<int64_t>(n - i))) {
      stopped_ = true;
      return;
    }
    for (size_t j = i + 1; j < n; ++j) {
      const double d = core::distance(q[i], q[j]);
      lengths.push_back(static_cast<float>(d));
      longest = std::max(longest, d);
    }
  }
  bucket_ = bucket > 0 && std::isfinite(bucket) ? bucket : std::max(longest, 1.0);
  // No more buckets than pairs: very long pairs of a tiny tolerance share wider buckets.
  bucket_ = std::max(bucket_, longest / static_cast<double>(std::max<size_t>(lengths.size(), 1)));
  const auto bucket_of = [this](float length) {
    return static_cast<size_t>(static_cast<double>(length) / bucket_);
  };
  start_.assign(bucket_of(static_cast<float>(longest)) + 2, 0);
  for (size_t k = 0; k < lengths.size(); ++k) {
    if (stopped()) {
      stopped_ = true;
      return;
    }
    ++start_[bucket_of(lengths[k]) + 1];
  }
  for (size_t b = 1; b < start_.size(); ++b) start_[b] += start_[b - 1];
  entries_.resize(lengths.size());
  std::vector<uint32_t> fill(start_.begin(), start_.end() - 1);
  size_t k = 0;
  for (size_t i = 0; i < n; ++i) {
    if (stopped(static_cast<int64_t>(n - i))) {
      stopped_ = true;
      return;
    }
    for (size_t j = i + 1; j < n; ++j, ++k)
      entries_[fill[bucket_of(lengths[k])]++] = {static_cast<uint32_t>(i), static_cast<uint32_t>(j),
                                                 lengths[k]};
  }
}

void PairTable::extract(const core::Point3D& a, const core::Point3D& b, double tol,
                        double normal_tol, std::vector<core::IndexPair>& pairs) const {
  pairs.clear();
  const double d = core::distance(a, b);
  const double nd = core::normal_difference(a, b);
  if (!(d > 0)) return;
  const double v[3] = {(b.x - a.x) / d, (b.y - a.y) / d, (b.z - a.z) / d};
  const double va = component(a, v), vb = component(b, v);
  const auto near = [normal_tol](double x, double y) { return std::fabs(x - y) < normal_tol; };
  // Along the segment from its first to its second point: x at the first, y at the second.
  const auto matches = [&](double x, double y) {
    return (near(x, va) && near(y, vb)) || (near(x, -va) && near(y, -vb));
  };
  const double lo = std::max(0.0, (d - tol) / bucket_);
  const double hi = (d + tol) / bucket_;
  const size_t first = static_cast<size_t>(lo);
  const size_t last = std::min(static_cast<size_t>(hi), start_.size() - 2);
  if (first >= start_.size() - 1) return;
  for (uint32_t e = start_[first]; e < start_[last + 1]; ++e) {
    const Entry& entry = entries_[e];
    if (!(std::fabs(static_cast<double>(entry.length) - d) < tol)) continue;
    const core::Point3D& p = q_[entry.i];
    const core::Point3D& r = q_[entry.j];
    if (!(std::fabs(core::normal_difference(r, p) - nd) < normal_tol)) continue;
    const double len = static_cast<double>(entry.length);
    if (!(len > 0)) continue;
    const double u[3] = {(r.x - p.x) / len, (r.y - p.y) / len, (r.z - p.z) / len};
    const double up = component(p, u), ur = component(r, u);
    // (i, j) for (a, b) runs along u; (j, i) runs along -u.
    if (matches(up, ur)) pairs.push_back({entry.i, entry.j});
    if (matches(-ur, -up)) pairs.push_back({entry.j, entry.i});
  }
}

}  // namespace kestrel::registration
