# Prints "<rotation error in degrees> <displacement error in mm>" of a found motion against the
# ground truth of a scan pair: inv(W_P) * W_Q, from examples/gt_world. The displacement is taken
# at the centroid of Q's points. A uniform scale left by ICP is divided out of the rotation.
# Usage: awk -f motion_error.awk W_P.txt W_Q.txt FOUND_4x4_ROWS Q.vrt
FILENAME == ARGV[1] { for (c = 1; c <= 4; ++c) wp[FNR, c] = $c; next }
FILENAME == ARGV[2] { for (c = 1; c <= 4; ++c) wq[FNR, c] = $c; next }
FILENAME == ARGV[3] { for (c = 1; c <= 4; ++c) f[FNR, c] = $c; next }
NF >= 3 { sx += $1; sy += $2; sz += $3; ++n }
END {
  # inv(W_P) of a rigid motion: transposed rotation, translation -R^T t.
  for (r = 1; r <= 3; ++r) {
    for (c = 1; c <= 3; ++c) ip[r, c] = wp[c, r]
    ip[r, 4] = -(wp[1, r] * wp[1, 4] + wp[2, r] * wp[2, 4] + wp[3, r] * wp[3, 4])
  }
  for (r = 1; r <= 3; ++r)
    for (c = 1; c <= 4; ++c) {
      t[r, c] = (c == 4) ? ip[r, 4] : 0
      for (k = 1; k <= 3; ++k) t[r, c] += ip[r, k] * wq[k, c]
    }
  det = f[1,1] * (f[2,2] * f[3,3] - f[2,3] * f[3,2]) - f[1,2] * (f[2,1] * f[3,3] - f[2,3] * f[3,1]) \
      + f[1,3] * (f[2,1] * f[3,2] - f[2,2] * f[3,1])
  trace = 0
  for (r = 1; r <= 3; ++r) for (c = 1; c <= 3; ++c) trace += f[r, c] * t[r, c]
  scale = exp(log(det > 0 ? det : -det) / 3)
  cosine = (trace / scale - 1) / 2
  if (cosine > 1) cosine = 1
  if (cosine < -1) cosine = -1
  angle = atan2(sqrt(1 - cosine * cosine), cosine) * 180 / 3.14159265358979
  p[1] = sx / n; p[2] = sy / n; p[3] = sz / n
  d2 = 0
  for (r = 1; r <= 3; ++r) {
    e = f[r, 4] - t[r, 4]
    for (k = 1; k <= 3; ++k) e += (f[r, k] - t[r, k]) * p[k]
    d2 += e * e
  }
  printf "%.3f %.3f\n", angle, sqrt(d2)
}
