#pragma once
// Where the shown Model Q stands relative to Q as it was loaded: the turns of "Random position",
// the motion of the last run and what moved Q after it (ICP). Key `o` exports the whole chain,
// so results.tfm carries Q's file to where the window shows Q.

#include "core/rigid_transform.h"

namespace kestrel::app {

// A row-major homogeneous 4 x 4 matrix; the default is the identity.
struct Matrix4 {
  double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

  bool is_identity() const;
};

// a * b: b acts first.
Matrix4 operator*(const Matrix4& a, const Matrix4& b);
Matrix4 translation_matrix(double x, double y, double z);
// p -> R (s (p - c)) + c + t as a matrix.
Matrix4 motion_matrix(const core::RigidTransform& motion);

// In working coordinates: shown Q = after * (run_applied ? current transform : I) * turns * Q as
// loaded. `turns` acts in Q's working frame, `after` in P's (where the shown Q lies).
struct QPlacement {
  Matrix4 turns;             // turns of Q's saved copies since the load
  bool run_applied = false;  // the shown Q is the saved Q moved by the current transform
  Matrix4 after;             // motions of the shown Q since then
};

// The shown Q went back to the saved copies (a run starts from them, P was loaded).
void place_at_saved(QPlacement& q);
// A run moved the shown Q to the saved Q moved by the current transform.
void place_by_run(QPlacement& q);
// Every copy of Q, saved and shown, was turned by the rotation `turn` (about the origin) while
// `current` was the current transform.
void place_after_turn(QPlacement& q, const Matrix4& turn, const core::RigidTransform& current);
// The shown Q alone was moved by `motion` (ICP).
void place_after_motion(QPlacement& q, const Matrix4& motion);

}  // namespace kestrel::app
