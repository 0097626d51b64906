#pragma once
// Writes PLY test files in every encoding the reader accepts, from points and polygons, so the
// PLY tests derive their inputs from the same scans the text-format tests use.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

namespace kestrel::core::test {

enum class PlyEncoding { kAscii, kLittleEndian, kBigEndian };

struct PlyLayout {
  PlyEncoding encoding = PlyEncoding::kAscii;
  bool doubles = false;  // coordinates as "double" rather than "float"
  bool extras = false;   // an extra element and extra vertex properties the reader must skip
};

using Vertices = std::vector<std::array<double, 3>>;
using Polygons = std::vector<std::vector<int32_t>>;

// The x, y, z lines of a .vrt or .xyz file, each number read as a float like the reader does.
inline Vertices read_vrt(const std::string& path) {
  Vertices out;
  FILE* f = std::fopen(path.c_str(), "r");
  float x, y, z;
  while (f && std::fscanf(f, "%f %f %f", &x, &y, &z) == 3) out.push_back({x, y, z});
  if (f) std::fclose(f);
  return out;
}

class PlyBytes {
 public:
  explicit PlyBytes(PlyEncoding encoding) : encoding_(encoding) {}

  template <typename T>
  void put(T v) {
    if (encoding_ == PlyEncoding::kAscii) {
      char text[40];
      if constexpr (std::is_same_v<T, float>)
        std::snprintf(text, sizeof text, "%.9g ", static_cast<double>(v));
      else if constexpr (std::is_same_v<T, double>)
        std::snprintf(text, sizeof text, "%.17g ", v);
      else
        std::snprintf(text, sizeof text, "%lld ", static_cast<long long>(v));
      bytes_ += text;
      return;
    }
    unsigned char raw[sizeof(T)];
    std::memcpy(raw, &v, sizeof(T));  // the test machines are little-endian
    for (size_t i = 0; i < sizeof(T); ++i)
      bytes_ +=
          static_cast<char>(raw[encoding_ == PlyEncoding::kBigEndian ? sizeof(T) - 1 - i : i]);
  }
  void end_item() {
    if (encoding_ == PlyEncoding::kAscii) bytes_ += "\n";
  }
  const std::string& bytes() const { return bytes_; }

 private:
  PlyEncoding encoding_;
  std::string bytes_;
};

inline std::string ply_header(const PlyLayout& layout, size_t vertices, size_t polygons) {
  const char* format[] = {"ascii", "binary_little_endian", "binary_big_endian"};
  const char* type = layout.doubles ? "double" : "float";
  std::string h = "ply\nformat " + std::string(format[static_cast<int>(layout.encoding)]) +
                  " 1.0\ncomment written by the Kestrel tests\n";
  if (layout.extras)
    h += "obj_info scanner 7\nelement camera 2\nproperty float focal\n"
         "property list uchar int tags\n";
  h += "element vertex " + std::to_string(vertices) + "\n";
  if (layout.extras) h += "property ushort confidence\n";
  for (const char* axis : {"x", "y", "z"}) h += "property " + std::string(type) + " " + axis + "\n";
  if (layout.extras) h += "property float nx\nproperty uchar red\n";
  if (polygons > 0 || layout.extras)
    h += "element face " + std::to_string(polygons) + "\nproperty list uchar int vertex_indices\n";
  return h + "end_header\n";
}

inline std::string ply_file_bytes(const Vertices& points, const Polygons& polygons,
                                  const PlyLayout& layout) {
  PlyBytes body(layout.encoding);
  if (layout.extras)
    for (int camera = 0; camera < 2; ++camera) {
      body.put(35.5f);
      body.put(static_cast<uint8_t>(2));
      body.put(int32_t{camera});
      body.put(int32_t{-camera});
      body.end_item();
    }
  for (const auto& p : points) {
    if (layout.extras) body.put(static_cast<uint16_t>(900));
    for (double v : p) {
      if (layout.doubles)
        body.put(v);
      else
        body.put(static_cast<float>(v));
    }
    if (layout.extras) {
      body.put(0.25f);
      body.put(static_cast<uint8_t>(200));
    }
    body.end_item();
  }
  for (const auto& polygon : polygons) {
    body.put(static_cast<uint8_t>(polygon.size()));
    for (int32_t v : polygon) body.put(v);
    body.end_item();
  }
  return ply_header(layout, points.size(), polygons.size()) + body.bytes();
}

inline void write_ply(const std::string& path, const Vertices& points, const Polygons& polygons,
                      const PlyLayout& layout) {
  std::ofstream(path, std::ios::binary) << ply_file_bytes(points, polygons, layout);
}

}  // namespace kestrel::core::test
