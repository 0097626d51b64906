#include "registration/ann_index.h"

#include <ANN/ANN.h>

#include <limits>

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

double AnnIndex::second_nearest_sq_dist(double x, double y, double z) const {
  if (!impl_) return std::numeric_limits<double>::infinity();
  return impl_->kth_sq_dist(x, y, z, 2);
}

}  // namespace kestrel::registration
