#pragma once
// The header of a PLY file: its encoding and the shape of its elements, checked line by line.

#include <istream>
#include <string>
#include <vector>

namespace kestrel::core {

enum class PlyEncoding { kAscii, kLittleEndian, kBigEndian };

struct PlyProperty {
  std::string name;
  bool list = false;
  int bytes = 0;            // width in bytes of a scalar's value (1, 2, 4 or 8)
  bool is_integer = false;  // a scalar's type is an integer type
  bool is_signed = false;   // ... a signed one (floating-point types count as signed)
  int count_bytes = 0;      // width in bytes of a list's count (1, 2 or 4)
  bool count_signed = false;
};

struct PlyElement {
  std::string name;
  unsigned long long count = 0;  // items, as the header says (saturated at the type's maximum)
  std::vector<PlyProperty> properties;  // in the order their values appear in an item
};

struct PlyHeader {
  PlyEncoding encoding = PlyEncoding::kAscii;
  std::vector<PlyElement> elements;  // in file order
};

// Reads the header from `in` up to and including "end_header". Returns false with the reason in
// `error` for a file that is not PLY, an unknown format, a property of a type PLY does not
// define, a property before any element, an element without a count, or a missing end_header.
bool read_ply_header(std::istream& in, PlyHeader& header, std::string& error);

}  // namespace kestrel::core
