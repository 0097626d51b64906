// PLY input on top of CGAL's PLY element reader. CGAL decodes the values of every property, in
// ASCII or either byte order; around it this file checks what CGAL takes on trust: the header's
// shape, list counts that would size a buffer beyond the file, and bodies that end early.
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

namespace kestrel::core {

namespace {

namespace ply = CGAL::IO::internal;

// ---- header ------------------------------------------------------------------------------

enum class Encoding { kAscii, kLittleEndian, kBigEndian };

struct PlyType {
  const char* name;
  const char* alias;
  int bytes;
  bool integer;
  bool is_signed;
};

constexpr PlyType kTypes[] = {
    {"char", "int8", 1, true, true},      {"uchar", "uint8", 1, true, false},
    {"short", "int16", 2, true, true},    {"ushort", "uint16", 2, true, false},
    {"int", "int32", 4, true, true},      {"uint", "uint32", 4, true, false},
    {"float", "float32", 4, false, true}, {"double", "float64", 8, false, true},
};

const PlyType* find_type(const std::string& name) {
  for (const PlyType& t : kTypes)
    if (name == t.name || name == t.alias) return &t;
  return nullptr;
}

struct PropertyShape {
  std::string name;
  bool list = false;
  int count_bytes = 0;  // width of a list's count
  bool count_signed = false;
};

struct ElementShape {
  std::string name;
  std::vector<PropertyShape> properties;
};

struct Header {
  Encoding encoding = Encoding::kAscii;
  std::vector<ElementShape> elements;
};

bool refuse(std::string& error, const std::string& reason) {
  error = reason;
  return false;
}

// Checks the header line by line before CGAL reads it: CGAL silently leaves out a property of a
// type it does not know (so every later value would be misread) and indexes past its element
// list for a property that precedes any element.
bool scan_header(std::istream& in, Header& header, std::string& error) {
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream words(line);
    std::string keyword;
    words >> keyword;
    const std::string where = "header line " + std::to_string(number) + ": ";
    if (number == 1) {
      if (keyword != "ply") return refuse(error, "not a PLY file (the first line is not \"ply\")");
    } else if (number == 2) {
      std::string encoding;
      words >> encoding;
      if (keyword == "format" && encoding == "ascii") {
        header.encoding = Encoding::kAscii;
      } else if (keyword == "format" && encoding == "binary_little_endian") {
        header.encoding = Encoding::kLittleEndian;
      } else if (keyword == "format" && encoding == "binary_big_endian") {
        header.encoding = Encoding::kBigEndian;
      } else {
        return refuse(error, where +
                                 "expected \"format ascii|binary_little_endian|"
                                 "binary_big_endian 1.0\"");
      }
    } else if (keyword == "end_header") {
      return true;
    } else if (keyword == "element") {
      ElementShape element;
      std::string count;
      words >> element.name >> count;
      if (element.name.empty() || count.empty() ||
          count.find_first_not_of("0123456789") != std::string::npos)
        return refuse(error, where + "an element needs a name and a count");
      header.elements.push_back(element);
    } else if (keyword == "property") {
      if (header.elements.empty()) return refuse(error, where + "a property before any element");
      PropertyShape property;
      std::string type;
      words >> type;
      if (type == "list") {
        std::string count_type, item_type;
        words >> count_type >> item_type >> property.name;
        const PlyType* count = find_type(count_type);
        if (!count || !count->integer || !find_type(item_type) || property.name.empty())
          return refuse(error, where + "unsupported list property \"" + line + "\"");
        property.list = true;
        property.count_bytes = count->bytes;
        property.count_signed = count->is_signed;
      } else {
        words >> property.name;
        if (!find_type(type) || property.name.empty())
          return refuse(error, where + "unsupported property type in \"" + line + "\"");
      }
      header.elements.back().properties.push_back(property);
    }
    // "comment", "obj_info" and the like carry nothing this reader uses.
  }
  if (number == 0) return refuse(error, "not a PLY file (the file is empty)");
  return refuse(error, "the header has no end_header line");
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
bool peek_list_count(std::istream& in, const PropertyShape& p, Encoding encoding,
                     long long& count) {
  const std::streampos at = in.tellg();
  if (encoding == Encoding::kAscii) {
    in >> count;
  } else {
    unsigned char bytes[4] = {};
    in.read(reinterpret_cast<char*>(bytes), p.count_bytes);
    unsigned long long u = 0;
    for (int i = 0; i < p.count_bytes; ++i)
      u = (u << 8) | bytes[encoding == Encoding::kLittleEndian ? p.count_bytes - 1 - i : i];
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
bool read_item(std::istream& in, ply::PLY_element& element, const ElementShape& shape,
               Encoding encoding, long long file_size) {
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

std::string cut_short(const ElementShape& shape, size_t item, size_t count) {
  return "element \"" + shape.name + "\" stops at item " + std::to_string(item + 1) + " of " +
         std::to_string(count) + ": the body is truncated, malformed or shorter than its counts";
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

}  // namespace

bool read_ply_file(const std::string& file, PointSet& points, FaceList& faces, bool take_faces,
                   std::string& error) {
  std::ifstream f(file, std::ios::binary);
  if (!f) return refuse(error, "cannot open the file for reading");
  // Held in memory, so that a list count can be peeked and the bytes left are known.
  std::stringstream in;
  in << f.rdbuf();
  in.clear();
  in.seekg(0, std::ios::end);
  const long long file_size = static_cast<long long>(in.tellg());
  in.seekg(0);

  Header header;
  if (!scan_header(in, header, error)) return false;
  in.clear();
  in.seekg(0);
  in.imbue(std::locale(std::locale::classic(), new LenientFloats));
  ply::PLY_reader reader(false);
  if (!reader.init(in) || reader.number_of_elements() != header.elements.size())
    return refuse(error, "cannot read the PLY header");

  PointSet read_points;
  std::vector<int64_t> kept_index;  // file vertex -> index in read_points, -1 when skipped
  std::vector<std::array<int64_t, 3>> triangles;  // in file vertex indices
  bool vertices_seen = false, faces_seen = false;
  std::vector<int64_t> polygon;
  for (size_t e = 0; e < reader.number_of_elements(); ++e) {
    ply::PLY_element& element = reader.element(e);
    const ElementShape& shape = header.elements[e];
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
        return refuse(error, cut_short(shape, j, count));
      if (vertices) {
        float v[3];
        for (int c = 0; c < 3; ++c) v[c] = static_cast<float>(xyz[c](element.property(xyz_at[c])));
        const bool finite = std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
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

  FaceList read_faces;
  const auto n = static_cast<int64_t>(kept_index.size());
  for (const auto& t : triangles) {
    Face face;
    bool ok = true;
    for (int c = 0; c < 3 && ok; ++c) {
      ok = t[c] >= 0 && t[c] < n && kept_index[static_cast<size_t>(t[c])] >= 0;
      if (ok) face.v[c] = static_cast<int32_t>(kept_index[static_cast<size_t>(t[c])]);
    }
    if (ok) read_faces.push_back(face);
  }
  points.swap(read_points);
  faces.swap(read_faces);
  return true;
}

}  // namespace kestrel::core
