#include "registration/any_pose/pair_table.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "core/side_by_side.h"
#include "core/stop_check.h"
#include "registration/any_pose/point_grid.h"

namespace kestrel::registration {

namespace {

// About 70 MB of entries; a point's index fits in 16 bits.
constexpr size_t kMaxPoints = 4096;

// A little over the diagonal of the set's box: no pair's length, as worked out, exceeds it.
double box_diagonal(const core::PointSet& q) {
  double lo[3], hi[3];
  bounding_box(q, lo, hi);
  return std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]) * (1 + 1e-6);
}

// The first row of the second half: rows i < split hold about half of the pairs (i, j > i).
size_t half_of_pairs(size_t n) {
  const size_t total = n * (n > 0 ? n - 1 : 0) / 2;
  size_t split = 0, before = 0;
  while (split < n && 2 * before < total) before += n - 1 - split++;
  return split;
}

double component(const core::Point3D& p, const double u[3]) {
  return p.nx * u[0] + p.ny * u[1] + p.nz * u[2];
}

}  // namespace

bool PairTable::fits(size_t n) {
  return n <= kMaxPoints;
}

PairTable::PairTable(const core::PointSet& q, double bucket, const std::function<bool()>& stop,
                     int threads)
    : q_(q) {
  const size_t n = q.size();
  const size_t pairs = n * (n > 0 ? n - 1 : 0) / 2;
  // Each pair's length is worked out again where it is needed rather than kept: a table of 4096
  // points has eight million pairs, and their lengths alone filled 34 MB.
  const double diagonal = box_diagonal(q);
  const double wanted = bucket > 0 && std::isfinite(bucket) ? bucket : 0;
  // No more buckets than pairs: very long pairs of a tiny tolerance share wider buckets. The
  // box's diagonal bounds the longest pair, so the buckets are known before the lengths are,
  // unless the tolerance is that tiny (or none is given): then one more pass finds the longest.
  double longest = diagonal;
  if (!(wanted > 0 && wanted >= diagonal / static_cast<double>(std::max<size_t>(pairs, 1)))) {
    longest = 0;
    for (size_t i = 0; i < n; ++i)
      for (size_t j = i + 1; j < n; ++j) longest = std::max(longest, core::distance(q[i], q[j]));
  }
  bucket_ = wanted > 0 ? wanted : std::max(longest, 1.0);
  bucket_ = std::max(bucket_, longest / static_cast<double>(std::max<size_t>(pairs, 1)));
  const size_t buckets = bucket_of(static_cast<float>(longest)) + 1;

  // Two halves of the rows, of about as many pairs each; the first half's pairs come first in
  // every bucket, so the table is the one a single pass makes.
  const size_t split = threads >= 2 ? half_of_pairs(n) : n;
  std::vector<uint32_t> counts[2] = {std::vector<uint32_t>(buckets, 0),
                                     std::vector<uint32_t>(buckets, 0)};
  std::atomic<bool> stop_seen{false};
  const std::function<bool()> never;  // the hook of the half that only reads stop_seen
  const auto rows = [&](size_t from, size_t to, bool asks, const auto& each) {
    core::StopCheck stopped(asks ? stop : never);
    for (size_t i = from; i < to; ++i) {
      if (asks ? stopped(static_cast<int64_t>(n - i)) : stop_seen.load()) {
        stop_seen.store(true);
        return;
      }
      for (size_t j = i + 1; j < n; ++j) each(i, j, static_cast<float>(core::distance(q[i], q[j])));
    }
  };
  const auto in_halves = [&](const auto& each) {
    core::side_by_side(
        split < n ? 2 : 1, [&] { rows(0, split, true, [&](auto... a) { each(0, a...); }); },
        [&] { rows(split, n, false, [&](auto... a) { each(1, a...); }); });
  };
  in_halves([&](int h, size_t, size_t, float length) { ++counts[h][bucket_of(length)]; });
  if (stop_seen.load()) {
    stopped_ = true;
    return;
  }
  start_.assign(buckets + 1, 0);
  std::vector<uint32_t> fill[2] = {std::vector<uint32_t>(buckets), std::vector<uint32_t>(buckets)};
  for (size_t b = 0; b < buckets; ++b) {
    fill[0][b] = start_[b];
    fill[1][b] = start_[b] + counts[0][b];
    start_[b + 1] = fill[1][b] + counts[1][b];
  }
  // Left unset until filled: the fill writes every entry, and the pages are met first there,
  // by both halves.
  entries_.reset(new Entry[pairs]);
  in_halves([&](int h, size_t i, size_t j, float length) {
    entries_[fill[h][bucket_of(length)]++] = {static_cast<uint16_t>(i), static_cast<uint16_t>(j),
                                              length};
  });
  stopped_ = stop_seen.load();
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
