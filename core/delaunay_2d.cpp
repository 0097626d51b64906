#include "core/delaunay_2d.h"

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <cstdint>
#include <map>
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
}  // namespace

FaceList delaunay_2d(const PointSet& set) {
  // Keep only the first point of every x-y position, so a duplicate's index never reaches a face
  // whatever order the triangulation inserts its points in.
  std::map<std::pair<double, double>, uint32_t> first_at;
  std::vector<std::pair<Point2, uint32_t>> input;
  input.reserve(set.size());
  for (uint32_t i = 0; i < set.size(); ++i) {
    if (first_at.emplace(std::make_pair(set[i].x, set[i].y), i).second)
      input.emplace_back(Point2(set[i].x, set[i].y), i);
  }

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
