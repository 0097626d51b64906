// The filed polished motions answer whether a candidate lands where one of them did exactly as
// asking SamePlace of each in turn would, wherever the motions put Q.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "registration/search/same_place.h"

namespace kestrel::registration {
namespace {

core::RigidTransform turned(double ax, double ay, double az, double degrees, double tx, double ty,
                            double tz) {
  const double n = std::sqrt(ax * ax + ay * ay + az * az);
  ax /= n, ay /= n, az /= n;
  const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a), v = 1 - c;
  core::DenseMatrix r(3, 3);
  const double m[3][3] = {{c + ax * ax * v, ax * ay * v - az * s, ax * az * v + ay * s},
                          {ay * ax * v + az * s, c + ay * ay * v, ay * az * v - ax * s},
                          {az * ax * v - ay * s, az * ay * v + ax * s, c + az * az * v}};
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t j = 0; j < 3; ++j) r(i, j) = m[i][j];
  return core::linear_motion(r, tx, ty, tz);
}

struct Case {
  std::string name;
  std::array<double, 3> anchor;  // where the motions are filed
  std::array<double, 3> asked;   // where SamePlace compares them
  double cell;                   // of the filing
  double spread;                 // translations drawn within +-spread
  double degrees;                // turns drawn within +-degrees
  int filed = 300;               // motions filed
  double near_degrees = 8;       // half the questions turn a filed motion by up to this much
};

TEST(PolishedMotions, AnswerAsAPlainScanDoes) {
  const double huge = 1e12, nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      {"clustered, as a search polishes", {1, 2, 3}, {1, 2, 3}, 6, 8, 30},
      {"spread wide", {1, 2, 3}, {1, 2, 3}, 6, 200, 180},
      {"cells narrower than the distance compared", {0, 0, 0}, {0, 0, 0}, 0.5, 8, 20},
      {"far from the origin, hardly turned", {5e5, -5e5, 2e5}, {5e5, -5e5, 2e5}, 6, 30, 1e-5},
      {"beyond every cell", {0, 0, 0}, {0, 0, 0}, 1e-9, 8, 20},
      {"compared at another point", {1, 2, 3}, {40, 0, 0}, 6, 8, 30},
      {"not filed at all", {1, 2, 3}, {1, 2, 3}, 0, 8, 30},
      // Few motions, every direction, questions turned up to the limit of 10 degrees from one.
      {"few, asked at the limit of the turn", {1, 2, 3}, {1, 2, 3}, 6, 3, 180, 20, 10.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1, 1);
    const auto draw = [&] {
      return turned(u(gen), u(gen), u(gen) + 0.01, c.degrees * u(gen), c.spread * u(gen),
                    c.spread * u(gen), c.spread * u(gen));
    };
    const SamePlace same{c.asked, 10, 5, 1};
    PolishedMotions filed(c.anchor, c.cell);
    std::vector<core::RigidTransform> plain;
    for (int k = 0; k < c.filed; ++k) {
      filed.add(plain.emplace_back(draw()));
      if (k == 5) filed.add(plain.emplace_back(turned(1, 0, 0, 0, huge, nan, 0)));
    }
    int agreed = 0, found = 0;
    for (int k = 0; k < 2000; ++k) {
      // Half of them a little off a filed motion, so that both answers come up.
      const core::RigidTransform m =
          k % 2 ? draw()
                : core::compose(
                      turned(u(gen), u(gen), 1, std::min(c.near_degrees, c.degrees) * u(gen),
                             4 * u(gen), 4 * u(gen), 0),
                      plain[static_cast<size_t>(k) % plain.size()]);
      bool expected = false;
      for (const core::RigidTransform& p : plain) expected = expected || same(m, p);
      agreed += filed.any_same(same, m) == expected;
      found += expected;
    }
    EXPECT_EQ(agreed, 2000);
    EXPECT_GT(found, 0);  // the cases ask questions with both answers
    EXPECT_EQ(filed.size(), plain.size());
  }
}

}  // namespace
}  // namespace kestrel::registration
