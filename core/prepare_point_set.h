#pragma once
// The part of a model read that follows parsing: points from a file and points handed in from
// memory go through the same reconstruction, centering, thinning and cut.

#include <cstdint>
#include <string>

#include "core/face.h"
#include "core/point_set.h"

namespace kestrel::core {

// Turns parsed `points` and `faces` (both consumed) into a model set in `set` and `set_faces`,
// with the arguments and guarantees of read_point_set (point_file.h): faces naming a missing
// vertex are dropped, a set without faces is triangulated in the x-y plane, and so on. Reseeds
// the 15-bit generator with 0 first. Every message starts with `name` (a file name or a label).
// Without `want_faces` nothing is triangulated: `set_faces` holds only faces read from the file
// (none after thinning or a cut) and the points keep the normals they came with; the same
// inputs are refused.
bool prepare_point_set(const std::string& name, PointSet points, FaceList faces, PointSet& set,
                       FaceList& set_faces, bool centering, int32_t& sample, float cut, float& cx,
                       float& cy, float& cz, uint32_t isamp, std::string* error = nullptr,
                       bool want_faces = true);

// As prepare_point_set, but `points` stays the caller's: a set that is thinned or cut is drawn
// from it in place, and only a set kept whole is copied. Lets one parsed scan give both the full
// and the working set without a second copy of it.
bool prepare_point_set_from(const std::string& name, const PointSet& points, FaceList faces,
                            PointSet& set, FaceList& set_faces, bool centering, int32_t& sample,
                            float cut, float& cx, float& cy, float& cz, uint32_t isamp,
                            std::string* error = nullptr, bool want_faces = true);

}  // namespace kestrel::core
