#include "core/prepare_point_set.h"

#include <utility>

#include "core/planar_reconstruction.h"
#include "core/random15.h"

namespace kestrel::core {

namespace {

// Faces that name a vertex the set does not have would be read out of bounds later.
void drop_invalid_faces(FaceList& faces, size_t n) {
  FaceList kept;
  kept.reserve(faces.size());
  for (const Face& f : faces) {
    bool ok = true;
    for (int32_t v : f.v) ok = ok && v >= 0 && static_cast<size_t>(v) < n;
    if (ok) kept.push_back(f);
  }
  faces.swap(kept);
}

bool fail(std::string* error, const std::string& name, const std::string& reason) {
  if (error) *error = name + ": " + reason;
  return false;
}

// What a preparation is asked for, besides the points.
struct Request {
  const std::string& name;
  bool centering;
  int32_t sample;
  float cut;
};

// The thinned or cut set drawn from `points`, centred by (mx, my, mz) on the way: the same
// numbers as centring every point first, without touching `points`.
bool draw_kept(const PointSet& points, const Request& r, const double (&m)[3], PointSet& kept,
               std::string* error) {
  kept.clear();
  // Thinning keeps about one point in `sample`: room for that many, with a margin.
  kept.reserve(r.sample >= 2 ? points.size() / static_cast<size_t>(r.sample) * 2 + 16
                             : points.size());
  for (const Point3D& q : points) {
    Point3D p = q;
    if (r.centering) {
      p.x -= m[0];
      p.y -= m[1];
      p.z -= m[2];
    }
    if ((r.cut > 0 && p.x > r.cut) || (r.cut < 0 && p.x < r.cut)) continue;
    if (r.sample >= 2 && rand15() % r.sample != 0) continue;
    kept.push_back(p);
  }
  std::string reason;
  if (!can_triangulate(kept, &reason))
    return fail(error, r.name, reason + " after the cut and subsampling");
  return true;
}

// Both entries: `owned`, when given, is `points` itself and may be taken over whole.
bool prepare(const std::string& name, const PointSet& points, PointSet* owned, FaceList faces,
             PointSet& set, FaceList& set_faces, bool centering, int32_t& sample, float cut,
             float (&c)[3], uint32_t isamp, std::string* error, bool want_faces) {
  srand15(0);
  std::string reason;
  drop_invalid_faces(faces, points.size());
  int32_t new_sample = sample;
  if (new_sample == 0) new_sample = static_cast<int32_t>(points.size() / (isamp > 0 ? isamp : 1));
  // Thinning or a cut triangulates the kept points afresh (normals included), so the whole set
  // is only triangulated when it is kept whole.
  const bool rebuilt = new_sample > 1 || cut != 0;
  if (faces.empty() && !can_triangulate(points, &reason)) return fail(error, name, reason);

  double sx = 0, sy = 0, sz = 0;
  for (const Point3D& p : points) {
    sx += p.x;
    sy += p.y;
    sz += p.z;
  }
  const double n = static_cast<double>(points.size());
  const float mean[3] = {static_cast<float>(sx / n), static_cast<float>(sy / n),
                         static_cast<float>(sz / n)};
  const double m[3] = {mean[0], mean[1], mean[2]};
  PointSet kept;
  if (rebuilt) {
    if (!draw_kept(points, {name, centering, new_sample, cut}, m, kept, error)) return false;
    faces.clear();
  } else {
    // Two statements, not a conditional: that would be a const value, copied whole, not moved.
    if (owned)
      kept = std::move(*owned);
    else
      kept = points;
    // A set kept whole is triangulated as read, before centring, as it always was.
    if (want_faces && faces.empty()) reconstruct_planar(kept, faces);
    if (centering)
      for (Point3D& p : kept) {
        p.x -= m[0];
        p.y -= m[1];
        p.z -= m[2];
      }
  }
  if (rebuilt && want_faces) reconstruct_planar(kept, faces);
  set.swap(kept);
  set_faces.swap(faces);
  sample = new_sample;
  for (int k = 0; k < 3; ++k) c[k] = mean[k];
  return true;
}

}  // namespace

bool prepare_point_set(const std::string& name, PointSet points, FaceList faces, PointSet& set,
                       FaceList& set_faces, bool centering, int32_t& sample, float cut, float& cx,
                       float& cy, float& cz, uint32_t isamp, std::string* error, bool want_faces) {
  float c[3];
  if (!prepare(name, points, &points, std::move(faces), set, set_faces, centering, sample, cut, c,
               isamp, error, want_faces))
    return false;
  cx = c[0], cy = c[1], cz = c[2];
  return true;
}

bool prepare_point_set_from(const std::string& name, const PointSet& points, FaceList faces,
                            PointSet& set, FaceList& set_faces, bool centering, int32_t& sample,
                            float cut, float& cx, float& cy, float& cz, uint32_t isamp,
                            std::string* error, bool want_faces) {
  float c[3];
  if (!prepare(name, points, nullptr, std::move(faces), set, set_faces, centering, sample, cut, c,
               isamp, error, want_faces))
    return false;
  cx = c[0], cy = c[1], cz = c[2];
  return true;
}

}  // namespace kestrel::core
