#include "app/q_placement.h"

namespace kestrel::app {

namespace {

// The inverse of a rotation about the origin: its transpose.
Matrix4 rotation_inverse(const Matrix4& r) {
  Matrix4 out;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) out.m[i][k] = r.m[k][i];
  return out;
}

}  // namespace

bool Matrix4::is_identity() const {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (m[r][c] != (r == c ? 1.0 : 0.0)) return false;
  return true;
}

Matrix4 operator*(const Matrix4& a, const Matrix4& b) {
  Matrix4 out;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      double sum = 0;
      for (int k = 0; k < 4; ++k) sum += a.m[r][k] * b.m[k][c];
      out.m[r][c] = sum;
    }
  return out;
}

Matrix4 translation_matrix(double x, double y, double z) {
  Matrix4 out;
  out.m[0][3] = x;
  out.m[1][3] = y;
  out.m[2][3] = z;
  return out;
}

Matrix4 motion_matrix(const core::RigidTransform& motion) {
  Matrix4 out;
  for (int r = 0; r < 3; ++r) {
    const auto row = static_cast<uint32_t>(r);
    double moved_centre = 0;
    for (uint32_t c = 0; c < 3; ++c) {
      out.m[r][c] = motion.R(row, c) * motion.s;
      moved_centre += out.m[r][c] * motion.c[c];
    }
    out.m[r][3] = motion.c[r] + motion.t[r] - moved_centre;
  }
  return out;
}

void place_at_saved(QPlacement& q) {
  q.run_applied = false;
  q.after = Matrix4();
}

void place_by_run(QPlacement& q) {
  q.run_applied = true;
  q.after = Matrix4();
}

void place_after_turn(QPlacement& q, const Matrix4& turn, const core::RigidTransform& current) {
  const Matrix4 turns = turn * q.turns;
  if (!q.run_applied && q.after.is_identity()) {
    // The common case stays exact: Q shown as saved, and both turned alike.
    q.turns = turns;
    return;
  }
  // The saved copies now start from `turns`; what the shown Q did beyond them moves into `after`,
  // since the turn also replaces the current transform.
  const Matrix4 run = q.run_applied ? motion_matrix(current) : Matrix4();
  const Matrix4 shown = turn * q.after * run * q.turns;
  q.after = shown * rotation_inverse(turns);
  q.turns = turns;
  q.run_applied = false;
}

void place_after_motion(QPlacement& q, const Matrix4& motion) {
  q.after = motion * q.after;
}

}  // namespace kestrel::app
