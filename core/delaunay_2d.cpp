#include "core/delaunay_2d.h"

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrel::core {

namespace {
using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using VertexBase = CGAL::Triangulation_vertex_base_with_info_2<uint32_t, Kernel>;
using DataStructure =
    CGAL::Triangulation_data_structure_2<VertexBase, CGAL::Triangulation_face_base_2<Kernel>>;
using Delaunay = CGAL::Delaunay_triangulation_2<Kernel, DataStructure>;
using Point2 = Kernel::Point_2;

// Whether each point is the first (lowest index) at its x-y position. Sorting the indices by
// position and then index finds the firsts with a few allocations where a map would make one
// per point; positions compare as numbers, so -0 and 0 are one position. A NaN has no position
// (and would break the sort's order): its point is never first.
std::vector<bool> first_at_position(const PointSet& set) {
  std::vector<uint32_t> order;
  order.reserve(set.size());
  for (uint32_t i = 0; i < set.size(); ++i)
    if (!std::isnan(set[i].x) && !std::isnan(set[i].y)) order.push_back(i);
  const auto same = [&set](uint32_t a, uint32_t b) {
    return set[a].x == set[b].x && set[a].y == set[b].y;
  };
  std::sort(order.begin(), order.end(), [&set](uint32_t a, uint32_t b) {
    if (set[a].x != set[b].x) return set[a].x < set[b].x;
    if (set[a].y != set[b].y) return set[a].y < set[b].y;
    return a < b;
  });
  std::vector<bool> first(set.size(), false);
  for (size_t k = 0; k < order.size(); ++k)
    if (k == 0 || !same(order[k - 1], order[k])) first[order[k]] = true;
  return first;
}

}  // namespace

FaceList delaunay_2d(const PointSet& set) {
  // Keep only the first point of every x-y position, so a duplicate's index never reaches a face
  // whatever order the triangulation inserts its points in.
  const std::vector<bool> first = first_at_position(set);
  std::vector<std::pair<Point2, uint32_t>> input;
  input.reserve(set.size());
  for (uint32_t i = 0; i < set.size(); ++i)
    if (first[i]) input.emplace_back(Point2(set[i].x, set[i].y), i);

  FaceList faces;
  if (input.size() < 3) return faces;
  Delaunay dt;
  dt.insert(input.begin(), input.end());
  if (dt.dimension() < 2) return faces;
  faces.reserve(dt.number_of_faces());
  for (auto f = dt.finite_faces_begin(); f != dt.finite_faces_end(); ++f) {
    Face face;
    for (int k = 0; k < 3; ++k) face.v[k] = static_cast<int32_t>(f->vertex(k)->info());
    faces.push_back(face);
  }
  return faces;
}

}  // namespace kestrel::core
