#pragma once
// Kd-tree over a vertex array for closest-point queries within a distance limit, optionally
// filtered by a predicate. Leaves hold up to 7 points; inner nodes split at the centre of their
// bounding box along its longest axis, and queries prune by the node's bounding sphere.
// The tree stores addresses into the caller's array, which must outlive it and stay unmoved.
// A built tree is immutable; queries are const and may run on several threads at once. Builds
// and destructions share one process-wide node pool and must not run concurrently.

#include <cstddef>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "icp/vec3f.h"

namespace kestrel::icp {

struct KDnode;

class KDtree {
 public:
  // Predicate over stored points: true when the point may be returned.
  struct CompatFunc {
    virtual bool operator()(const Vec3f* p) const = 0;
    virtual ~CompatFunc() = default;
  };

  // Builds over all of `points`. An empty array gives a tree that finds nothing. A `stop`
  // request (core/stop_check.h) ends the build early with a tree that answers right but slowly
  // (its last nodes are large leaves): a caller that stops should drop it.
  explicit KDtree(const std::vector<Vec3f>& points, const std::function<bool()>& stop = {});
  KDtree(const Vec3f* points, std::size_t n, const std::function<bool()>& stop = {});
  ~KDtree();
  KDtree(const KDtree&) = delete;
  KDtree& operator=(const KDtree&) = delete;

  // Closest accepted point strictly closer than sqrt(maxdist2), or nullptr. maxdist2 <= 0
  // means "within the tree's extent": the root's bounding-sphere radius squared, and no limit
  // at all when the whole tree is one leaf. On equal distances the point met first wins.
  const Vec3f* closest_point(const Vec3f& p, float maxdist2 = 0.0f,
                             const CompatFunc* compat = nullptr) const;

  // The k closest points strictly closer than sqrt(maxdist2) (maxdist2 <= 0 as above), nearest
  // first, into `out`; fewer when the tree holds fewer. One traversal instead of k queries.
  void closest_points(const Vec3f& p, int k, std::vector<const Vec3f*>& out,
                      float maxdist2 = 0.0f) const;

  // Point counts of the leaves, left to right (for inspecting the structure).
  std::vector<int> leaf_sizes() const;

 private:
  KDnode* root_ = nullptr;
};

// Accepts the points whose offset from `start`, counted in floats (3 x vertex index), is not
// in `offsets`. Both must outlive the predicate.
class NotInSet : public KDtree::CompatFunc {
 public:
  NotInSet(const Vec3f* start, const std::set<int>& offsets) : start_(start), offsets_(offsets) {}
  bool operator()(const Vec3f* p) const override {
    return offsets_.count(static_cast<int>(3 * (p - start_))) == 0;
  }

 private:
  const Vec3f* start_;
  const std::set<int>& offsets_;
};

}  // namespace kestrel::icp
