#include "core/point_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>

#include "core/atomic_file.h"
#include "core/plain_floats.h"
#include "core/ply_file.h"
#include "core/point_formats.h"
#include "core/prepare_point_set.h"
#include "core/random15.h"

namespace kestrel::core {

namespace {

bool finite3(float a, float b, float c) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c);
}

// Lines hold at most 1022 characters; the buffer also takes the newline and the terminator. A
// longer line is skipped whole rather than split.
constexpr int kLineBuffer = 1024;

// Reads one line into `buf`; returns false at end of file. `too_long` is set when the line did
// not fit, in which case the rest of it has been consumed.
bool next_line(FILE* f, char* buf, bool& too_long) {
  if (!std::fgets(buf, kLineBuffer, f)) return false;
  too_long = false;
  const size_t n = std::strlen(buf);
  if (n > 0 && buf[n - 1] != '\n' && !std::feof(f)) {
    too_long = true;
    int ch;
    while ((ch = std::fgetc(f)) != EOF && ch != '\n') {
    }
  }
  return true;
}

// A face index of the file (1-based) as a 0-based index, truncated as the format says; -1 for
// a value no vertex can have, so the face is dropped with the other invalid ones. The range is
// checked before the conversion, which is undefined for values an int32_t cannot hold.
int32_t face_index(float number) {
  const float index = number - 1;
  if (!(index > -1.0f && index < 2147483648.0f)) return -1;
  return static_cast<int32_t>(index);
}

// The three numbers of "%f %f %f" at `text`: read quickly when the line is plain, else by
// sscanf, whose results the quick reading matches wherever it answers.
bool three_floats(const char* text, bool plain, float (&v)[3]) {
  if (plain) {
    const PlainScan scan = scan_plain_floats(text, v);
    if (scan != PlainScan::kUnsure) return scan == PlainScan::kThree;
  }
  return std::sscanf(text, "%f %f %f", &v[0], &v[1], &v[2]) == 3;
}

// The three numbers after two fields, as "%*s %*s %f %f %f %*s" reads them.
bool fields_then_floats(const char* line, bool plain, float (&v)[3]) {
  const char* rest = plain ? skip_plain_fields(line, 2) : nullptr;
  if (rest) return three_floats(rest, true, v);
  return std::sscanf(line, "%*s %*s %f %f %f %*s", &v[0], &v[1], &v[2]) == 3;
}

// `plain` says the locale lets the quick reading of numbers stand in for sscanf.
void parse_line(const char* line, PointReader reader, bool take_faces, bool plain, PointSet& points,
                FaceList& faces) {
  float v[3];
  switch (reader) {
    case PointReader::kObj: {
      // "%c %f %f %f": the first character is the kind, whatever it is; the numbers follow.
      const char kind = line[0];
      // An empty line, or a comment even when it holds three numbers.
      if (kind == '#' || kind == '\0') return;
      if (!three_floats(line + 1, plain, v) || !finite3(v[0], v[1], v[2])) return;
      if (kind == 'v')
        points.push_back(Point3D{v[0], v[1], v[2], 0, 0, 0});
      else if (take_faces)
        faces.push_back(Face{{face_index(v[0]), face_index(v[1]), face_index(v[2])}});
      return;
    }
    case PointReader::kXyz:
      if (three_floats(line, plain, v) && finite3(v[0], v[1], v[2]))
        points.push_back(Point3D{v[0], v[1], v[2], 0, 0, 0});
      return;
    case PointReader::kFields:
      if (fields_then_floats(line, plain, v) && finite3(v[0], v[1], v[2]))
        points.push_back(Point3D{v[0], v[1], v[2], 0, 0, 0});
      return;
    case PointReader::kPly:
      return;
  }
}

