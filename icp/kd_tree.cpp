#include "icp/kd_tree.h"

#include <cmath>
#include <limits>
#include <utility>

#include "core/stop_check.h"
#include "icp/node_pool.h"

namespace kestrel::icp {

namespace {
constexpr int kLeafSize = 7;
}

// Either a leaf (npts > 0) or an inner node (npts == 0). A leaf of more than kLeafSize points
// only arises for points that cannot be split (all coincident); it keeps them on the heap.
struct KDnode {
  struct Inner {
    float center[3];
    float r;  // half the diagonal of the node's bounding box
    int splitaxis;
    KDnode* left;
    KDnode* right;
  };

  int npts = 0;
  union {
    const Vec3f* pts[kLeafSize];
    const Vec3f** many;
    Inner inner;
  };

  KDnode() : inner{} {}
  ~KDnode() {
    if (npts > kLeafSize) delete[] many;
  }
  const Vec3f* const* leaf_points() const { return npts > kLeafSize ? many : pts; }

  static void* operator new(std::size_t n);
  static void operator delete(void* p, std::size_t n);
};

namespace {

NodePool& node_pool() {
  // Never destroyed: its chunks stay with the process, as trees may be freed at exit.
  static NodePool* pool = new NodePool(sizeof(KDnode));
  return *pool;
}

KDnode* make_leaf(const Vec3f** refs, int n) {
  KDnode* node = new KDnode;
  node->npts = n;
  if (n > kLeafSize) {
    node->many = new const Vec3f*[static_cast<std::size_t>(n)];
    for (int i = 0; i < n; ++i) node->many[i] = refs[i];
  } else {
    for (int i = 0; i < n; ++i) node->pts[i] = refs[i];
  }
  return node;
}

// Moves the references with coordinate < splitval to the front; returns how many there are.
int partition(const Vec3f** refs, int n, int axis, float splitval) {
  int left = 0, right = n - 1;
  while (true) {
    while (left < n && (*refs[left])[axis] < splitval) ++left;
    while (right >= 0 && (*refs[right])[axis] >= splitval) --right;
    if (right < left) break;
    std::swap(refs[left], refs[right]);
    ++left;
    --right;
  }
  return left;
}

KDnode* build(const Vec3f** refs, int n, core::StopCheck& stopped) {
  if (n <= kLeafSize || stopped(n)) return make_leaf(refs, n);
  Vec3f lo = *refs[0], hi = *refs[0];
  for (int i = 1; i < n; ++i) {
    for (int a = 0; a < 3; ++a) {
      float c = (*refs[i])[a];
      if (c < lo[a]) lo[a] = c;
      if (c > hi[a]) hi[a] = c;
    }
  }
  Vec3f extent = hi - lo;
  // Coincident points cannot be split.
  if (extent.x == 0 && extent.y == 0 && extent.z == 0) return make_leaf(refs, n);

  int axis = 2;
  if (extent.x > extent.y) {
    if (extent.x > extent.z) axis = 0;
  } else if (extent.y > extent.z) {
    axis = 1;
  }
  Vec3f center = (lo + hi) * 0.5f;
  int nleft = partition(refs, n, axis, center[axis]);
  // Only a box one float step wide, whose centre rounds onto its minimum, can leave a side
  // empty; splitting further would never end.
  if (nleft == 0 || nleft == n) return make_leaf(refs, n);

  KDnode* node = new KDnode;
  node->npts = 0;
  node->inner.center[0] = center.x;
  node->inner.center[1] = center.y;
  node->inner.center[2] = center.z;
  node->inner.r = 0.5f * len(extent);
  node->inner.splitaxis = axis;
  node->inner.left = build(refs, nleft, stopped);
  node->inner.right = build(refs + nleft, n - nleft, stopped);
  return node;
}

void destroy(KDnode* node) {
  if (!node) return;
  if (node->npts == 0) {
    destroy(node->inner.left);
    destroy(node->inner.right);
  }
  delete node;
}

struct Query {
  Vec3f p;
  const KDtree::CompatFunc* compat = nullptr;
  const Vec3f* best = nullptr;
  float best_d2 = 0;
  float best_d = 0;
};

void visit(const KDnode* node, Query& q) {
  if (node->npts > 0) {
    const Vec3f* const* pts = node->leaf_points();
    for (int i = 0; i < node->npts; ++i) {
      float d2 = dist2(*pts[i], q.p);
      if (d2 < q.best_d2 && (!q.compat || (*q.compat)(pts[i]))) {
        q.best_d2 = d2;
        q.best_d = std::sqrt(d2);
        q.best = pts[i];
      }
    }
    return;
  }
  const KDnode::Inner& in = node->inner;
  Vec3f center(in.center[0], in.center[1], in.center[2]);
  float a = in.r + q.best_d;
  if (a * a <= dist2(q.p, center)) return;
  float d = in.center[in.splitaxis] - q.p[in.splitaxis];
  if (d >= 0) {
    visit(in.left, q);
    if (d < q.best_d) visit(in.right, q);
  } else {
    visit(in.right, q);
    if (-d < q.best_d) visit(in.left, q);
  }
}

// A k-nearest query: `found` holds at most k points sorted by squared distance; until it is
// full the bound is the query's limit. A point goes after those at its own distance, so among
// equal distances the point met first stays, as k closest_point queries with growing
// exclusions would choose. For the small k of a normal fit, shifting a short sorted list is
// cheaper than keeping a heap.
struct KQuery {
  struct Found {
    float d2;
    const Vec3f* point;
  };
  Vec3f p;
  int k = 0;
  int count = 0;
  Found* found = nullptr;  // room for k entries
  float bound_d2 = 0;      // the limit until k are found, then the k-th distance
  float bound_d = 0;       // its square root, for the node tests

