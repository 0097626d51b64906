#pragma once
// Reading point sets from the files that point_formats.h lists (line-oriented text and PLY),
// chosen by the name's ending, with centering, subsampling and a cut along x; writing point sets
// as OBJ text.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "core/face.h"
#include "core/point_set.h"

namespace kestrel::core {

// Reads `file` into `set` and `faces` (both replaced on success). Reseeds the 15-bit generator
// with 0 first. `sample` is in/out: 0 becomes |points| / isamp; above 1 keeps about one point in
// `sample`. `cut` > 0 drops points with x > cut, `cut` < 0 drops points with x < cut (after
// centering). cx, cy, cz receive the centroid of the points as read (before thinning).
// Returns false, with a message naming the file and the reason in `error`, when the file cannot
// be opened, holds no usable point, or cannot be triangulated after thinning; then `set`,
// `faces` and the centroid are left exactly as they were.
bool read_point_set(const std::string& file, PointSet& set, FaceList& faces, bool centering,
                    int32_t& sample, float cut, float& cx, float& cy, float& cz, uint32_t isamp,
                    std::string* error = nullptr);

// The parsing half of read_point_set: the points of `file` as they stand (and its faces when
// `take_faces`), nothing prepared. Lets a caller that needs the file twice read it once and
// hand the result to prepare_point_set (prepare_point_set.h). Numbers are read as floats, or
// exactly in double when a coordinate reaches kExactCoordinate (point_origin.h). A byte-order
// mark before the first line is skipped. False with a message naming the file in `error` when it
// cannot be read, or naming the file and the line when a number of a point goes on into other
// characters ("3.5D+02"), which would otherwise be read as a shorter number.
// Large files are read by `threads` (1 or 2) with the same result.
bool parse_point_file(const std::string& file, PointSet& points, FaceList& faces, bool take_faces,
                      std::string* error = nullptr, int threads = 1);

// Writes "v x y z" lines then "f a b c" lines (1-based), all or nothing (see atomic_file.h).
// False, with the reason in `error`, when the file cannot be written.
bool write_obj(const PointSet& set, const std::string& file, const FaceList& faces,
               std::string* error = nullptr);

// Writes `path` (the program writes "reconstruct.obj") holding the reference set's vertices,
// then the moving set's, then the reference faces, then the moving faces shifted past the
// reference vertices, so both meshes index one vertex list. All or nothing, as write_obj.
bool write_reconstruction(const PointSet& moving, const PointSet& reference,
                          const FaceList& reference_faces, const FaceList& moving_faces,
                          const std::string& path = "reconstruct.obj",
                          std::string* error = nullptr);

// The texts of write_obj and write_reconstruction, for a FileBatch (atomic_file.h) that writes
// several files at once; the sets must outlive the returned function.
std::function<void(std::ostream&)> obj_text(const PointSet& set, const FaceList& faces);
std::function<void(std::ostream&)> reconstruction_text(const PointSet& moving,
                                                       const PointSet& reference,
                                                       const FaceList& reference_faces,
                                                       const FaceList& moving_faces);

}  // namespace kestrel::core
