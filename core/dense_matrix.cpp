#include "core/dense_matrix.h"

#include <new>

namespace kestrel::core {

DenseMatrix::DenseMatrix(uint32_t r, uint32_t c) : rows(r), cols(c) {
  const uint64_t n = uint64_t{r} * c;
  // The element count times 8 must fit in 32 bits, as the stored byte size does.
  if (n * sizeof(double) > 0xFFFFFFFFull) throw std::bad_alloc();
  count = static_cast<uint32_t>(n);
  data.assign(count, 0.0);
}

DenseMatrix multiply(const DenseMatrix& a, const DenseMatrix& b) {
  assert(a.cols == b.rows && "matrix product needs A's columns equal to B's rows");
  DenseMatrix out(a.rows, b.cols);
  for (uint32_t i = 0; i < a.rows; ++i)
    for (uint32_t j = 0; j < b.cols; ++j) {
      double sum = 0;
      for (uint32_t k = 0; k < a.cols; ++k) sum += a(i, k) * b(k, j);
      out(i, j) = sum;
    }
  return out;
}

DenseMatrix transpose(const DenseMatrix& a) {
  DenseMatrix out(a.cols, a.rows);
  for (uint32_t i = 0; i < a.rows; ++i)
    for (uint32_t j = 0; j < a.cols; ++j) out(j, i) = a(i, j);
  return out;
}

DenseMatrix identity_matrix(uint32_t n) {
  DenseMatrix out(n, n);
  for (uint32_t i = 0; i < n; ++i) out(i, i) = 1.0;
  return out;
}

}  // namespace kestrel::core
