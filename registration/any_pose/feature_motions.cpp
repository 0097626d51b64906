#include "registration/any_pose/feature_motions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/side_by_side.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/linear_algebra.h"
#include "registration/search/same_place.h"

namespace kestrel::registration {

namespace {

constexpr int kBinsPerAngle = 11;
constexpr double kPi = 3.14159265358979323846;
// Two matches give a motion when their lengths agree within the tolerance and the cosines
// between their normals and the line joining them within these.
constexpr double kNormalCosSlack = 0.2;
constexpr double kLineCosSlack = 0.25;
// A neighbour's histogram joins a point's weighed by this share of the radius over their
// distance: nearer ones weigh more, and the blend is the same in any unit.
constexpr double kBlendLength = 0.1;
// Motions are counted out of at most this many pairs of matches, taken evenly.
constexpr size_t kMaxPairs = 40000;
// Motions within these of a better one vote for it (in match tolerances).
constexpr double kNearDegrees = 10;
constexpr double kNearTolerances = 2.5;

struct Vec {
  double x, y, z;
};
Vec operator-(const Vec& a, const Vec& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator+(const Vec& a, const Vec& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(double s, const Vec& a) {
  return {s * a.x, s * a.y, s * a.z};
}
double dot(const Vec& a, const Vec& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec cross(const Vec& a, const Vec& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double norm(const Vec& a) {
  return std::sqrt(dot(a, a));
}
Vec position(const core::Point3D& p) {
  return {p.x, p.y, p.z};
}
Vec normal(const core::Point3D& p, double sign) {
  return {sign * p.nx, sign * p.ny, sign * p.nz};
}

int bin(double value, double lo, double hi) {
  const int b = static_cast<int>((value - lo) / (hi - lo) * kBinsPerAngle);
  return std::clamp(b, 0, kBinsPerAngle - 1);
}

// Adds the three angles of the pair (a, b) to `h`: the frame stands on the normal that makes the
// larger angle with the line between them, so the pair gives the same angles either way round.
void add_pair(const Vec& pa, const Vec& na, const Vec& pb, const Vec& nb, SurfaceFeature& h) {
  Vec d = pb - pa;
  const double len = norm(d);
  if (!(len > 0)) return;
  d = (1 / len) * d;
  Vec u = na, t = nb;
  if (std::fabs(dot(na, d)) < std::fabs(dot(nb, d))) {
    u = nb;
    t = na;
    d = -1.0 * d;
  }
  Vec v = cross(d, u);
  const double vn = norm(v);
  if (!(vn > 1e-12)) return;
  v = (1 / vn) * v;
  const Vec w = cross(u, v);
  h[static_cast<size_t>(bin(dot(v, t), -1, 1))] += 1;
  h[static_cast<size_t>(kBinsPerAngle + bin(dot(u, d), -1, 1))] += 1;
  h[static_cast<size_t>(2 * kBinsPerAngle + bin(std::atan2(dot(w, t), dot(u, t)), -kPi, kPi))] += 1;
}

// Each count as a share of the pairs, in percent, so that denser patches weigh the same.
void to_percent(SurfaceFeature& h, size_t pairs) {
  if (pairs == 0) return;
  const float s = 100.0f / static_cast<float>(pairs);
  for (float& v : h) v *= s;
}

// The histogram of the same surface with every normal turned over: the first angle keeps its
// value, the other two change sign, and their bins are symmetric about zero.
SurfaceFeature turned_over(const SurfaceFeature& f) {
  SurfaceFeature out = f;
  for (int block = 1; block < 3; ++block)
    for (int b = 0; b < kBinsPerAngle; ++b)
      out[static_cast<size_t>(block * kBinsPerAngle + b)] =
          f[static_cast<size_t>(block * kBinsPerAngle + kBinsPerAngle - 1 - b)];
  return out;
}

// For the rows j of fq in [first, last): each one's nearest of fp, and of those rows the
// nearest to each of fp (the first on equal distances).
struct NearestRows {
  std::vector<float> p_best;
  std::vector<int> p_near;
};

// `fp_bins` holds fp bin by bin (bin k of feature i at k * n + i), so that rows' distances to
// every feature of fp are summed side by side, each bin by bin in order, as one distance at a
// time would be. Four rows share each bin value read, and a stretch of fp at a time keeps
// their sums in the nearest cache: one row at a time read all of fp_bins from memory again.
NearestRows nearest_rows(const std::vector<float>& fp_bins, size_t n,
                         const std::vector<SurfaceFeature>& fq, size_t first, size_t last,
                         std::vector<int>& q_near) {
  constexpr size_t kRows = 4, kStretch = 256;
  NearestRows r{std::vector<float>(n, std::numeric_limits<float>::infinity()),
                std::vector<int>(n, -1)};
  std::vector<float> d(kRows * n);
  for (size_t j0 = first; j0 < last; j0 += kRows) {
    const size_t rows = std::min(kRows, last - j0);
    // Rows past `last` repeat the last one: their sums are worked out and never read.
    const SurfaceFeature* f[kRows];
    for (size_t t = 0; t < kRows; ++t) f[t] = &fq[j0 + std::min(t, rows - 1)];
    for (size_t i0 = 0; i0 < n; i0 += kStretch) {
      const size_t i1 = std::min(n, i0 + kStretch);
      for (size_t t = 0; t < kRows; ++t) std::fill(d.data() + t * n + i0, d.data() + t * n + i1, 0.0f);
      float* d0 = d.data() + i0;
      float* d1 = d0 + n;
      float* d2 = d1 + n;
      float* d3 = d2 + n;
      for (size_t k = 0; k < kFeatureBins; ++k) {
        const float a0 = (*f[0])[k], a1 = (*f[1])[k], a2 = (*f[2])[k], a3 = (*f[3])[k];
        const float* bin = fp_bins.data() + k * n + i0;
        for (size_t i = 0; i < i1 - i0; ++i) {
          const float b = bin[i];
          const float e0 = a0 - b, e1 = a1 - b, e2 = a2 - b, e3 = a3 - b;
          d0[i] += e0 * e0;
          d1[i] += e1 * e1;
          d2[i] += e2 * e2;
          d3[i] += e3 * e3;
        }
      }
    }
    for (size_t t = 0; t < rows; ++t) {
      const size_t j = j0 + t;
      const float* dj = d.data() + t * n;
      float q_best = std::numeric_limits<float>::infinity();
      for (size_t i = 0; i < n; ++i) {
        if (dj[i] < q_best) {
          q_best = dj[i];
          q_near[j] = static_cast<int>(i);
        }
        if (dj[i] < r.p_best[i]) {
          r.p_best[i] = dj[i];
          r.p_near[i] = static_cast<int>(j);
        }
      }
    }
  }
  return r;
}

}  // namespace

// The pairs (p, q) whose features are each other's nearest. With two threads each takes half
// the rows of fq; the earlier half wins equal distances, as one pass over all rows would.
std::vector<Match> mutual_matches(const std::vector<SurfaceFeature>& fp,
                                  const std::vector<SurfaceFeature>& fq, int threads) {
  const size_t n = fp.size();
  std::vector<float> fp_bins(kFeatureBins * n);
  for (size_t i = 0; i < n; ++i)
    for (size_t k = 0; k < kFeatureBins; ++k) fp_bins[k * n + i] = fp[i][k];
  std::vector<int> q_near(fq.size(), -1);
  const size_t half = threads >= 2 ? fq.size() / 2 : fq.size();
  NearestRows low, high;
  core::side_by_side(
      threads, [&] { low = nearest_rows(fp_bins, n, fq, 0, half, q_near); },
      [&] { high = nearest_rows(fp_bins, n, fq, half, fq.size(), q_near); });
  for (size_t i = 0; i < n; ++i)
    if (high.p_best[i] < low.p_best[i]) low.p_near[i] = high.p_near[i];
  std::vector<Match> out;
  for (size_t j = 0; j < fq.size(); ++j)
    if (q_near[j] >= 0 && low.p_near[static_cast<size_t>(q_near[j])] == static_cast<int>(j))
      out.push_back({q_near[j], static_cast<int>(j)});
  return out;
}

namespace {

// The rigid motion that best carries the Q points onto the P points (Kabsch); false when it is
// not defined.
bool fit_motion(const std::vector<Vec>& q, const std::vector<Vec>& p, core::RigidTransform& out) {
  const double n = static_cast<double>(q.size());
  Vec cq{0, 0, 0}, cp{0, 0, 0};
  for (size_t i = 0; i < q.size(); ++i) {
    cq = cq + q[i];
    cp = cp + p[i];
  }
  cq = (1 / n) * cq;
  cp = (1 / n) * cp;
  double H[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < q.size(); ++i) {
    const Vec a = q[i] - cq, b = p[i] - cp;
    const double av[3] = {a.x, a.y, a.z}, bv[3] = {b.x, b.y, b.z};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) H[r * 3 + c] += av[r] * bv[c];
  }
  double R[9];
  if (!best_rotation(H, R)) return false;
  core::DenseMatrix L(3, 3);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) L(r, c) = R[r * 3 + c];
  const Vec t{cp.x - (R[0] * cq.x + R[1] * cq.y + R[2] * cq.z),
              cp.y - (R[3] * cq.x + R[4] * cq.y + R[5] * cq.z),
              cp.z - (R[6] * cq.x + R[7] * cq.y + R[8] * cq.z)};
  out = core::linear_motion(L, t.x, t.y, t.z);
  return true;
}

// A motion as a plain 3 x 4 matrix, for moving many points.
struct Affine {
  double m[12];
  explicit Affine(const core::RigidTransform& t) {
    core::Point3D o;
    core::transform_point(o, t);
    const double origin[3] = {o.x, o.y, o.z};
    for (int c = 0; c < 3; ++c) {
      core::Point3D e;
      (c == 0 ? e.x : c == 1 ? e.y : e.z) = 1;
      core::transform_point(e, t);
      const double at[3] = {e.x, e.y, e.z};
      for (int r = 0; r < 3; ++r) m[r * 4 + c] = at[r] - origin[r];
    }
    for (int r = 0; r < 3; ++r) m[r * 4 + 3] = origin[r];
  }
  Vec operator()(const Vec& v) const {
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z + m[3],
            m[4] * v.x + m[5] * v.y + m[6] * v.z + m[7],
            m[8] * v.x + m[9] * v.y + m[10] * v.z + m[11]};
  }
};

// Matched points and normals as the motions read them.
struct MatchSet {
  std::vector<Vec> p, q, np, nq;
};

MatchSet match_set(const core::PointSet& p, const core::PointSet& q,
                   const std::vector<Match>& matches, double q_sign) {
  MatchSet s;
  for (const Match& m : matches) {
    const core::Point3D& a = p[static_cast<size_t>(m.p)];
    const core::Point3D& b = q[static_cast<size_t>(m.q)];
    s.p.push_back(position(a));
    s.q.push_back(position(b));
    s.np.push_back(normal(a, 1));
    s.nq.push_back(normal(b, q_sign));
  }
  return s;
}

// Whether matches a and b agree as a rigid pair: lengths, and normals to each other and to the
// line between them.
bool rigid_pair(const MatchSet& s, size_t a, size_t b, double min_length, double tolerance) {
  const Vec ep = s.p[b] - s.p[a], eq = s.q[b] - s.q[a];
  const double lp = norm(ep), lq = norm(eq);
  if (lp < min_length || std::fabs(lp - lq) > tolerance) return false;
  if (std::fabs(dot(s.np[a], s.np[b]) - dot(s.nq[a], s.nq[b])) > kNormalCosSlack) return false;
  const double ip = 1 / lp, iq = 1 / lq;
  return std::fabs(dot(s.np[a], ep) * ip - dot(s.nq[a], eq) * iq) < kLineCosSlack &&
         std::fabs(dot(s.np[b], ep) * ip - dot(s.nq[b], eq) * iq) < kLineCosSlack;
}

// The matches that `m` brings within the tolerance.
std::vector<size_t> carried_by(const MatchSet& s, const core::RigidTransform& m, double tol_sq) {
  const Affine a(m);
  std::vector<size_t> out;
  for (size_t k = 0; k < s.p.size(); ++k) {
    const Vec d = a(s.q[k]) - s.p[k];
    if (dot(d, d) < tol_sq) out.push_back(k);
  }
  return out;
}

// Whether `m` brings at least `enough` matches within the tolerance.
bool carries(const MatchSet& s, const core::RigidTransform& m, double tol_sq, size_t enough) {
  const Affine a(m);
  size_t count = 0;
  for (size_t k = 0; k < s.p.size() && count < enough; ++k) {
    const Vec d = a(s.q[k]) - s.p[k];
    count += dot(d, d) < tol_sq;
  }
  return count >= enough;
}

// The motion of two matches: their points and a normal's length beyond each.
bool pair_motion(const MatchSet& s, size_t a, size_t b, core::RigidTransform& out) {
  const double len = 0.5 * norm(s.p[b] - s.p[a]);
  const std::vector<Vec> q{s.q[a], s.q[b], s.q[a] + len * s.nq[a], s.q[b] + len * s.nq[b]};
  const std::vector<Vec> p{s.p[a], s.p[b], s.p[a] + len * s.np[a], s.p[b] + len * s.np[b]};
  return fit_motion(q, p, out);
}

// Every motion of a rigid pair of matches that carries at least three of them, refitted to
// those it carries.
void pair_motions(const MatchSet& s, double min_length, double tolerance,
                  std::vector<FeatureMotion>& out) {
  const size_t n = s.p.size();
  const size_t all = n * (n - 1) / 2;
  const size_t step = std::max<size_t>(1, all / kMaxPairs);
  const double tol_sq = tolerance * tolerance;
  size_t pair = 0;
  for (size_t a = 0; a < n; ++a)
    for (size_t b = a + 1; b < n; ++b, ++pair) {
      if (pair % step != 0 || !rigid_pair(s, a, b, min_length, tolerance)) continue;
      core::RigidTransform m;
      if (!pair_motion(s, a, b, m) || !carries(s, m, tol_sq, 3)) continue;
      const std::vector<size_t> carried = carried_by(s, m, tol_sq);
      if (carried.size() < 3) continue;
      std::vector<Vec> q, p;
      for (size_t k : carried) {
        q.push_back(s.q[k]);
        p.push_back(s.p[k]);
      }
      core::RigidTransform refit;
      if (!fit_motion(q, p, refit)) continue;
      const size_t again = carried_by(s, refit, tol_sq).size();
      const bool better = again >= carried.size();
      out.push_back({better ? refit : m, static_cast<int>(better ? again : carried.size())});
    }
}

}  // namespace

std::vector<SurfaceFeature> surface_features(const core::PointSet& working, double radius,
                                             bool flip) {
  const size_t n = working.size();
  std::vector<SurfaceFeature> own(n, SurfaceFeature{}), out(n, SurfaceFeature{});
  if (n == 0 || !(radius > 0)) return out;
  const PointGrid grid(working, radius);
  const double sq = radius * radius;
  std::vector<std::vector<int>> near(n);
  for (size_t i = 0; i < n; ++i) {
    const core::Point3D& a = working[i];
    grid.for_each_within(a.x, a.y, a.z, sq, [&](int j) {
      if (static_cast<size_t>(j) == i) return;
      near[i].push_back(j);
      const core::Point3D& b = working[static_cast<size_t>(j)];
      add_pair(position(a), normal(a, 1), position(b), normal(b, 1), own[i]);
    });
    to_percent(own[i], near[i].size());
  }
  // Blended with the neighbours' own histograms, nearer ones weighing more.
  for (size_t i = 0; i < n; ++i) {
    out[i] = own[i];
    if (near[i].empty()) continue;
    const float share = 1.0f / static_cast<float>(near[i].size());
    for (int j : near[i]) {
      const double d = norm(position(working[i]) - position(working[static_cast<size_t>(j)]));
      const float w =
          share * static_cast<float>(kBlendLength * radius / std::max(d, 1e-12 * radius));
      for (size_t k = 0; k < kFeatureBins; ++k) out[i][k] += w * own[static_cast<size_t>(j)][k];
    }
  }
  if (flip)
    for (SurfaceFeature& f : out) f = turned_over(f);
  return out;
}

std::vector<FeatureMotion> feature_motions(const core::PointSet& p, const core::PointSet& q,
                                           const FeatureSettings& settings) {
  std::vector<FeatureMotion> all;
  for (const double radius : settings.radii) {
    std::vector<SurfaceFeature> fp, fq;
    core::side_by_side(
        settings.threads, [&] { fp = surface_features(p, radius, false); },
        [&] { fq = surface_features(q, radius, false); });
    for (const bool flip : {false, true}) {
      if (flip)
        for (SurfaceFeature& f : fq) f = turned_over(f);
      const MatchSet s = match_set(p, q, mutual_matches(fp, fq, settings.threads), flip ? -1 : 1);
      pair_motions(s, radius, settings.tolerance, all);
    }
  }
  std::stable_sort(all.begin(), all.end(), [](const FeatureMotion& a, const FeatureMotion& b) {
    return a.carried > b.carried;
  });
  // Motions near each other pool their votes, led by the one that carries the most.
  const SamePlace near{centroid(q), static_cast<float>(kNearDegrees),
                       static_cast<float>(kNearTolerances), static_cast<float>(settings.tolerance)};
  std::vector<FeatureMotion> groups;
  std::vector<SamePlace::Placed> leads;
  for (const FeatureMotion& f : all) {
    const SamePlace::Placed here = SamePlace::placed(near.q_centroid, f.motion);
    size_t g = 0;
    while (g < leads.size() && !near.same(here, leads[g])) ++g;
    if (g < groups.size()) {
      groups[g].carried += f.carried;
    } else {
      groups.push_back(f);
      leads.push_back(here);
    }
  }
  std::stable_sort(
      groups.begin(), groups.end(),
      [](const FeatureMotion& a, const FeatureMotion& b) { return a.carried > b.carried; });
  if (groups.size() > settings.count) groups.resize(settings.count);
  return groups;
}

}  // namespace kestrel::registration