  void insert(float d2, const Vec3f* point) {
    int i = count < k ? count++ : k - 1;
    for (; i > 0 && found[i - 1].d2 > d2; --i) found[i] = found[i - 1];
    found[i] = {d2, point};
    if (count == k) {
      bound_d2 = found[k - 1].d2;
      bound_d = std::sqrt(bound_d2);
    }
  }
};

void visit_k(const KDnode* node, KQuery& q) {
  if (node->npts > 0) {
    const Vec3f* const* pts = node->leaf_points();
    for (int i = 0; i < node->npts; ++i) {
      const float d2 = dist2(*pts[i], q.p);
      if (d2 < q.bound_d2) q.insert(d2, pts[i]);
    }
    return;
  }
  const KDnode::Inner& in = node->inner;
  Vec3f center(in.center[0], in.center[1], in.center[2]);
  float a = in.r + q.bound_d;
  if (a * a <= dist2(q.p, center)) return;
  float d = in.center[in.splitaxis] - q.p[in.splitaxis];
  if (d >= 0) {
    visit_k(in.left, q);
    if (d < q.bound_d) visit_k(in.right, q);
  } else {
    visit_k(in.right, q);
    if (-d < q.bound_d) visit_k(in.left, q);
  }
}

void collect_leaf_sizes(const KDnode* node, std::vector<int>& sizes) {
  if (node->npts > 0) {
    sizes.push_back(node->npts);
    return;
  }
  collect_leaf_sizes(node->inner.left, sizes);
  collect_leaf_sizes(node->inner.right, sizes);
}

}  // namespace

void* KDnode::operator new(std::size_t n) {
  return node_pool().alloc(n);
}
void KDnode::operator delete(void* p, std::size_t n) {
  node_pool().free(p, n);
}

KDtree::KDtree(const std::vector<Vec3f>& points, const std::function<bool()>& stop)
    : KDtree(points.data(), points.size(), stop) {}

KDtree::KDtree(const Vec3f* points, std::size_t n, const std::function<bool()>& stop) {
  if (n == 0) return;
  std::vector<const Vec3f*> refs(n);
  for (std::size_t i = 0; i < n; ++i) refs[i] = points + i;
  // A node's bounds and partition cost about one unit per point.
  core::StopCheck stopped(stop, core::StopCheck::kStride * 4);
  root_ = build(refs.data(), static_cast<int>(n), stopped);
}

KDtree::~KDtree() {
  destroy(root_);
}

const Vec3f* KDtree::closest_point(const Vec3f& p, float maxdist2, const CompatFunc* compat) const {
  if (!root_) return nullptr;
  Query q;
  q.p = p;
  q.compat = compat;
  if (maxdist2 > 0) {
    q.best_d2 = maxdist2;
  } else if (root_->npts == 0) {
    q.best_d2 = root_->inner.r * root_->inner.r;
  } else {
    q.best_d2 = std::numeric_limits<float>::infinity();
  }
  q.best_d = std::sqrt(q.best_d2);
  visit(root_, q);
  return q.best;
}

void KDtree::closest_points(const Vec3f& p, int k, std::vector<const Vec3f*>& out,
                            float maxdist2) const {
  out.clear();
  if (!root_ || k <= 0) return;
  constexpr int kOnStack = 16;
  KQuery::Found local[kOnStack];
  std::vector<KQuery::Found> more(k > kOnStack ? static_cast<size_t>(k) : 0);
  KQuery q;
  q.p = p;
  q.k = k;
  q.found = k > kOnStack ? more.data() : local;
  if (maxdist2 > 0) {
    q.bound_d2 = maxdist2;
  } else if (root_->npts == 0) {
    q.bound_d2 = root_->inner.r * root_->inner.r;
  } else {
    q.bound_d2 = std::numeric_limits<float>::infinity();
  }
  q.bound_d = std::sqrt(q.bound_d2);
  visit_k(root_, q);
  for (int i = 0; i < q.count; ++i) out.push_back(q.found[i].point);
}

std::vector<int> KDtree::leaf_sizes() const {
  std::vector<int> sizes;
  if (root_) collect_leaf_sizes(root_, sizes);
  return sizes;
}

}  // namespace kestrel::icp
