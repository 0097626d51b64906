#pragma once
// Binary PLY files whose items all have one size (no list property: the point clouds scanners
// write) are read straight from the file into the point records, block by block, at the speed
// of the disk. Other PLY files go through the general reader (ply_file.h), which accepts the
// same files and refuses the same ones with the same messages.

#include <string>

#include "core/point_set.h"

namespace kestrel::core {

enum class DirectRead {
  kDone,       // `points` holds the vertices
  kRefused,    // the file is bad: `error` says why, `points` is as it was
  kNotDirect,  // ASCII, a list property, or a header the general reader must judge
};

// The vertices' x, y, z of a binary PLY `file` with fixed-size items, converted as
// read_ply_file converts them (`exact` as there); vertices with a coordinate not finite as a
// float are skipped. `threads` (1 or 2) read halves of the vertices side by side; the points
// are the same either way.
DirectRead read_ply_direct(const std::string& file, PointSet& points, std::string& error,
                           bool exact, int threads);

}  // namespace kestrel::core
