// PLY input on top of CGAL's PLY element reader. CGAL decodes the values of every property, in
// ASCII or either byte order; around it this file checks what CGAL takes on trust: the header's
// shape (see ply_header.h), list counts that would size a buffer beyond the file, and bodies
// that end early.
#include "core/ply_file.h"

#include <CGAL/IO/PLY/PLY_reader.h>

#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <sstream>
#include <vector>

#include "core/ply_direct.h"
#include "core/ply_header.h"

namespace kestrel::core {

namespace {

namespace ply = CGAL::IO::internal;

bool refuse(std::string& error, const std::string& reason) {
  error = reason;
  return false;
}

// ---- values ------------------------------------------------------------------------------

// ASCII numbers are converted as strtod/strtof convert them, so that "nan", "inf" and values
// beyond float's range arrive as non-finite numbers that are skipped, as in the text formats,
// rather than failing the stream and with it the whole read.
class LenientFloats : public std::num_get<char> {
 protected:
  iter_type do_get(iter_type in, iter_type end, std::ios_base&, std::ios_base::iostate& state,
                   double& v) const override {
    return parse(in, end, state, v, &std::strtod);
  }
  iter_type do_get(iter_type in, iter_type end, std::ios_base&, std::ios_base::iostate& state,
                   float& v) const override {
    return parse(in, end, state, v, &std::strtof);
  }

