// Which pairs an assembly tries: every pair of a small set, and for a larger one a shortlist
// from a comparison of whole scans that does not depend on their poses.

#include "assembly/pair_job.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "assembly_scans.h"

namespace kestrel::assembly {
namespace {

// A height field of `n` x `n` points with bumps of wavelength `wave`, and one patch of a sphere.
core::PointSet field(int n, double wave) {
  core::PointSet s;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      s.push_back({double(i), double(j), 4 * std::sin(i / wave) * std::cos(j / (1.3 * wave))});
  return s;
}

core::PointSet cap(int n) {
  core::PointSet s;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = i - n / 2.0, y = j - n / 2.0;
      s.push_back({x, y, std::sqrt(std::max(0.0, 900.0 - x * x - y * y))});
    }
  return s;
}

TEST(PairsToTry, EveryPairOfASmallSetAndLikeScansOnTheShortlist) {
  std::mt19937 rng(9);
  std::vector<core::PointSet> scans = {field(30, 3), field(30, 9), cap(30), field(30, 3),
                                       field(30, 9)};
  // The copies are turned and moved: the shortlist must still pair them.
  for (size_t k : {3u, 4u}) testing::move(scans[k], testing::random_motion(rng, {15, 15, 0}));
  std::vector<const core::PointSet*> in;
  for (const core::PointSet& s : scans) in.push_back(&s);
  const ScanSet set = prepare_scans(in, 1);
  AssemblyOptions options;
  EXPECT_EQ(pairs_to_try(set, options).size(), 10u);
  options.all_pairs_up_to = 4;
  options.shortlist = 1;
  const std::vector<std::pair<size_t, size_t>> pairs = pairs_to_try(set, options);
  EXPECT_LT(pairs.size(), 10u);
  for (const auto& like : {std::pair<size_t, size_t>{0, 3}, {1, 4}})
    EXPECT_NE(std::find(pairs.begin(), pairs.end(), like), pairs.end())
        << like.first << "-" << like.second;
}

}  // namespace
}  // namespace kestrel::assembly
