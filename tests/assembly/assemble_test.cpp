// A whole assembly on the example bunny scans, thinned, each in a random pose and in shuffled
// order, with a scan of another object among them: the bunny scans placed within half a degree
// and half a millimetre, the other scan left out, and the same result on one thread and two.

#include "assembly/assemble.h"

#include <gtest/gtest.h>

#include <random>

#include "assembly/pose_math.h"
#include "assembly_scans.h"

namespace kestrel::assembly {
namespace {

// The scans, and the assembly of them on `threads`, each made once per test program.
class Assemble : public ::testing::Test {
 protected:
  static const std::vector<testing::TestScan>& scans() {
    static const std::vector<testing::TestScan> s = [] {
      std::mt19937 rng(2024);
      std::vector<testing::TestScan> out;
      for (const char* name : {"bun045", "bun315", "bun000", "bun090"})
        out.push_back(testing::bunny_scan(name, kKeep, rng));
      out.insert(out.begin() + 2, testing::other_object(rng));
      return out;
    }();
    return s;
  }
  static AssemblyResult run(int threads) {
    std::vector<const core::PointSet*> in;
    for (const testing::TestScan& s : scans()) in.push_back(&s.points);
    AssemblyOptions options;
    options.threads = threads;
    return assemble(in, options);
  }
  static constexpr size_t kKeep = 6;   // every 6th point: about 6000 per scan
  static constexpr size_t kOther = 2;  // where the other object stands
};

TEST_F(Assemble, PlacesEveryBunnyScanNearTheTruthAndLeavesTheOtherObjectOut) {
  const AssemblyResult r = run(2);
  const Eigen::Matrix4d reference = scans()[0].world;
  for (size_t i = 0; i < scans().size(); ++i) {
    const testing::TestScan& s = scans()[i];
    if (i == kOther) continue;
    ASSERT_TRUE(r.scans[i].placed) << s.name;
    const auto [degrees, gap] = testing::motion_error(
        pose_of(r.scans[i].matrix), reference.inverse() * s.world, testing::centroid(s.points));
    EXPECT_LT(degrees, 0.5) << s.name;
    EXPECT_LT(gap, 0.5) << s.name;
    EXPECT_GT(r.scans[i].pairs, 0u) << s.name;
  }
  EXPECT_FALSE(r.scans[kOther].placed);
  EXPECT_EQ(r.scans[kOther].pairs, 0u);
  EXPECT_EQ(r.placed(), scans().size() - 1);
  for (const PairRecord& p : r.pairs)
    if (p.a == kOther || p.b == kOther) EXPECT_FALSE(p.used);
}

TEST_F(Assemble, OneThreadAndTwoAgreeExactly) {
  const AssemblyResult one = run(1), two = run(2);
  ASSERT_EQ(one.scans.size(), two.scans.size());
  for (size_t i = 0; i < one.scans.size(); ++i) {
    EXPECT_EQ(one.scans[i].placed, two.scans[i].placed);
    EXPECT_EQ(one.scans[i].matrix, two.scans[i].matrix) << "scan " << i;
    EXPECT_EQ(one.scans[i].residual, two.scans[i].residual) << "scan " << i;
  }
  ASSERT_EQ(one.pairs.size(), two.pairs.size());
  for (size_t k = 0; k < one.pairs.size(); ++k) {
    EXPECT_EQ(one.pairs[k].verdict, two.pairs[k].verdict);
    EXPECT_EQ(one.pairs[k].motion, two.pairs[k].motion);
    EXPECT_EQ(one.pairs[k].used, two.pairs[k].used);
  }
}

}  // namespace
}  // namespace kestrel::assembly
