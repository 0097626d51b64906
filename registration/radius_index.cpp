#include "registration/radius_index.h"

#include <ANN/ANN.h>

namespace kestrel::registration {

namespace {
constexpr int kDim = 3;
constexpr int kBucketSize = 1;
constexpr double kErrorBound = 0.0;
}  // namespace

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
