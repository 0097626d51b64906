#pragma once
// Small dense matrix of doubles stored column by column: element (r, c) is data[r + c * rows].
// Rotations are 3 x 3, the affine correction 4 x 4, a 3-vector 3 x 1.

#include <cassert>
#include <cstdint>
#include <vector>

namespace kestrel::core {

struct DenseMatrix {
  uint32_t rows = 0;
  uint32_t cols = 0;
  uint32_t count = 0;
  std::vector<double> data;

  DenseMatrix() = default;
  // Elements start at 0 (the caller sets every element it reads).
  DenseMatrix(uint32_t r, uint32_t c);

  double& operator()(uint32_t r, uint32_t c) {
    assert(r < rows && c < cols && "matrix index out of range");
    return data[r + c * rows];
  }
  double operator()(uint32_t r, uint32_t c) const {
    assert(r < rows && c < cols && "matrix index out of range");
    return data[r + c * rows];
  }
};

// A * B; A.cols must equal B.rows. The result is a fresh matrix, so `a = multiply(a, b)` is safe.
DenseMatrix multiply(const DenseMatrix& a, const DenseMatrix& b);
DenseMatrix transpose(const DenseMatrix& a);
DenseMatrix identity_matrix(uint32_t n);

// Determinant of a 3 x 3 array (rows m[r]) by expansion along the first row.
inline double det3(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

}  // namespace kestrel::core
