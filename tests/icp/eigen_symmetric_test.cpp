#include "icp/eigen_symmetric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace kestrel::icp {
namespace {

// Checks A v_k = lambda_k v_k, orthonormal columns and ascending eigenvalues.
template <typename T, int N>
void expect_decomposition(const T (&a)[N][N], const T (&v)[N][N], const T (&d)[N], T tol) {
  T scale = 0;
  for (int r = 0; r < N; ++r) {
    for (int c = 0; c < N; ++c) scale = std::fmax(scale, std::fabs(a[r][c]));
  }
  for (int k = 0; k < N; ++k) {
    if (k > 0) {
      EXPECT_LE(d[k - 1], d[k]);
    }
    for (int r = 0; r < N; ++r) {
      T av = 0;
      for (int c = 0; c < N; ++c) av += a[r][c] * v[c][k];
      EXPECT_NEAR(av, d[k] * v[r][k], tol * scale) << "vector " << k << " row " << r;
    }
    for (int j = 0; j < N; ++j) {
      T dot = 0;
      for (int r = 0; r < N; ++r) dot += v[r][k] * v[r][j];
      EXPECT_NEAR(dot, j == k ? T(1) : T(0), tol);
    }
  }
}

template <typename T, int N>
void random_symmetric(std::mt19937& rng, T (&a)[N][N]) {
  std::uniform_real_distribution<double> u(-10, 10);
  for (int r = 0; r < N; ++r) {
    for (int c = 0; c <= r; ++c) a[r][c] = a[c][r] = static_cast<T>(u(rng));
  }
}

TEST(EigenSymmetric, KnownThreeByThree) {
  double a[3][3] = {{2, 1, 0}, {1, 2, 0}, {0, 0, 5}};
  double d[3];
  eigen_symmetric(a, d);
  EXPECT_NEAR(d[0], 1, 1e-14);
  EXPECT_NEAR(d[1], 3, 1e-14);
  EXPECT_NEAR(d[2], 5, 1e-14);
  const double h = std::sqrt(0.5);
  EXPECT_NEAR(std::fabs(a[0][0] * h - a[1][0] * h), 1, 1e-14);  // (1, -1, 0) / sqrt 2
  EXPECT_NEAR(std::fabs(a[0][1] * h + a[1][1] * h), 1, 1e-14);  // (1, 1, 0) / sqrt 2
  EXPECT_NEAR(std::fabs(a[2][2]), 1, 1e-14);
}

TEST(EigenSymmetric, DiagonalIsSortedWithItsColumns) {
  float a[3][3] = {{3, 0, 0}, {0, -1, 0}, {0, 0, 2}};
  float d[3];
  eigen_symmetric(a, d);
  EXPECT_FLOAT_EQ(d[0], -1);
  EXPECT_FLOAT_EQ(d[1], 2);
  EXPECT_FLOAT_EQ(d[2], 3);
  EXPECT_FLOAT_EQ(std::fabs(a[1][0]), 1);
  EXPECT_FLOAT_EQ(std::fabs(a[2][1]), 1);
  EXPECT_FLOAT_EQ(std::fabs(a[0][2]), 1);
}

TEST(EigenSymmetric, ZeroMatrixGivesIdentity) {
  float a[6][6] = {};
  float d[6];
  eigen_symmetric(a, d);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(d[k], 0.0f);
    for (int r = 0; r < 6; ++r) EXPECT_EQ(std::fabs(a[r][k]), r == k ? 1.0f : 0.0f);
  }
}

TEST(EigenSymmetric, RankOneScatterInFloat) {
  // Scatter of offsets along one line: one eigenvalue, two zeros, all finite.
  const float u[3] = {0.6f, 0.0f, 0.8f};
  float a[3][3], copy[3][3], d[3];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) a[r][c] = copy[r][c] = 25 * u[r] * u[c];
  }
  eigen_symmetric(a, d);
  EXPECT_NEAR(d[2], 25, 1e-4);
  EXPECT_NEAR(d[0], 0, 1e-4);
  EXPECT_NEAR(d[1], 0, 1e-4);
  EXPECT_NEAR(std::fabs(a[0][2] * u[0] + a[2][2] * u[2]), 1, 1e-6);
  expect_decomposition(copy, a, d, 1e-5f);
}

TEST(EigenSymmetric, RandomMatricesInAllThreeForms) {
  const unsigned seed = 99;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 50; ++trial) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << " trial " << trial);
    float f3[3][3], f3v[3][3], f3d[3];
    random_symmetric(rng, f3);
    std::copy(&f3[0][0], &f3[0][0] + 9, &f3v[0][0]);
    eigen_symmetric(f3v, f3d);
    expect_decomposition(f3, f3v, f3d, 1e-5f);

    float f6[6][6], f6v[6][6], f6d[6];
    random_symmetric(rng, f6);
    std::copy(&f6[0][0], &f6[0][0] + 36, &f6v[0][0]);
    eigen_symmetric(f6v, f6d);
    expect_decomposition(f6, f6v, f6d, 2e-5f);

    double d3[3][3], d3v[3][3], d3d[3];
    random_symmetric(rng, d3);
    std::copy(&d3[0][0], &d3[0][0] + 9, &d3v[0][0]);
    eigen_symmetric(d3v, d3d);
    expect_decomposition(d3, d3v, d3d, 1e-13);
  }
}

}  // namespace
}  // namespace kestrel::icp
