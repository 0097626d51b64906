// Lists of nearby points answer as the grid does, step after step, as the asking points move.

#include "registration/any_pose/nearby_points.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "registration/any_pose/refine_motion.h"

namespace kestrel::registration {
namespace {

core::Point3D at(double x, double y, double z) {
  core::Point3D p;
  p.x = x, p.y = y, p.z = z;
  return p;
}

// A lattice (many equal distances) or a noisy sheet with repeated points, and on the sheet a
// pile of 2000 points within half a unit (far too many for a list about it).
core::PointSet surface(bool lattice) {
  core::PointSet p;
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 0.05);
  for (int i = 0; i < 60; ++i)
    for (int j = 0; j < 60; ++j)
      p.push_back(lattice ? at(i, j, 0) : at(i + noise(rng), j + noise(rng), noise(rng)));
  if (lattice) return p;
  for (size_t k = 0; k < 300; k += 3) p.push_back(p[k * 7]);
  std::uniform_real_distribution<double> pile(-0.3, 0.3);
  for (int k = 0; k < 2000; ++k) p.push_back(at(30 + pile(rng), 30 + pile(rng), pile(rng)));
  return p;
}

// Each moving point's path: steps of `step` in random directions, now and then a jump of
// `jump`, over 40 steps; every answer, hint and distance as the grid gives them. On the halves
// the points start and step on a lattice of half units: equal distances everywhere.
TEST(NearbyPoints, AnswerAsTheGridDoesWhilePointsMove) {
  struct Case {
    const char* name;
    bool lattice, halves;
    double cell, reach, radius, step, jump;
  };
  const Case cases[] = {
      {"lattice, creeping", true, false, 2.0, 2.5, 2.0, 0.02, 0},
      {"lattice, on the halves", true, true, 2.0, 2.5, 2.0, 0.5, 0},
      {"lattice, tiny cells, wide radius", true, false, 0.3, 2.5, 5.0, 0.1, 0},
      {"noisy sheet, creeping", false, false, 2.0, 2.5, 3.0, 0.01, 0},
      {"noisy sheet, jumps", false, false, 1.0, 2.5, 3.0, 0.05, 4.0},
      {"noisy sheet, off the surface and back", false, false, 2.0, 2.5, 1.0, 0.4, 0},
      {"reach shorter than the radius", false, false, 2.0, 1.0, 4.0, 0.2, 1.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const core::PointSet p = surface(c.lattice);
    const PointGrid grid(p, c.cell, {}, true);
    const size_t movers = 200;
    NearbyPoints nearby(p, grid, movers, c.reach);
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> u(-1, 1), place(-3, 63), lift(-2, 2), by_pile(27, 33);
    std::vector<core::Point3D> where;
    const auto half = [](double v) { return std::round(2 * v) / 2; };
    for (size_t i = 0; i < movers; ++i) {
      // A tenth of the points start about the pile.
      where.push_back(i % 10 ? at(place(rng), place(rng), lift(rng))
                             : at(by_pile(rng), by_pile(rng), lift(rng)));
      if (c.halves) where[i] = at(half(where[i].x), half(where[i].y), half(where[i].z));
    }
    std::vector<int> hint(movers, -1), grid_hint(movers, -1);
    size_t found = 0;
    for (int s = 0; s < 40; ++s)
      for (size_t i = 0; i < movers; ++i) {
        core::Point3D& x = where[i];
        const double d = (c.jump > 0 && (s + i) % 13 == 0) ? c.jump : c.step;
        if (c.halves)
          (s + i) % 2 ? x.x += u(rng) < 0 ? -d : d : x.y += u(rng) < 0 ? -d : d;
        else
          x.x += d * u(rng), x.y += d * u(rng), x.z += d * u(rng);
        double d2 = -1, want_d2 = -1;
        const int got = nearby.nearest(i, x, c.radius * c.radius, hint[i], d2);
        const int want = nearest_from(p, grid, x, c.radius * c.radius, grid_hint[i], want_d2);
        ASSERT_EQ(got, want) << "step " << s << " point " << i;
        ASSERT_EQ(hint[i], grid_hint[i]);
        if (want < 0) continue;
        ASSERT_EQ(d2, want_d2);
        ++found;
      }
    EXPECT_GT(found, 1000u);  // the paths stay near the surface mostly
  }
}

}  // namespace
}  // namespace kestrel::registration
