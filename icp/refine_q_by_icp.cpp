#include "icp/refine_q_by_icp.h"

#include <vector>

#include "core/stop_check.h"
#include "icp/icp_align.h"
#include "icp/kd_tree.h"
#include "icp/normals.h"
#include "icp/tri_mesh.h"

namespace kestrel::icp {

namespace {

// The normals' fits in this many runs (the same normals as in any other count): only this
// thread asks the stop, and none does while it waits for the helper's last run, so runs are
// kept short.
constexpr int kStopRuns = 64;

// Point positions rounded to float; the faces of the model are deliberately left out so that
// both meshes are point clouds.
Vec3f rounded(const kestrel::core::Point3D& p) {
  return Vec3f(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
}

// Every `stride`-th point, from the first.
TriMesh point_cloud(const kestrel::core::PointSet& points, size_t stride) {
  TriMesh mesh;
  mesh.vertices.reserve((points.size() + stride - 1) / stride);
  for (size_t i = 0; i < points.size(); i += stride) mesh.vertices.push_back(rounded(points[i]));
  return mesh;
}

size_t stride_for(size_t n, size_t most_points) {
  return most_points == 0 || n <= most_points ? 1 : (n + most_points - 1) / most_points;
}

// An empty reason when the model can be aligned.
std::string unusable(const char* name, const TriMesh& mesh) {
  if (mesh.vertices.empty())
    return std::string("ICP needs both models: Model ") + name + " is empty (load it first)";
  const Box3f& b = mesh.bbox;
  if (!(b.max.x > b.min.x || b.max.y > b.min.y || b.max.z > b.min.z)) {
    return std::string("ICP cannot align Model ") + name +
           ": all its points lie at one place (no extent)";
  }
  return {};
}

}  // namespace

IcpRefineResult refine_q_by_icp(const kestrel::core::PointSet& full_p,
                                kestrel::core::PointSet& full_q, int threads, bool allow_scale,
                                const std::function<bool()>& stop, size_t most_points) {
  IcpRefineResult result;
  // The normals' fits run on two threads; only this one may ask `stop` itself.
  core::SharedStop shared(stop);
  const std::function<bool()>& poll = shared.hook();
  TriMesh mesh1 = point_cloud(full_p, stride_for(full_p.size(), most_points));
  TriMesh mesh2 = point_cloud(full_q, stride_for(full_q.size(), most_points));
  compute_bbox(mesh1);
  compute_bbox(mesh2);
  for (const auto& [name, mesh] : {std::pair<const char*, const TriMesh*>{"P", &mesh1},
                                   std::pair<const char*, const TriMesh*>{"Q", &mesh2}}) {
    result.message = unusable(name, *mesh);
    if (!result.message.empty()) return result;
  }

  // The trees that find the normals' neighbours are the ones the ICP matches with. After a
  // stop nothing more is begun: a tree cut short answers right but slowly.
  const KDtree kd1(mesh1.vertices, poll);
  const KDtree kd2(mesh2.vertices, poll);
  Xform xf1, xf2;
  if (!shared.stopped()) ensure_normals(mesh1, kd1, threads, kStopRuns, poll);
  if (!shared.stopped()) ensure_normals(mesh2, kd2, threads, kStopRuns, poll);
  for (TriMesh* mesh : {&mesh1, &mesh2}) {
    if (!poll()) ensure_neighbors(*mesh);
    if (!poll()) ensure_vertex_faces(*mesh);
  }
  if (!poll()) {
    std::vector<float> weights1, weights2;
    result.error = icp_align_full(mesh1, mesh2, xf1, xf2, kd1, kd2, weights1, weights2, 0.0f, 0,
                                  allow_scale, false, threads, poll);
  }
  if (shared.stopped()) {
    result.stopped = true;
    result.message = "ICP stopped before it was done";
    result.error = -1.0f;
    return result;
  }
  if (!allow_scale) xf2 = nearest_rigid(xf2);
  result.ran = true;
  result.xf2 = xf2;

  for (kestrel::core::Point3D& q : full_q) {
    const Vec3f moved = xf2 * rounded(q);
    q.x = moved.x;
    q.y = moved.y;
    q.z = moved.z;
  }
  return result;
}

}  // namespace kestrel::icp
