#include "icp/eigen_symmetric.h"

#include <cmath>
#include <utility>

namespace kestrel::icp {

namespace {

// Convergence threshold of the QL iterations, relative to the largest |d| + |e| seen: the
// double epsilon 2^-52 also for float data, where the iterations converge cubically below it.
constexpr double kEps = 1.0 / 4503599627370496.0;
// A cap on QL iterations per eigenvalue so that no input can keep the solver looping.
constexpr int kMaxIterations = 60;

template <typename T>
T hypotenuse(T a, T b) {
  return std::hypot(a, b);
}

// The second half of the Householder reduction: the transformations accumulated into v, the
// diagonal left in d.
template <typename T, int N>
void accumulate_transformations(T (&v)[N][N], T (&d)[N]) {
  for (int i = 0; i < N - 1; ++i) {
    v[N - 1][i] = v[i][i];
    v[i][i] = 1;
    T h = d[i + 1];
    if (h != 0) {
      for (int k = 0; k <= i; ++k) d[k] = v[k][i + 1] / h;
      for (int j = 0; j <= i; ++j) {
        T g = 0;
        for (int k = 0; k <= i; ++k) g += v[k][i + 1] * v[k][j];
        for (int k = 0; k <= i; ++k) v[k][j] -= g * d[k];
      }
    }
    for (int k = 0; k <= i; ++k) v[k][i + 1] = 0;
  }
  for (int j = 0; j < N; ++j) {
    d[j] = v[N - 1][j];
    v[N - 1][j] = 0;
  }
  v[N - 1][N - 1] = 1;
}

// Householder reduction of v (in/out) to tridiagonal form: diagonal d, sub-diagonal e[1..n-1].
template <typename T, int N>
void tred2(T (&v)[N][N], T (&d)[N], T (&e)[N]) {
  for (int j = 0; j < N; ++j) d[j] = v[N - 1][j];
  for (int i = N - 1; i > 0; --i) {
    T scale = 0, h = 0;
    for (int k = 0; k < i; ++k) scale += std::fabs(d[k]);
    if (scale == 0) {
      e[i] = d[i - 1];
      for (int j = 0; j < i; ++j) {
        d[j] = v[i - 1][j];
        v[i][j] = 0;
        v[j][i] = 0;
      }
    } else {
      for (int k = 0; k < i; ++k) {
        d[k] /= scale;
        h += d[k] * d[k];
      }
      T f = d[i - 1];
      T g = std::sqrt(h);
      if (f > 0) g = -g;
      e[i] = scale * g;
      h -= f * g;
      d[i - 1] = f - g;
      for (int j = 0; j < i; ++j) e[j] = 0;
      for (int j = 0; j < i; ++j) {
        f = d[j];
        v[j][i] = f;
        g = e[j] + v[j][j] * f;
        for (int k = j + 1; k <= i - 1; ++k) {
          g += v[k][j] * d[k];
          e[k] += v[k][j] * f;
        }
        e[j] = g;
      }
      f = 0;
      for (int j = 0; j < i; ++j) {
        e[j] /= h;
        f += e[j] * d[j];
      }
      T hh = f / (h + h);
      for (int j = 0; j < i; ++j) e[j] -= hh * d[j];
      for (int j = 0; j < i; ++j) {
        f = d[j];
        g = e[j];
        for (int k = j; k <= i - 1; ++k) v[k][j] -= (f * e[k] + g * d[k]);
        d[j] = v[i - 1][j];
        v[i][j] = 0;
      }
    }
    d[i] = h;
  }
  accumulate_transformations(v, d);
  e[0] = 0;
}

// Implicit QL on the tridiagonal (d, e), rotating the columns of v along.
template <typename T, int N>
void tql2(T (&v)[N][N], T (&d)[N], T (&e)[N]) {
  for (int i = 1; i < N; ++i) e[i - 1] = e[i];
  e[N - 1] = 0;
  T f = 0, tst1 = 0;
  const T eps = static_cast<T>(kEps);
  for (int l = 0; l < N; ++l) {
    tst1 = std::fmax(tst1, std::fabs(d[l]) + std::fabs(e[l]));
    int m = l;
    while (m < N - 1 && std::fabs(e[m]) > eps * tst1) ++m;
    if (m > l) {
      int iter = 0;
      do {
        T g = d[l];
        T p = (d[l + 1] - g) / (2 * e[l]);
        T r = hypotenuse(p, T(1));
        if (p < 0) r = -r;
        d[l] = e[l] / (p + r);
        d[l + 1] = e[l] * (p + r);
        T dl1 = d[l + 1];
        T h = g - d[l];
        for (int i = l + 2; i < N; ++i) d[i] -= h;
        f += h;
        p = d[m];
        T c = 1, c2 = 1, c3 = 1, s = 0, s2 = 0;
        T el1 = e[l + 1];
        for (int i = m - 1; i >= l; --i) {
          c3 = c2;
          c2 = c;
          s2 = s;
          g = c * e[i];
          h = c * p;
          r = hypotenuse(p, e[i]);
          e[i + 1] = s * r;
          s = e[i] / r;
          c = p / r;
          p = c * d[i] - s * g;
          d[i + 1] = h + s * (c * g + s * d[i]);
          for (int k = 0; k < N; ++k) {
            h = v[k][i + 1];
            v[k][i + 1] = s * v[k][i] + c * h;
            v[k][i] = c * v[k][i] - s * h;
          }
        }
        p = -s * s2 * c3 * el1 * e[l] / dl1;
        e[l] = s * p;
        d[l] = c * p;
      } while (std::fabs(e[l]) > eps * tst1 && ++iter < kMaxIterations);
    }
    d[l] += f;
    e[l] = 0;
  }
}

}  // namespace

template <typename T, int N>
void eigen_symmetric(T (&a)[N][N], T (&d)[N]) {
  T e[N];
  tred2(a, d, e);
  tql2(a, d, e);
  // Ascending selection sort; the first strictly smallest remaining value moves forward.
  for (int i = 0; i < N - 1; ++i) {
    int k = i;
    T p = d[i];
    for (int j = i + 1; j < N; ++j) {
      if (d[j] < p) {
        k = j;
        p = d[j];
      }
    }
    if (k != i) {
      d[k] = d[i];
      d[i] = p;
      for (int j = 0; j < N; ++j) std::swap(a[j][i], a[j][k]);
    }
  }
}

template void eigen_symmetric<float, 3>(float (&)[3][3], float (&)[3]);
template void eigen_symmetric<float, 6>(float (&)[6][6], float (&)[6]);
template void eigen_symmetric<double, 3>(double (&)[3][3], double (&)[3]);

}  // namespace kestrel::icp
