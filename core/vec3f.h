#pragma once
// Single-precision 3-vectors and boxes, for the ICP's mesh data and for the registration steps
// that deliberately round to float (triangle test, segment pairing, motion frames). All
// arithmetic stays in float, so results carry the rounding of the data they come from.

#include <cmath>

#include "core/point_set.h"

namespace kestrel::core {

// A position, a normal or a difference of positions.
struct Vec3f {
  float x = 0, y = 0, z = 0;

  constexpr Vec3f() = default;
  constexpr Vec3f(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  // Component by axis number: 0 = x, 1 = y, 2 = z.
  float operator[](int axis) const { return axis == 0 ? x : (axis == 1 ? y : z); }
  float& operator[](int axis) { return axis == 0 ? x : (axis == 1 ? y : z); }

  Vec3f& operator+=(const Vec3f& o) {
    x += o.x;
    y += o.y;
    z += o.z;
    return *this;
  }
  Vec3f& operator-=(const Vec3f& o) {
    x -= o.x;
    y -= o.y;
    z -= o.z;
    return *this;
  }
  Vec3f& operator*=(float s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
  }
  Vec3f& operator/=(float s) {
    x /= s;
    y /= s;
    z /= s;
    return *this;
  }
};

// Leaves and the neighbour predicate treat a vertex array as packed floats.
static_assert(sizeof(Vec3f) == 3 * sizeof(float), "Vec3f must be three packed floats");

inline Vec3f operator+(Vec3f a, const Vec3f& b) {
  return a += b;
}
inline Vec3f operator-(Vec3f a, const Vec3f& b) {
  return a -= b;
}
inline Vec3f operator-(const Vec3f& a) {
  return {-a.x, -a.y, -a.z};
}
inline Vec3f operator*(Vec3f a, float s) {
  return a *= s;
}
inline Vec3f operator*(float s, Vec3f a) {
  return a *= s;
}
inline Vec3f operator/(Vec3f a, float s) {
  return a /= s;
}
inline bool operator==(const Vec3f& a, const Vec3f& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}
inline bool operator!=(const Vec3f& a, const Vec3f& b) {
  return !(a == b);
}

inline float dot(const Vec3f& a, const Vec3f& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3f cross(const Vec3f& a, const Vec3f& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float len2(const Vec3f& a) {
  return dot(a, a);
}
inline float len(const Vec3f& a) {
  return std::sqrt(len2(a));
}
inline float dist2(const Vec3f& a, const Vec3f& b) {
  return len2(a - b);
}

// Scales `v` to unit length (length taken in float); a zero vector becomes (1, 0, 0).
inline void normalize(Vec3f& v) {
  float l = len(v);
  if (l == 0.0f) {
    v = Vec3f(1, 0, 0);
    return;
  }
  v /= l;
}

// A point's position rounded to float.
inline Vec3f to_vec3f(const Point3D& p) {
  return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
}

// Axis-aligned box: per-axis minimum and maximum.
struct Box3f {
  Vec3f min;
  Vec3f max;
};

}  // namespace kestrel::core
