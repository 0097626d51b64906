#include "core/prepare_point_set.h"

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

}  // namespace

bool prepare_point_set(const std::string& name, PointSet points, FaceList faces, PointSet& set,
                       FaceList& set_faces, bool centering, int32_t& sample, float cut, float& cx,
                       float& cy, float& cz, uint32_t isamp, std::string* error,
                       bool want_faces) {
  srand15(0);
  std::string reason;
  drop_invalid_faces(faces, points.size());
  int32_t new_sample = sample;
  if (new_sample == 0) new_sample = static_cast<int32_t>(points.size() / (isamp > 0 ? isamp : 1));
  // Thinning or a cut triangulates the kept points afresh (normals included), so the whole set
  // is only triangulated when it is kept whole.
  const bool rebuilt = new_sample > 1 || cut != 0;
  if (faces.empty()) {
    if (!can_triangulate(points, &reason)) return fail(error, name, reason);
    if (!rebuilt && want_faces) reconstruct_planar(points, faces);
  }

  double sx = 0, sy = 0, sz = 0;
  for (const Point3D& p : points) {
    sx += p.x;
    sy += p.y;
    sz += p.z;
  }
  const double n = static_cast<double>(points.size());
  const float mx = static_cast<float>(sx / n), my = static_cast<float>(sy / n),
              mz = static_cast<float>(sz / n);
  if (centering) {
    for (Point3D& p : points) {
      p.x -= mx;
      p.y -= my;
      p.z -= mz;
    }
  }

  if (rebuilt) {
    PointSet kept;
    kept.reserve(points.size());
    for (const Point3D& p : points) {
      if ((cut > 0 && p.x > cut) || (cut < 0 && p.x < cut)) continue;
      if (new_sample >= 2 && rand15() % new_sample != 0) continue;
      kept.push_back(p);
    }
    if (!can_triangulate(kept, &reason))
      return fail(error, name, reason + " after the cut and subsampling");
    points.swap(kept);
    faces.clear();
    if (want_faces) reconstruct_planar(points, faces);
  }

  set.swap(points);
  set_faces.swap(faces);
  sample = new_sample;
  cx = mx;
  cy = my;
  cz = mz;
  return true;
}

}  // namespace kestrel::core
