#pragma once
// Rigid motions of the assembly as 4 x 4 matrices (column vectors), and the few conversions it
// needs between them, the engine's motions and the records' row-major arrays.

#include <Eigen/Dense>
#include <array>

#include "assembly/assembly_records.h"
#include "core/rigid_transform.h"

namespace kestrel::assembly {

using Pose = Eigen::Matrix4d;

Pose pose_of(const core::RigidTransform& m);
Pose pose_of(const Matrix4& m);
Matrix4 matrix_of(const Pose& m);
core::RigidTransform transform_of(const Pose& m);

// The motion x -> x + t.
Pose translation(const std::array<double, 3>& t);
// The inverse of a rigid motion (rotation transposed).
Pose rigid_inverse(const Pose& m);
// The rotation angle of R_a^T R_b, in degrees.
double degrees_between(const Pose& a, const Pose& b);

}  // namespace kestrel::assembly
