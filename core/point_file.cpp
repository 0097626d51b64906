#include "core/point_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

#include "core/atomic_file.h"
#include "core/plain_floats.h"
#include "core/ply_file.h"
#include "core/point_formats.h"
#include "core/point_origin.h"
#include "core/prepare_point_set.h"
#include "core/random15.h"
#include "core/side_by_side.h"

namespace kestrel::core {

namespace {

// A coordinate is kept when it is finite as a float, in either reading, so that both readings
// keep the same lines.
template <typename T>
bool finite3(const T (&v)[3]) {
  return std::isfinite(static_cast<float>(v[0])) && std::isfinite(static_cast<float>(v[1])) &&
         std::isfinite(static_cast<float>(v[2]));
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

// What the numbers of a line gave. kBad: a number went on into other characters ("3.5D+02"),
// which "%f" would have read as a shorter number.
enum class Numbers { kThree, kNone, kBad };

bool scanf_three(const char* text, float (&v)[3]) {
  return std::sscanf(text, "%f %f %f", &v[0], &v[1], &v[2]) == 3;
}

bool scanf_three(const char* text, double (&v)[3]) {
  return std::sscanf(text, "%lf %lf %lf", &v[0], &v[1], &v[2]) == 3;
}

// The three numbers of "%f %f %f" at `text`: read quickly when the line is plain, else by
// sscanf, whose results the quick reading matches wherever it answers. Only `strict` lines
// (points) are checked for numbers with trailing characters: a face "f 1/1 2/2 3/3" is skipped.
template <typename T>
Numbers three_numbers(const char* text, bool plain, bool strict, T (&v)[3]) {
  if (plain) {
    const PlainScan scan = scan_plain_floats(text, v);
    if (scan == PlainScan::kThree) return Numbers::kThree;
    if (scan == PlainScan::kNone) return Numbers::kNone;
  }
  if (strict && number_with_trailing_characters(text, 3)) return Numbers::kBad;
  return scanf_three(text, v) ? Numbers::kThree : Numbers::kNone;
}

// The three numbers after two fields, as "%*s %*s %f %f %f %*s" reads them.
template <typename T>
Numbers fields_then_numbers(const char* line, bool plain, T (&v)[3]) {
  const char* rest = plain ? skip_plain_fields(line, 2) : nullptr;
  if (!rest) {
    int at = -1;
    std::sscanf(line, "%*s %*s%n", &at);
    if (at < 0) return Numbers::kNone;
    rest = line + at;
  }
  return three_numbers(rest, plain, true, v);
}

// Appends what one line holds. `plain` says the locale lets the quick reading of numbers stand
// in for sscanf; T is float, or double for a file read exactly (point_file.h).
template <typename T>
Numbers parse_line(const char* line, PointReader reader, bool take_faces, bool plain,
                   PointSet& points, FaceList& faces) {
  T v[3];
  Numbers got = Numbers::kNone;
  switch (reader) {
    case PointReader::kObj: {
      // "%c %f %f %f": the first character is the kind, whatever it is; the numbers follow.
      const char kind = line[0];
      // An empty line, or a comment even when it holds three numbers.
      if (kind == '#' || kind == '\0') return Numbers::kNone;
      if (kind != 'v') {
        float f[3];
        if (take_faces && three_numbers(line + 1, plain, false, f) == Numbers::kThree && finite3(f))
          faces.push_back(Face{{face_index(f[0]), face_index(f[1]), face_index(f[2])}});
        return Numbers::kNone;
      }
      got = three_numbers(line + 1, plain, true, v);
      break;
    }
    case PointReader::kXyz:
      got = three_numbers(line, plain, true, v);
      break;
    case PointReader::kFields:
      got = fields_then_numbers(line, plain, v);
      break;
    case PointReader::kPly:
      return Numbers::kNone;
  }
  if (got == Numbers::kThree && finite3(v))
    points.push_back(Point3D{static_cast<double>(v[0]), static_cast<double>(v[1]),
                             static_cast<double>(v[2]), 0, 0, 0});
  return got;
}

// The field a message quotes: up to the next blank, at most 40 characters.
std::string quoted_field(const char* at) {
  size_t n = 0;
  while (at[n] && !std::isspace(static_cast<unsigned char>(at[n])) && n < 40) ++n;
  return "\"" + std::string(at, n) + "\"";
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

// The first field of `line` that parse_line refused as a bad number.
const char* bad_field(const char* line, PointReader reader) {
  if (reader == PointReader::kObj) return number_with_trailing_characters(line + 1, 3);
  if (reader == PointReader::kXyz) return number_with_trailing_characters(line, 3);
  int at = -1;
  std::sscanf(line, "%*s %*s%n", &at);
  return at < 0 ? nullptr : number_with_trailing_characters(line + at, 3);
}

// A UTF-8 byte-order mark, which some editors put before the first line.
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// ---- large text files --------------------------------------------------------------------
// Read in windows of whole lines; each window's lines are parsed in two halves side by side and
// appended in file order, so the points, faces and messages are those of the line-by-line read.

// Smaller files are read line by line; a window holds this many bytes.
constexpr uintmax_t kChunkedFromBytes = uintmax_t{8} << 20;
constexpr size_t kWindowBytes = size_t{16} << 20;

// What the lines of one half window gave; `bad_line` (counted from 1 within the half) and
// `reason` name the first line with a bad number.
struct LinesParsed {
  PointSet points;
  FaceList faces;
  long lines = 0;
  long bad_line = 0;
  std::string reason;
};

// The complete lines of [begin, end), as next_line and parse_line take them: a line of 1023
// characters or more is skipped; the byte-order mark counts only on the file's first line.
template <typename T>
void parse_lines(const char* begin, const char* end, bool file_start, PointReader reader,
                 bool take_faces, bool plain, LinesParsed& out) {
  char line[kLineBuffer];
  for (const char* p = begin; p < end;) {
    const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* stop = nl ? nl + 1 : end;
    const auto content = static_cast<size_t>((nl ? nl : end) - p);
    ++out.lines;
    if (content < kLineBuffer - 1) {
      const auto bytes = static_cast<size_t>(stop - p);
      std::memcpy(line, p, bytes);
      line[bytes] = '\0';
      const bool mark = file_start && out.lines == 1 && std::strncmp(line, kByteOrderMark, 3) == 0;
      const char* text = line + (mark ? 3 : 0);
      if (parse_line<T>(text, reader, take_faces, plain, out.points, out.faces) == Numbers::kBad) {
        out.bad_line = out.lines;
        out.reason = quoted_field(bad_field(text, reader)) +
                     " is not a number (a number must end at a blank or the line's end)";
        return;
      }
    }
    p = stop;
  }
}

// The state of a windowed read between windows.
struct WindowRead {
  long lines = 0;             // lines before the current window
  bool in_long_line = false;  // the window starts inside a line too long to keep
  std::string carry;          // the last, unfinished line of the previous window
  LinesParsed half[2];        // what each half of the current window gave
};

// Room for a half window's points: a point's line of three numbers takes at least this many
// bytes in the files the windows are for (shorter lines only cost a copy as the room grows).
constexpr size_t kLeastLineBytes = 16;

// Parses one window's complete lines [begin, end) in two halves; false with `where` and
// `reason` at a bad number.
template <typename T>
bool parse_window(const char* begin, const char* end, const PointFormat& format, bool take_faces,
                  bool plain, int threads, WindowRead& state, PointSet& points, FaceList& faces,
                  std::string& where, std::string& reason) {
  const char* mid = begin + (end - begin) / 2;
  const auto* nl = static_cast<const char*>(std::memchr(mid, '\n', static_cast<size_t>(end - mid)));
  mid = nl ? nl + 1 : end;
  // The halves' points keep their room from window to window: fresh room for every window
  // would be cleared by the system page by page, and grown by copies.
  LinesParsed (&half)[2] = state.half;
  for (LinesParsed& h : half) {
    h.points.clear();
    h.faces.clear();
    h.lines = h.bad_line = 0;
    h.points.reserve(static_cast<size_t>(end - begin) / (2 * kLeastLineBytes) + 16);
  }
  const bool file_start = state.lines == 0;
  side_by_side(
      threads,
      [&] { parse_lines<T>(begin, mid, file_start, format.reader, take_faces, plain, half[0]); },
      [&] { parse_lines<T>(mid, end, false, format.reader, take_faces, plain, half[1]); });
  for (LinesParsed& h : half) {
    if (h.bad_line > 0) {
      where = ": line " + std::to_string(state.lines + h.bad_line);
      reason = h.reason;
      return false;
    }
    for (Face& f : h.faces) faces.push_back(f);
    points.insert(points.end(), h.points.begin(), h.points.end());
    state.lines += h.lines;
  }
  return true;
}

// The windowed read of a large text file. `unsure` is set, with nothing read, when the file
// holds a NUL byte, which only the line-by-line read takes as it always has.
template <typename T>
bool read_text_windows(FILE* f, uintmax_t size, const PointFormat& format, bool take_faces,
                       int threads, PointSet& points, FaceList& faces, std::string& where,
                       std::string& reason, bool& unsure) {
  const bool plain = plain_decimal_locale();
  WindowRead state;
  std::vector<char> buffer;
  uintmax_t consumed = 0;
  for (bool eof = false; !eof;) {
    buffer.assign(state.carry.begin(), state.carry.end());
    const size_t kept = buffer.size();
    buffer.resize(kept + kWindowBytes);
    const size_t got = std::fread(buffer.data() + kept, 1, kWindowBytes, f);
    buffer.resize(kept + got);
    eof = got < kWindowBytes;
    consumed += got;
    if (std::memchr(buffer.data(), '\0', buffer.size())) return unsure = true, false;
    const char* begin = buffer.data();
    const char* end = begin + buffer.size();
    if (state.in_long_line) {
      const auto* nl = static_cast<const char*>(std::memchr(begin, '\n', buffer.size()));
      if (!nl && !eof) continue;
      state.in_long_line = false;
      ++state.lines;
      begin = nl ? nl + 1 : end;
    }
    const char* last = end;
    while (!eof && last > begin && last[-1] != '\n') --last;
    if (!eof && last == begin && end - begin >= kLineBuffer) {
      state.in_long_line = true;  // no line ends here: it is far too long to keep
      state.carry.clear();
      continue;
    }
    if (!parse_window<T>(begin, last, format, take_faces, plain, threads, state, points, faces,
                         where, reason))
      return false;
    state.carry.assign(last, end);
    // Room for the rest at the rate seen so far, so the points are not copied again and again.
    if (consumed > 0 && points.capacity() < points.size() * 2) {
      const double share = static_cast<double>(size) / static_cast<double>(consumed);
      points.reserve(static_cast<size_t>(static_cast<double>(points.size()) * share * 1.02) + 16);
    }
  }
  if (!points.empty()) return true;
  reason = "no line holds a point";
  return false;
}

// Reads the line-oriented formats; false with the reason when no line gave a point or a line
// holds a bad number (`where` then names the line). A name of no known format (`format` null)
// is still opened, so a missing file is named as missing.
template <typename T>
bool read_text_file(const std::string& file, const PointFormat* format, bool take_faces,
                    int threads, PointSet& points, FaceList& faces, std::string& where,
                    std::string& reason) {
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
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(file, ec);
  if (!ec && size >= kChunkedFromBytes) {
    bool unsure = false;
    if (read_text_windows<T>(f.get(), size, *format, take_faces, threads, points, faces, where,
                             reason, unsure))
      return true;
    if (!unsure) return false;
    points.clear();
    faces.clear();
    std::rewind(f.get());
  }
  reserve_for_file(file, points);
  const bool plain = plain_decimal_locale();
  char line[kLineBuffer];
  bool too_long = false;
  for (long number = 1; next_line(f.get(), line, too_long); ++number) {
    if (too_long) continue;
    const size_t skip = number == 1 && std::strncmp(line, kByteOrderMark, 3) == 0 ? 3 : 0;
    const char* text = line + skip;
    if (parse_line<T>(text, format->reader, take_faces, plain, points, faces) == Numbers::kBad) {
      where = ": line " + std::to_string(number);
      reason = quoted_field(bad_field(text, format->reader)) +
               " is not a number (a number must end at a blank or the line's end)";
      return false;
    }
  }
  if (!points.empty()) return true;
  reason = "no line holds a point";
  return false;
}

// Whether a coordinate read as a float was rounded by more than the file can afford.
bool needs_exact_reading(const PointSet& points) {
  for (const Point3D& p : points)
    if (std::fabs(p.x) >= kExactCoordinate || std::fabs(p.y) >= kExactCoordinate ||
        std::fabs(p.z) >= kExactCoordinate)
      return true;
  return false;
}

bool parse_file(const std::string& file, const PointFormat* format, bool take_faces, bool exact,
                int threads, PointSet& points, FaceList& faces, std::string& where,
                std::string& reason) {
  if (format && format->reader == PointReader::kPly)
    return read_ply_file(file, points, faces, take_faces, reason, exact, threads);
  return exact ? read_text_file<double>(file, format, take_faces, threads, points, faces, where,
                                        reason)
               : read_text_file<float>(file, format, take_faces, threads, points, faces, where,
                                       reason);
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
                      std::string* error, int threads) {
  // A folder opens on some systems and then reads as empty; name it for what it is.
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    return fail(error, file, "is a folder, not a point file");
  std::string where, reason;
  const PointFormat* format = point_format_of(file);
  PointSet read;
  FaceList read_faces;
  if (!parse_file(file, format, take_faces, false, threads, read, read_faces, where, reason))
    return fail(error, file + where, reason);
  // Far from the origin a float drops digits the file holds: read such a file again, exactly.
  if (needs_exact_reading(read)) {
    read.clear();
    read_faces.clear();
    if (!parse_file(file, format, take_faces, true, threads, read, read_faces, where, reason))
      return fail(error, file + where, reason);
  }
  points.swap(read);
  faces.swap(read_faces);
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

std::function<void(std::ostream&)> obj_text(const PointSet& set, const FaceList& faces) {
  return [&set, &faces](std::ostream& out) {
    write_vertices(out, set);
    write_faces(out, faces, 0);
  };
}

std::function<void(std::ostream&)> reconstruction_text(const PointSet& moving,
                                                       const PointSet& reference,
                                                       const FaceList& reference_faces,
                                                       const FaceList& moving_faces) {
  return [&moving, &reference, &reference_faces, &moving_faces](std::ostream& out) {
    write_vertices(out, reference);
    write_vertices(out, moving);
    write_faces(out, reference_faces, 0);
    write_faces(out, moving_faces, static_cast<long>(reference.size()));
  };
}

bool write_obj(const PointSet& set, const std::string& file, const FaceList& faces,
               std::string* error) {
  return write_file_atomically(file, obj_text(set, faces), error);
}

bool write_reconstruction(const PointSet& moving, const PointSet& reference,
                          const FaceList& reference_faces, const FaceList& moving_faces,
                          const std::string& path, std::string* error) {
  return write_file_atomically(
      path, reconstruction_text(moving, reference, reference_faces, moving_faces), error);
}

}  // namespace kestrel::core
