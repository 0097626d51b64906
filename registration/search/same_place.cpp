#include "registration/search/same_place.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace kestrel::registration {

SamePlace::SamePlace(const std::array<double, 3>& centroid, float max_degrees, float max_tolerances,
                     float tolerance)
    : q_centroid(centroid),
      degrees(max_degrees),
      tolerances(max_tolerances),
      run_tol(tolerance),
      cos_limit_(cos_of(max_degrees)) {}

double SamePlace::cos_of(float max_degrees) {
  return std::cos(max_degrees * M_PI / 180);
}

namespace {

// A rotation's entries, row by row.
void entries_of(const core::RigidTransform& m, double r[9]) {
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t j = 0; j < 3; ++j) r[3 * i + j] = m.R(i, j);
}

}  // namespace

SamePlace::Placed SamePlace::placed(const std::array<double, 3>& anchor,
                                    const core::RigidTransform& m) {
  Placed out;
  entries_of(m, out.r);
  out.at.x = anchor[0], out.at.y = anchor[1], out.at.z = anchor[2];
  core::transform_point(out.at, m);
  return out;
}

bool SamePlace::turned_within(const double a[9], const double b[9]) const {
  double trace = 0;
  for (uint32_t k = 0; k < 9; ++k) trace += a[k] * b[k];
  return std::clamp((trace - 1) / 2, -1.0, 1.0) >= cos_limit_;
}

bool SamePlace::same(const Placed& a, const Placed& b) const {
  // The distance first: it costs a third of the turn's products, and many motions filed in
  // neighbouring cells already lie too far apart.
  return core::distance(a.at, b.at) < tolerances * run_tol && turned_within(a.r, b.r);
}

bool SamePlace::operator()(const core::RigidTransform& a, const core::RigidTransform& b) const {
  // The turn first: most motions compared differ in it, and it needs no point moved.
  double ra[9], rb[9];
  entries_of(a, ra);
  entries_of(b, rb);
  if (!turned_within(ra, rb)) return false;
  return core::distance(placed(q_centroid, a).at, placed(q_centroid, b).at) <
         tolerances * run_tol;
}

namespace {

// Cell indices stay within this, so that keys stay distinct and the casts defined.
constexpr double kCellLimit = 1 << 20;

// One key per cell, from 21 bits of each index: indices within the limit get keys of their own,
// and a cell a few past it that shares a key costs only a few more comparisons.
uint64_t key_of(int64_t x, int64_t y, int64_t z) {
  const auto part = [](int64_t v) { return static_cast<uint64_t>(v) & 0x1fffff; };
  return part(x) | part(y) << 21 | part(z) << 42;
}

// Whether a rotation's entries, row by row, make a rotation (rows of unit length): the filing
// by the first entry holds for those only.
bool is_rotation(const double r[9]) {
  double sum = 0;
  for (int k = 0; k < 9; ++k) sum += r[k] * r[k];
  return std::fabs(sum - 3) < 1e-6;
}

}  // namespace

PolishedMotions::PolishedMotions(const std::array<double, 3>& anchor, double cell)
    : anchor_(anchor), cell_(cell) {}

bool PolishedMotions::cell_of(const core::Point3D& at, std::array<int64_t, 3>& cell) const {
  if (!(cell_ > 0)) return false;
  const double in_cells[3] = {at.x / cell_, at.y / cell_, at.z / cell_};
  for (int a = 0; a < 3; ++a) {
    if (!(std::abs(in_cells[a]) < kCellLimit)) return false;  // NaN too
    cell[a] = static_cast<int64_t>(std::floor(in_cells[a]));
  }
  return true;
}

void PolishedMotions::add(const core::RigidTransform& motion) {
  motions_.push_back(motion);
  placed_.push_back(SamePlace::placed(anchor_, motion));
  const uint32_t k = static_cast<uint32_t>(motions_.size() - 1);
  std::array<int64_t, 3> c;
  if (!is_rotation(placed_.back().r) || !cell_of(placed_.back().at, c)) {
    unfiled_.push_back(k);
    return;
  }
  // A cell's motions in order of their rotation's first entry.
  std::vector<uint32_t>& filed = cells_[key_of(c[0], c[1], c[2])];
  const double first = placed_.back().r[0];
  filed.insert(std::upper_bound(filed.begin(), filed.end(), first,
                                [this](double v, uint32_t m) { return v < placed_[m].r[0]; }),
               k);
}

bool PolishedMotions::any_same(const SamePlace& same, const core::RigidTransform& motion) const {
  if (same.q_centroid != anchor_) {
    for (const core::RigidTransform& m : motions_)
      if (same(motion, m)) return true;
    return false;
  }
  const SamePlace::Placed at = SamePlace::placed(anchor_, motion);
  // The cells can answer where the distance that `same` allows spans a few of them.
  const double reach = same.tolerances * same.run_tol;
  std::array<int64_t, 3> c;
  if (!(reach / cell_ < 4) || !cell_of(at.at, c)) {
    for (const SamePlace::Placed& p : placed_)
      if (same.same(at, p)) return true;
    return false;
  }
  for (uint32_t k : unfiled_)
    if (same.same(at, placed_[k])) return true;
  // Only the cells that the ball of that distance around the moved anchor reaches (two or three
  // along each axis, where the cube of cells around its cell holds 27), a hair wider, as
  // rounding may move a bound across a cell's side.
  constexpr double kSlack = 1e-9;
  const double centre[3] = {at.at.x, at.at.y, at.at.z};
  int64_t lo[3], hi[3];
  for (int a = 0; a < 3; ++a) {
    lo[a] = static_cast<int64_t>(std::floor((centre[a] - reach) / cell_ - kSlack));
    hi[a] = static_cast<int64_t>(std::floor((centre[a] + reach) / cell_ + kSlack));
  }
  // Two rotations turned by at most `degrees` from each other differ by at most 2 sqrt(1 - cos)
  // in every entry (their difference's whole norm is that): only the cell's motions whose first
  // entry lies that near are compared. The slack covers rows a millionth off unit length.
  const bool rotation = is_rotation(at.r);
  const double turn =
      rotation ? 2 * std::sqrt(std::max(0.0, 1 - std::cos(same.degrees * M_PI / 180))) + 2e-3
               : std::numeric_limits<double>::infinity();
  const auto below = [this](uint32_t m, double v) { return placed_[m].r[0] < v; };
  for (int64_t x = lo[0]; x <= hi[0]; ++x)
    for (int64_t y = lo[1]; y <= hi[1]; ++y)
      for (int64_t z = lo[2]; z <= hi[2]; ++z) {
        const auto it = cells_.find(key_of(x, y, z));
        if (it == cells_.end()) continue;
        const std::vector<uint32_t>& filed = it->second;
        const auto first = rotation
                               ? std::lower_bound(filed.begin(), filed.end(), at.r[0] - turn, below)
                               : filed.begin();
        for (auto k = first; k != filed.end() && (!rotation || placed_[*k].r[0] <= at.r[0] + turn);
             ++k)
          if (same.same(at, placed_[*k])) return true;
      }
  return false;
}

std::array<double, 3> centroid(const core::PointSet& set) {
  std::array<double, 3> c{0, 0, 0};
  for (const core::Point3D& p : set) c[0] += p.x, c[1] += p.y, c[2] += p.z;
  if (!set.empty())
    for (double& v : c) v /= static_cast<double>(set.size());
  return c;
}

}  // namespace kestrel::registration