 private:
  template <typename T>
  static iter_type parse(iter_type in, iter_type end, std::ios_base::iostate& state, T& v,
                         T (*convert)(const char*, char**)) {
    std::string token;
    for (; in != end && token.size() <= 64; ++in) {
      if (std::isspace(static_cast<unsigned char>(*in))) break;
      token += *in;
    }
    char* stop = nullptr;
    const T value = convert(token.c_str(), &stop);
    const bool whole = !token.empty() && token.size() <= 64 && *stop == '\0';
    v = whole ? value : T(0);
    state = whole ? std::ios_base::goodbit : std::ios_base::failbit;
    if (in == end) state |= std::ios_base::eofbit;
    return in;
  }
};

using ScalarGetter = double (*)(const ply::PLY_read_number*);
using ListGetter = void (*)(const ply::PLY_read_number*, std::vector<int64_t>&);

template <typename T>
double scalar_value(const ply::PLY_read_number* p) {
  return static_cast<double>(static_cast<const ply::PLY_read_typed_number<T>*>(p)->buffer());
}

template <typename T>
void list_values(const ply::PLY_read_number* p, std::vector<int64_t>& out) {
  const std::vector<T>& values = static_cast<const ply::PLY_read_typed_list<T>*>(p)->buffer();
  out.assign(values.begin(), values.end());
}

// The accessor for a scalar property of any numeric type; null for a list.
template <typename T, typename... Rest>
ScalarGetter scalar_getter(const ply::PLY_read_number* p) {
  if (dynamic_cast<const ply::PLY_read_typed_number<T>*>(p)) return &scalar_value<T>;
  if constexpr (sizeof...(Rest) > 0) return scalar_getter<Rest...>(p);
  return nullptr;
}

// The accessor for a list of integers; null for a scalar or a list of floating-point values.
template <typename T, typename... Rest>
ListGetter list_getter(const ply::PLY_read_number* p) {
  if (dynamic_cast<const ply::PLY_read_typed_list<T>*>(p)) return &list_values<T>;
  if constexpr (sizeof...(Rest) > 0) return list_getter<Rest...>(p);
  return nullptr;
}

ScalarGetter any_scalar(const ply::PLY_read_number* p) {
  return scalar_getter<int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t, float, double>(p);
}

ListGetter integer_list(const ply::PLY_read_number* p) {
  return list_getter<int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t>(p);
}

// ---- body --------------------------------------------------------------------------------

// Reads a list's count without consuming it. CGAL sizes the list's buffer by this count before
// reading a value, so a corrupt count must be refused before CGAL sees it.
bool peek_list_count(std::istream& in, const PlyProperty& p, PlyEncoding encoding,
                     long long& count) {
  const std::streampos at = in.tellg();
  if (encoding == PlyEncoding::kAscii) {
    in >> count;
  } else {
    unsigned char bytes[4] = {};
    in.read(reinterpret_cast<char*>(bytes), p.count_bytes);
    unsigned long long u = 0;
    for (int i = 0; i < p.count_bytes; ++i)
      u = (u << 8) | bytes[encoding == PlyEncoding::kLittleEndian ? p.count_bytes - 1 - i : i];
    const int bits = 8 * p.count_bytes;
    count = static_cast<long long>(u);
    if (p.count_signed && (u >> (bits - 1)) != 0) count -= 1LL << bits;
  }
  const bool ok = !in.fail();
  in.clear();
  in.seekg(at);
  return ok;
}

// Reads the next item of `element`: every property's value, in header order.
bool read_item(std::istream& in, ply::PLY_element& element, const PlyElement& shape,
               PlyEncoding encoding, long long file_size) {
  for (size_t k = 0; k < shape.properties.size(); ++k) {
    if (shape.properties[k].list) {
      long long count = 0;
      if (!peek_list_count(in, shape.properties[k], encoding, count)) return false;
      if (count < 0 || count > file_size - static_cast<long long>(in.tellg())) return false;
    }
    element.property(k)->get(in);
    if (in.fail()) return false;
  }
  return true;
}

std::string unreadable_item(const PlyElement& shape, size_t item, size_t count) {
  return shape.name + " " + std::to_string(item + 1) + " of " + std::to_string(count) +
         " cannot be read: the file is truncated or malformed";
}

bool is_vertex(const std::string& name) {
  return name == "vertex" || name == "vertices";
}
bool is_face(const std::string& name) {
  return name == "face" || name == "faces";
}

size_t property_index(ply::PLY_element& element, const char* name) {
  for (size_t k = 0; k < element.number_of_properties(); ++k)
    if (element.property(k)->name() == name) return k;
  return element.number_of_properties();
}

using Triangle = std::array<int64_t, 3>;

// The triangles whose corners are all kept vertices, renumbered to the kept vertices.
FaceList kept_faces(const std::vector<Triangle>& triangles, const std::vector<int64_t>& kept) {
  FaceList faces;
  const auto n = static_cast<int64_t>(kept.size());
  for (const Triangle& t : triangles) {
    Face face;
    bool ok = true;
    for (int c = 0; c < 3 && ok; ++c) {
      ok = t[c] >= 0 && t[c] < n && kept[static_cast<size_t>(t[c])] >= 0;
      if (ok) face.v[c] = static_cast<int32_t>(kept[static_cast<size_t>(t[c])]);
    }
    if (ok) faces.push_back(face);
  }
  return faces;
}

}  // namespace

bool read_ply_file(const std::string& file, PointSet& points, FaceList& faces, bool take_faces,
                   std::string& error, bool exact, int threads) {
  // A file without lists has no faces: the direct read gives all there is.
  switch (read_ply_direct(file, points, error, exact, threads)) {
    case DirectRead::kDone:
      faces.clear();
      return true;
    case DirectRead::kRefused:
      return false;
    case DirectRead::kNotDirect:
      break;
  }
  std::ifstream f(file, std::ios::binary);
  if (!f) return refuse(error, "cannot open the file for reading");
  // Held in memory, so that a list count can be peeked and the bytes left are known.
  std::stringstream in;
  in << f.rdbuf();
  in.clear();
  in.seekg(0, std::ios::end);
  const long long file_size = static_cast<long long>(in.tellg());
  in.seekg(0);

  PlyHeader header;
  if (!read_ply_header(in, header, error)) return false;
  in.clear();
  in.seekg(0);
  in.imbue(std::locale(std::locale::classic(), new LenientFloats));
  ply::PLY_reader reader(false);
  if (!reader.init(in) || reader.number_of_elements() != header.elements.size())
    return refuse(error, "cannot read the PLY header");

  PointSet read_points;
  std::vector<int64_t> kept_index;  // file vertex -> index in read_points, -1 when skipped
  std::vector<Triangle> triangles;  // in file vertex indices
  bool vertices_seen = false, faces_seen = false;
  std::vector<int64_t> polygon;
  for (size_t e = 0; e < reader.number_of_elements(); ++e) {
    ply::PLY_element& element = reader.element(e);
    const PlyElement& shape = header.elements[e];
    const size_t count = element.number_of_items();
    if (element.number_of_properties() != shape.properties.size())
      return refuse(error, "cannot read the PLY header");
    if (shape.properties.empty()) continue;  // nothing to read, however large the count

    ScalarGetter xyz[3] = {};
    size_t xyz_at[3] = {};
    const bool vertices = !vertices_seen && is_vertex(shape.name);
    if (vertices) {
      vertices_seen = true;
      const char* names[3] = {"x", "y", "z"};
      for (int c = 0; c < 3; ++c) {
        xyz_at[c] = property_index(element, names[c]);
        if (xyz_at[c] < element.number_of_properties())
          xyz[c] = any_scalar(element.property(xyz_at[c]));
        if (!xyz[c]) return refuse(error, "the vertices have no numeric x, y and z");
      }
    }
    ListGetter corners = nullptr;
    size_t corners_at = 0;
    if (take_faces && !faces_seen && is_face(shape.name)) {
      faces_seen = true;
      corners_at = property_index(element, "vertex_indices");
      if (corners_at == element.number_of_properties())
        corners_at = property_index(element, "vertex_index");
      if (corners_at < element.number_of_properties())
        corners = integer_list(element.property(corners_at));
    }

    for (size_t j = 0; j < count; ++j) {
      if (!read_item(in, element, shape, header.encoding, file_size))
        return refuse(error, unreadable_item(shape, j, count));
      if (vertices) {
        double v[3];
        bool finite = true;
        for (int c = 0; c < 3; ++c) {
          v[c] = xyz[c](element.property(xyz_at[c]));
          const float rounded = static_cast<float>(v[c]);
          finite = finite && std::isfinite(rounded);
          if (!exact) v[c] = rounded;
        }
        kept_index.push_back(finite ? static_cast<int64_t>(read_points.size()) : -1);
        if (finite) read_points.push_back(Point3D{v[0], v[1], v[2], 0, 0, 0});
      } else if (corners) {
        corners(element.property(corners_at), polygon);
        for (size_t i = 2; i < polygon.size(); ++i)
          triangles.push_back({polygon[0], polygon[i - 1], polygon[i]});
      }
    }
  }
  if (!vertices_seen) return refuse(error, "the file has no vertex element");
  if (read_points.empty()) return refuse(error, "no vertex has finite x, y and z");

  FaceList read_faces = kept_faces(triangles, kept_index);
  points.swap(read_points);
  faces.swap(read_faces);
  return true;
}

}  // namespace kestrel::core
