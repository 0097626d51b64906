#pragma once
// 4x4 transforms of the ICP in double precision, stored column by column: element (row r,
// column c) is m[r + 4c]; entries 12, 13, 14 hold the translation. A*B applies B first.

#include "icp/vec3f.h"

namespace kestrel::icp {

struct Xform {
  double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // identity

  double& operator()(int r, int c) { return m[r + 4 * c]; }
  double operator()(int r, int c) const { return m[r + 4 * c]; }
};

// Upper-left 3x3 block of the inverse, transposed: carries normals between frames.
struct NormalMatrix {
  double m[3][3];  // m[row][col]
};

Xform operator*(const Xform& a, const Xform& b);

// The point transformed in double precision, rounded to float.
Vec3f operator*(const Xform& xf, const Vec3f& p);

Xform xform_translation(double x, double y, double z);

// Rotation by `theta` radians about the axis (ax, ay, az) (need not be unit); a zero axis
// gives the identity.
Xform axis_rotation(double theta, double ax, double ay, double az);

// Inverse of a general 4x4 matrix by LU decomposition with partial pivoting. A singular matrix
// gives the identity and sets *ok to false.
Xform xform_inverse(const Xform& xf, bool* ok = nullptr);

// The same transform with its 3 x 3 part replaced by the nearest rotation (polar
// decomposition): rounding in many composed steps leaves a rigid transform slightly scaled or
// sheared. A singular 3 x 3 part is left as it is.
Xform nearest_rigid(const Xform& xf);

NormalMatrix normal_matrix(const Xform& xf);

// The normal carried by `nm`, not renormalised, rounded to float.
Vec3f operator*(const NormalMatrix& nm, const Vec3f& n);

}  // namespace kestrel::icp
