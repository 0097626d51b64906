#include "registration/congruent/ann_index.h"

#include <ANN/ANN.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace kestrel::registration {

namespace {
constexpr int kDim = 3;
constexpr int kBucketSize = 1;
// Every query is exact.
constexpr double kErrorBound = 0.0;
}  // namespace

struct AnnIndex::Impl {
  ANNpointArray points = nullptr;
  ANNkd_tree* tree = nullptr;
  int count = 0;

  ~Impl() { release(); }
  void release() {
    delete tree;
    tree = nullptr;
    if (points != nullptr) annDeallocPts(points);
    points = nullptr;
    count = 0;
  }

  // Squared distance of the k-th nearest stored point (k = 1 or 2); infinity when fewer than k
  // points are stored, which ANN itself would treat as a fatal error.
  double kth_sq_dist(double x, double y, double z, int k) const {
    if (tree == nullptr || count < k) return std::numeric_limits<double>::infinity();
    ANNcoord query[kDim] = {x, y, z};
    ANNidx idx[2];
    ANNdist dist[2];
    tree->annkSearch(query, k, idx, dist, kErrorBound);
    return dist[k - 1];
  }
};

AnnIndex::AnnIndex() : impl_(std::make_unique<Impl>()) {}
AnnIndex::~AnnIndex() = default;
AnnIndex::AnnIndex(AnnIndex&&) noexcept = default;
AnnIndex& AnnIndex::operator=(AnnIndex&&) noexcept = default;

void AnnIndex::build(const core::PointSet& set) {
  if (!impl_) impl_ = std::make_unique<Impl>();
  impl_->release();
  if (set.empty()) return;
  const int n = static_cast<int>(set.size());
  impl_->points = annAllocPts(n, kDim);
  for (int i = 0; i < n; ++i) {
    impl_->points[i][0] = set[i].x;
    impl_->points[i][1] = set[i].y;
    impl_->points[i][2] = set[i].z;
  }
  impl_->tree = new ANNkd_tree(impl_->points, n, kDim, kBucketSize, ANN_KD_SUGGEST);
  impl_->count = n;
}

bool AnnIndex::empty() const {
  return !impl_ || impl_->count == 0;
}

size_t AnnIndex::size() const {
  return impl_ ? static_cast<size_t>(impl_->count) : 0;
}

double AnnIndex::nearest_sq_dist(double x, double y, double z) const {
  if (!impl_) return std::numeric_limits<double>::infinity();
  return impl_->kth_sq_dist(x, y, z, 1);
}

int AnnIndex::nearest(double x, double y, double z, double& sq_dist) const {
  sq_dist = std::numeric_limits<double>::infinity();
  if (!impl_ || impl_->tree == nullptr) return -1;
  ANNcoord query[kDim] = {x, y, z};
  ANNidx idx = -1;
  ANNdist dist = 0;
  impl_->tree->annkSearch(query, 1, &idx, &dist, kErrorBound);
  sq_dist = dist;
  return idx;
}

void AnnIndex::nearest_k(double x, double y, double z, int k, std::vector<int>& out) const {
  out.clear();
  if (!impl_ || impl_->tree == nullptr) return;
  k = std::min(k, impl_->count);
  if (k <= 0) return;
  ANNcoord query[kDim] = {x, y, z};
  out.resize(static_cast<size_t>(k));
  std::vector<ANNdist> dist(static_cast<size_t>(k));
  impl_->tree->annkSearch(query, k, out.data(), dist.data(), kErrorBound);
}

double AnnIndex::second_nearest_sq_dist(double x, double y, double z) const {
  if (!impl_) return std::numeric_limits<double>::infinity();
  return impl_->kth_sq_dist(x, y, z, 2);
}

struct RadiusIndex::Impl {
  int count = 0;
  ANNpointArray points = nullptr;
  ANNkd_tree* tree = nullptr;
  ANNpoint query = nullptr;
  std::vector<ANNidx> idx;
  std::vector<ANNdist> dist;
  std::vector<int> hits;

  ~Impl() {
    delete tree;
    if (points != nullptr) annDeallocPts(points);
    if (query != nullptr) annDeallocPt(query);
  }
};

RadiusIndex::RadiusIndex(const std::vector<std::array<double, 3>>& points)
    : impl_(std::make_unique<Impl>()) {
  Impl& im = *impl_;
  im.count = static_cast<int>(points.size());
  if (im.count == 0) return;
  im.points = annAllocPts(im.count, kDim);
  for (int i = 0; i < im.count; ++i)
    for (int k = 0; k < kDim; ++k) im.points[i][k] = points[static_cast<size_t>(i)][k];
  im.tree = new ANNkd_tree(im.points, im.count, kDim, kBucketSize, ANN_KD_SUGGEST);
  im.query = annAllocPt(kDim);
  im.idx.resize(static_cast<size_t>(im.count));
  im.dist.resize(static_cast<size_t>(im.count));
  im.hits.reserve(static_cast<size_t>(im.count));
}

RadiusIndex::~RadiusIndex() = default;

const std::vector<int>& RadiusIndex::search(double x, double y, double z, double sq_radius) {
  Impl& im = *impl_;
  im.hits.clear();
  if (im.tree == nullptr) return im.hits;
  im.query[0] = x;
  im.query[1] = y;
  im.query[2] = z;
  // Count first, then fetch exactly that many: the library fills every requested slot, so
  // asking for all stored points would cost O(n) per query however few points are in range.
  const int in_range = im.tree->annkFRSearch(im.query, sq_radius, 0, nullptr, nullptr, kErrorBound);
  if (in_range == 0) return im.hits;
  const int k = in_range < im.count ? in_range : im.count;
  im.tree->annkFRSearch(im.query, sq_radius, k, im.idx.data(), im.dist.data(), kErrorBound);
  for (int i = 0; i < k; ++i) {
    if (im.dist[static_cast<size_t>(i)] == ANN_DIST_INF) break;
    im.hits.push_back(im.idx[static_cast<size_t>(i)]);
  }
  return im.hits;
}

}  // namespace kestrel::registration