// Room for the points a scan of this size holds (lines of some 20 characters or more), so the set
// is not copied again and again as it grows. Capped, so a huge file of other text reserves
// little; pages never written are never given memory anyway.
void reserve_for_file(const std::string& file, PointSet& points) {
  constexpr uintmax_t kBytesPerPoint = 20, kMostReserved = uintmax_t{1} << 22;
  std::error_code ec;
  const uintmax_t bytes = std::filesystem::file_size(file, ec);
  if (!ec) points.reserve(static_cast<size_t>(std::min(bytes / kBytesPerPoint, kMostReserved)));
}

// Reads the line-oriented formats; false with the reason when no line gave a point. A name of
// no known format (`format` null) is still opened, so a missing file is named as missing.
bool read_text_file(const std::string& file, const PointFormat* format, bool take_faces,
                    PointSet& points, FaceList& faces, std::string& reason) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(file.c_str(), "r"), &std::fclose);
  if (!f) {
    reason = "cannot open the file for reading";
    return false;
  }
  if (!format) {
    reason =
        "unknown format (the name must end in " + joined_endings(FormatList::kAll, "", ", ") + ")";
    return false;
  }
  reserve_for_file(file, points);
  const bool plain = plain_decimal_locale();
  char line[kLineBuffer];
  bool too_long = false;
  while (next_line(f.get(), line, too_long)) {
    if (!too_long) parse_line(line, format->reader, take_faces, plain, points, faces);
  }
  if (!points.empty()) return true;
  reason = "no line holds a point";
  return false;
}

bool fail(std::string* error, const std::string& file, const std::string& reason) {
  if (error) *error = file + ": " + reason;
  return false;
}

void write_vertices(std::ostream& out, const PointSet& set) {
  for (const Point3D& p : set) out << "v " << p.x << " " << p.y << " " << p.z << "\n";
}

void write_faces(std::ostream& out, const FaceList& faces, long offset) {
  for (const Face& f : faces)
    out << "f " << f.v[0] + 1 + offset << " " << f.v[1] + 1 + offset << " " << f.v[2] + 1 + offset
        << "\n";
}

}  // namespace

bool parse_point_file(const std::string& file, PointSet& points, FaceList& faces, bool take_faces,
                      std::string* error) {
  // A folder opens on some systems and then reads as empty; name it for what it is.
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    return fail(error, file, "is a folder, not a point file");
  std::string reason;
  const PointFormat* format = point_format_of(file);
  if (format && format->reader == PointReader::kPly) {
    if (!read_ply_file(file, points, faces, take_faces, reason)) return fail(error, file, reason);
  } else if (!read_text_file(file, format, take_faces, points, faces, reason)) {
    return fail(error, file, reason);
  }
  return true;
}

bool read_point_set(const std::string& file, PointSet& set, FaceList& faces, bool centering,
                    int32_t& sample, float cut, float& cx, float& cy, float& cz, uint32_t isamp,
                    std::string* error) {
  srand15(0);  // also when the file cannot be read, as callers may rely on
  // Everything is built in temporaries and handed over only when the whole read succeeded.
  PointSet points;
  FaceList read_faces;
  if (!parse_point_file(file, points, read_faces, sample == 1, error)) return false;
  return prepare_point_set(file, std::move(points), std::move(read_faces), set, faces, centering,
                           sample, cut, cx, cy, cz, isamp, error);
}

bool write_obj(const PointSet& set, const std::string& file, const FaceList& faces,
               std::string* error) {
  return write_file_atomically(
      file,
      [&set, &faces](std::ostream& out) {
        write_vertices(out, set);
        write_faces(out, faces, 0);
      },
      error);
}

bool write_reconstruction(const PointSet& moving, const PointSet& reference,
                          const FaceList& reference_faces, const FaceList& moving_faces,
                          const std::string& path, std::string* error) {
  return write_file_atomically(
      path,
      [&](std::ostream& out) {
        write_vertices(out, reference);
        write_vertices(out, moving);
        write_faces(out, reference_faces, 0);
        write_faces(out, moving_faces, static_cast<long>(reference.size()));
      },
      error);
}

}  // namespace kestrel::core
