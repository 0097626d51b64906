#include "app/distance_view.h"

#include <cstring>

namespace kestrel::app {

namespace {

bool same(const Matrix4& a, const Matrix4& b) {
  return std::memcmp(a.m, b.m, sizeof a.m) == 0;
}

}  // namespace

bool update_distance_view(DistanceView& view, ModelDrawing& p, ModelDrawing& q) {
  if (view.p_version == p.version && view.q_version == q.version && same(view.p_motion, p.motion) &&
      same(view.q_motion, q.motion))
    return false;
  view.p_version = p.version;
  view.q_version = q.version;
  view.p_motion = p.motion;
  view.q_motion = q.motion;
  ensure_point_normals(p);
  view.distances = surface_distances(p.points, p.index, p.normals, p.spacing, q.points,
                                     rigid_inverse(p.motion) * q.motion);
  view.colours.clear();
  view.colours.reserve(view.distances.distance.size() * 3);
  for (float d : view.distances.distance)
    for (float c : distance_colour(d, view.distances.top)) view.colours.push_back(c);
  return true;
}

}  // namespace kestrel::app
