#include "icp/normals.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/stop_check.h"
#include "icp/eigen_symmetric.h"
#include "icp/kd_tree.h"
#include "icp/mesh_log.h"
#include "icp/run_in_parts.h"

namespace kestrel::icp {

namespace {

constexpr int kMaxNeighbors = 12;
// A fit (a 13-point query and a 3 x 3 eigenproblem) costs about this many units of a
// core::StopCheck.
constexpr int64_t kFitWork = 64;
// Vertices short of neighbours are named one line each up to this many, then in one line.
constexpr size_t kNamedLonely = 3;

// Each corner gets the face normal (twice the area) weighted by the reciprocal of the product
// of the squared lengths of its two edges, which favours small, well-shaped corners.
void face_normals(TriMesh& mesh) {
  for (const Face& f : mesh.faces) {
    const Vec3f& p0 = mesh.vertices[static_cast<size_t>(f[0])];
    const Vec3f& p1 = mesh.vertices[static_cast<size_t>(f[1])];
    const Vec3f& p2 = mesh.vertices[static_cast<size_t>(f[2])];
    Vec3f a = p0 - p1, b = p1 - p2, c = p2 - p0;
    float la = len2(a), lb = len2(b), lc = len2(c);
    Vec3f fn = cross(a, b);
    mesh.normals[static_cast<size_t>(f[0])] += fn / (la * lc);
    mesh.normals[static_cast<size_t>(f[1])] += fn / (lb * la);
    mesh.normals[static_cast<size_t>(f[2])] += fn / (lc * lb);
  }
}

// The plane fit is taken about the vertex itself, not the neighbourhood's centroid, over its
// kMaxNeighbors closest other points, summed in index order. Fits vertices [first, last) and
// lists those with too few neighbours in `lonely`.
void fit_normals(const KDtree& tree, TriMesh& mesh, size_t first, size_t last,
                 std::vector<size_t>& lonely, const std::function<bool()>& stop) {
  const std::vector<Vec3f>& v = mesh.vertices;
  std::vector<const Vec3f*> found;
  std::vector<size_t> taken;
  found.reserve(kMaxNeighbors + 1);
  taken.reserve(kMaxNeighbors + 1);
  core::StopCheck stopped(stop);
  for (size_t i = first; i < last && !stopped(kFitWork); ++i) {
    // One more than needed, as the vertex itself (or a copy of it) is among the closest.
    tree.closest_points(v[i], kMaxNeighbors + 1, found);
    taken.clear();
    for (const Vec3f* q : found) {
      const auto j = static_cast<size_t>(q - v.data());
      if (j != i) taken.push_back(j);
    }
    if (taken.size() > static_cast<size_t>(kMaxNeighbors)) taken.resize(kMaxNeighbors);
    std::sort(taken.begin(), taken.end());
    if (taken.size() + 1 <= 3) {
      lonely.push_back(i);
      mesh.normals[i] = Vec3f(0, 0, 1);
      continue;
    }
    float c[3][3] = {};
    for (size_t j : taken) {
      Vec3f d = v[j] - v[i];
      for (int r = 0; r < 3; ++r) {
        for (int s = 0; s < 3; ++s) c[r][s] += d[r] * d[s];
      }
    }
    float eigenvalues[3];
    eigen_symmetric(c, eigenvalues);
    Vec3f n(c[0][0], c[1][0], c[2][0]);
    if (n.z < 0) n = -n;
    mesh.normals[i] = n;
  }
}

// The warnings for vertices short of neighbours: a line for each of a few, one line for many
// (a far point among a million would otherwise print a million lines).
void warn_lonely(const std::vector<std::vector<size_t>>& lonely) {
  std::vector<size_t> all;
  for (const std::vector<size_t>& part : lonely) all.insert(all.end(), part.begin(), part.end());
  if (all.size() <= kNamedLonely) {
    for (size_t i : all)
      std::printf("Warning: not enough points for vertex %d\n", static_cast<int>(i));
    return;
  }
  std::printf("Warning: not enough points for %zu vertices (vertex %zu, %zu, %zu, ...)\n",
              all.size(), all[0], all[1], all[2]);
}

// Each vertex's fit reads only the tree and the vertices and writes only its own normal, so
// runs of vertices may go to separate threads; the warnings wait for all of them to keep their
// order.
void point_cloud_normals(TriMesh& mesh, const KDtree& tree, int threads, int runs,
                         const std::function<bool()>& stop) {
  std::vector<std::vector<size_t>> lonely(static_cast<size_t>(std::max(runs, 1)));
  run_in_parts(mesh.vertices.size(), 1, runs, threads,
               [&tree, &mesh, &lonely, &stop](size_t part, size_t first, size_t last) {
                 fit_normals(tree, mesh, first, last, lonely[part], stop);
               });
  warn_lonely(lonely);
}

// `tree` may be null: a point cloud then gets a tree of its own for the fits.
void fill_normals(TriMesh& mesh, const KDtree* tree, int threads, int runs,
                  const std::function<bool()>& stop) {
  mesh_log("Computing normals... ");
  mesh.normals.assign(mesh.vertices.size(), Vec3f());
  if (!mesh.faces.empty()) {
    face_normals(mesh);
  } else if (tree) {
    point_cloud_normals(mesh, *tree, threads, runs, stop);
  } else {
    KDtree own(mesh.vertices, stop);
    point_cloud_normals(mesh, own, threads, runs, stop);
  }
  for (Vec3f& n : mesh.normals) normalize(n);
  mesh_log("Done.\n");
}

}  // namespace

void ensure_normals(TriMesh& mesh, int threads, int runs, const std::function<bool()>& stop) {
  if (mesh.normals.size() != mesh.vertices.size()) fill_normals(mesh, nullptr, threads, runs, stop);
}

void ensure_normals(TriMesh& mesh, const KDtree& tree, int threads, int runs,
                    const std::function<bool()>& stop) {
  if (mesh.normals.size() != mesh.vertices.size()) fill_normals(mesh, &tree, threads, runs, stop);
}

}  // namespace kestrel::icp
