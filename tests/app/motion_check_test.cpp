#include "app/motion_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace kestrel::app {
namespace {

// A 3 x 3 part with a translation of (1, 2, 3).
struct Matrix {
  double m[4][4] = {{1, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}, {0, 0, 0, 1}};
  Matrix(std::initializer_list<double> rows) {
    auto v = rows.begin();
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) m[r][c] = *v++;
  }
};

const double c30 = std::cos(M_PI / 6), s30 = std::sin(M_PI / 6);

TEST(MotionCheck, ResultsMustBeRotationsOfTheirKind) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* name;
    Matrix matrix;
    MotionKind kind;
    const char* fault;  // "" when it may be a result
  } cases[] = {
      {"turn", {c30, -s30, 0, s30, c30, 0, 0, 0, 1}, MotionKind::kRigid, ""},
      {"float-rounded turn",
       {c30, -s30, 0, s30, c30 * (1 + 4e-4), 0, 0, 0, 1},
       MotionKind::kRigid,
       ""},
      {"shear", {1, 0.3, 0, 0, 1, 0, 0, 0, 1}, MotionKind::kRigid, "is not a rotation"},
      {"stretch", {1.12, 0, 0, 0, 0.97, 0, 0, 0, 0.86}, MotionKind::kRigid, "is not a rotation"},
      {"scaled turn, rigid",
       {1.01 * c30, -1.01 * s30, 0, 1.01 * s30, 1.01 * c30, 0, 0, 0, 1.01},
       MotionKind::kRigid,
       "is not a rotation"},
      {"scaled turn",
       {1.01 * c30, -1.01 * s30, 0, 1.01 * s30, 1.01 * c30, 0, 0, 0, 1.01},
       MotionKind::kScaled,
       ""},
      {"collapse", {0.2, 0, 0, 0, 0.2, 0, 0, 0, 0.2}, MotionKind::kScaled, "scale from 0.5 to 2"},
      {"scaled by 4", {4, 0, 0, 0, 4, 0, 0, 0, 4}, MotionKind::kSimilarity, ""},
      {"sheared, scale allowed",
       {1, 0.3, 0, 0, 1, 0, 0, 0, 1},
       MotionKind::kSimilarity,
       "with a uniform scale"},
      {"rank one", {1, 1, 1, 1, 1, 1, 1, 1, 1}, MotionKind::kScaled, "mirrors or flattens Q"},
      {"mirror", {1, 0, 0, 0, 1, 0, 0, 0, -1}, MotionKind::kRigid, "mirrors or flattens Q"},
      {"mirror, affine asked",
       {1, 0, 0, 0, 1, 0, 0, 0, -1},
       MotionKind::kAnyLinear,
       "mirrors or flattens Q"},
      {"shear, affine asked", {1, 0.3, 0, 0, 1, 0, 0, 0, 1}, MotionKind::kAnyLinear, ""},
      {"not finite", {1, 0, 0, 0, nan, 0, 0, 0, 1}, MotionKind::kAnyLinear, "is not finite"},
  };
  for (const auto& c : cases) {
    const std::string fault = motion_fault(c.matrix.m, c.kind, "the motion");
    if (*c.fault == '\0')
      EXPECT_EQ(fault, "") << c.name;
    else
      EXPECT_NE(fault.find(c.fault), std::string::npos) << c.name << ": " << fault;
  }
}

TEST(MotionCheck, ScansOfFewerThanTwelvePointsAreTooSmall) {
  EXPECT_EQ(scan_size_fault(12, 400), "");
  EXPECT_EQ(scan_size_fault(400, 11),
            "Model Q has 11 points, too few for a registration (at least 12)");
  EXPECT_EQ(scan_size_fault(4, 11).rfind("Model P has 4 points", 0), 0u);
}

}  // namespace
}  // namespace kestrel::app
