#pragma once
// Eigen-decomposition of a small symmetric matrix: Householder reduction to tridiagonal form
// with accumulated transformations, then the implicit QL method (the classic tred2/tql2 pair),
// then an ascending selection sort of the eigenvalues with their eigenvectors.

namespace kestrel::icp {

// On return the columns of `a` are unit eigenvectors (a[row][k] is component `row` of vector
// k) and `d` holds the matching eigenvalues in ascending order. Only the symmetric input is
// meaningful. Instantiated for <float, 3>, <float, 6> and <double, 3>.
template <typename T, int N>
void eigen_symmetric(T (&a)[N][N], T (&d)[N]);

}  // namespace kestrel::icp
