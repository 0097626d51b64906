#include "core/ply_direct.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "core/ply_header.h"
#include "core/side_by_side.h"

namespace kestrel::core {

namespace {

// One coordinate's place in an item and how to decode it.
struct Field {
  size_t offset = 0;
  int bytes = 0;
  bool is_integer = false;
  bool is_signed = false;
};

// Where the vertices are in the file and how each is laid out.
struct VertexBlock {
  unsigned long long count = 0;
  size_t start = 0;   // byte offset of the first vertex
  size_t stride = 0;  // bytes per vertex
  Field xyz[3];
  bool big_endian = false;
};

template <typename U>
U load(const unsigned char* at, bool swap) {
  U u;
  std::memcpy(&u, at, sizeof u);
  if (!swap) return u;
  U r = 0;
  for (size_t k = 0; k < sizeof u; ++k) r = static_cast<U>((r << 8) | ((u >> (8 * k)) & 0xff));
  return r;
}

// The value as the general reader takes it: the file's number converted to double.
double decode(const unsigned char* at, const Field& f, bool swap) {
  switch (f.bytes) {
    case 1:
      return f.is_signed ? double(static_cast<int8_t>(at[0])) : double(at[0]);
    case 2: {
      const uint16_t u = load<uint16_t>(at, swap);
      return f.is_signed ? double(static_cast<int16_t>(u)) : double(u);
    }
    case 4: {
      const uint32_t u = load<uint32_t>(at, swap);
      if (f.is_integer) return f.is_signed ? double(static_cast<int32_t>(u)) : double(u);
      float v;
      std::memcpy(&v, &u, sizeof v);
      return double(v);
    }
    default: {
      const uint64_t u = load<uint64_t>(at, swap);
      double v;
      std::memcpy(&v, &u, sizeof v);
      return v;
    }
  }
}

bool host_big_endian() {
  const uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 0;
}

std::string unreadable_item(const PlyElement& shape, unsigned long long item) {
  return shape.name + " " + std::to_string(item + 1) + " of " + std::to_string(shape.count) +
         " cannot be read: the file is truncated or malformed";
}

bool is_vertex(const std::string& name) {
  return name == "vertex" || name == "vertices";
}

// Finds the vertices among the elements, checking each element's bytes against the file's
// size in file order, as the general reader meets them. False with the reason.
bool locate_vertices(const PlyHeader& header, size_t body, size_t size, VertexBlock& block,
                     std::string& error) {
  size_t at = body;
  bool found = false;
  for (const PlyElement& e : header.elements) {
    if (e.properties.empty()) continue;
    size_t stride = 0;
    Field fields[3];
    int named = 0;
    for (const PlyProperty& p : e.properties) {
      const char* names[3] = {"x", "y", "z"};
      for (int c = 0; c < 3; ++c)
        if (!(named & (1 << c)) && p.name == names[c]) {
          fields[c] = {stride, p.bytes, p.is_integer, p.is_signed};
          named |= 1 << c;
        }
      stride += static_cast<size_t>(p.bytes);
    }
    const bool vertices = !found && is_vertex(e.name);
    if (vertices && named != 7) {
      error = "the vertices have no numeric x, y and z";
      return false;
    }
    const unsigned long long fit = (size - std::min(at, size)) / stride;
    if (e.count > fit) {
      error = unreadable_item(e, fit);
      return false;
    }
    if (vertices) {
      found = true;
      block = {e.count, at, stride, {fields[0], fields[1], fields[2]}, false};
    }
    at += static_cast<size_t>(e.count) * stride;
  }
  if (!found) error = "the file has no vertex element";
  return found;
}

// Decodes vertices [first, last) into points[first, last); `kept` is false for a vertex with a
// coordinate not finite as a float. False when the file cannot be read.
bool read_range(int fd, const VertexBlock& b, bool exact, size_t first, size_t last,
                PointSet& points, std::vector<char>& kept) {
  constexpr size_t kBlockBytes = size_t{1} << 20;
  const size_t per_block = std::max<size_t>(1, kBlockBytes / b.stride);
  std::vector<unsigned char> buffer(per_block * b.stride);
  const bool swap = b.big_endian != host_big_endian();
  for (size_t i = first; i < last;) {
    const size_t n = std::min(per_block, last - i);
    const size_t want = n * b.stride;
    size_t got = 0;
    while (got < want) {
      const ssize_t r = ::pread(fd, buffer.data() + got, want - got,
                                static_cast<off_t>(b.start + i * b.stride + got));
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    for (size_t k = 0; k < n; ++k, ++i) {
      const unsigned char* item = buffer.data() + k * b.stride;
      double v[3];
      bool finite = true;
      for (int c = 0; c < 3; ++c) {
        v[c] = decode(item + b.xyz[c].offset, b.xyz[c], swap);
        const float rounded = static_cast<float>(v[c]);
        finite = finite && std::isfinite(rounded);
        if (!exact) v[c] = rounded;
      }
      points[i] = Point3D{v[0], v[1], v[2], 0, 0, 0};
      kept[i] = finite;
    }
  }
  return true;
}

// Reads the located vertices in two halves side by side, then drops the skipped ones in order.
bool read_vertices(const std::string& file, const VertexBlock& b, bool exact, int threads,
                   PointSet& out) {
  const int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const auto n = static_cast<size_t>(b.count);
  PointSet points(n);
  std::vector<char> kept(n);
  std::atomic<bool> ok{true};
  const size_t half = n / 2;
  side_by_side(
      threads, [&] { ok = read_range(fd, b, exact, 0, half, points, kept) && ok; },
      [&] { ok = read_range(fd, b, exact, half, n, points, kept) && ok; });
  ::close(fd);
  if (!ok) return false;
  size_t w = 0;
  for (size_t i = 0; i < n; ++i)
    if (kept[i]) points[w++] = points[i];
  points.resize(w);
  out.swap(points);
  return true;
}

}  // namespace

DirectRead read_ply_direct(const std::string& file, PointSet& points, std::string& error,
                           bool exact, int threads) {
  std::ifstream in(file, std::ios::binary);
  PlyHeader header;
  std::string ignored;
  if (!in || !read_ply_header(in, header, ignored) || header.encoding == PlyEncoding::kAscii)
    return DirectRead::kNotDirect;
  for (const PlyElement& e : header.elements)
    for (const PlyProperty& p : e.properties)
      if (p.list) return DirectRead::kNotDirect;
  const std::streamoff body = in.tellg();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (body < 0 || size < body) return DirectRead::kNotDirect;

  VertexBlock block;
  if (!locate_vertices(header, static_cast<size_t>(body), static_cast<size_t>(size), block, error))
    return DirectRead::kRefused;
  block.big_endian = header.encoding == PlyEncoding::kBigEndian;
  PointSet read;
  if (!read_vertices(file, block, exact, threads, read)) return DirectRead::kNotDirect;
  if (read.empty()) {
    error = "no vertex has finite x, y and z";
    return DirectRead::kRefused;
  }
  points.swap(read);
  return DirectRead::kDone;
}

}  // namespace kestrel::core
