#pragma once
// Small dense eigen and rotation solves, done by Eigen (this file pair is its only user).

namespace kestrel::registration {

// Smallest eigenvalue of the symmetric 6 x 6 matrix `m` (row-major); 0 when it is not finite.
double smallest_eigenvalue6(const double m[36]);

// Unit eigenvector of the smallest eigenvalue of the symmetric 3 x 3 matrix given by its upper
// triangle (xx, xy, xz, yy, yz, zz). False when the matrix is not finite or has rank below 2
// (no plane), leaving `n` unset.
bool smallest_eigenvector(const double cov[6], double n[3]);

// Unit eigenvector of the largest eigenvalue of the symmetric 3 x 3 matrix given by its upper
// triangle. False when the matrix is not finite or zero.
bool largest_eigenvector(const double cov[6], double n[3]);

// The proper rotation R (row-major) that best maps the centred source points onto the centred
// target points, from their cross-covariance H = sum(src * tgt^T) (row-major), by SVD
// (Kabsch). False when H is not finite.
bool best_rotation(const double H[9], double R[9]);

// The rotation (row-major) by |w| radians about w; false when w is not finite.
bool rotation_by_vector(const double w[3], double R[9]);

// Solves the symmetric positive definite 6 x 6 system a x = b (a row-major). False when it is
// not finite or not positive definite (a direction the system leaves free), leaving `x` unset.
bool solve6(const double a[36], const double b[6], double x[6]);

}  // namespace kestrel::registration
