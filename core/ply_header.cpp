// The header is checked before the values are read because a PLY reader that skips a property
// of a type it does not know misreads every later value, and nothing in the body shows it.
#include "core/ply_header.h"

#include <sstream>
#include <string>

namespace kestrel::core {

namespace {

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

bool refuse(std::string& error, const std::string& reason) {
  error = reason;
  return false;
}

// A line as it may be quoted in a message: without the carriage return of a CRLF file.
std::string quoted(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return "\"" + line + "\"";
}

bool read_format(std::istringstream& words, const std::string& keyword, PlyEncoding& encoding) {
  std::string name;
  words >> name;
  if (keyword != "format") return false;
  if (name == "ascii") {
    encoding = PlyEncoding::kAscii;
  } else if (name == "binary_little_endian") {
    encoding = PlyEncoding::kLittleEndian;
  } else if (name == "binary_big_endian") {
    encoding = PlyEncoding::kBigEndian;
  } else {
    return false;
  }
  return true;
}

// Parses the rest of a "property" line; false when a type is not one PLY defines.
bool read_property(std::istringstream& words, PlyProperty& property) {
  std::string type;
  words >> type;
  if (type != "list") {
    words >> property.name;
    const PlyType* scalar = find_type(type);
    if (!scalar || property.name.empty()) return false;
    property.bytes = scalar->bytes;
    property.is_integer = scalar->integer;
    property.is_signed = scalar->is_signed;
    return true;
  }
  std::string count_type, item_type;
  words >> count_type >> item_type >> property.name;
  const PlyType* count = find_type(count_type);
  if (!count || !count->integer || !find_type(item_type) || property.name.empty()) return false;
  property.list = true;
  property.count_bytes = count->bytes;
  property.count_signed = count->is_signed;
  return true;
}

}  // namespace

bool read_ply_header(std::istream& in, PlyHeader& header, std::string& error) {
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
      if (!read_format(words, keyword, header.encoding))
        return refuse(error, where +
                                 "expected \"format ascii|binary_little_endian|"
                                 "binary_big_endian 1.0\", found " +
                                 quoted(line));
    } else if (keyword == "end_header") {
      return true;
    } else if (keyword == "element") {
      PlyElement element;
      std::string count;
      words >> element.name >> count;
      if (element.name.empty() || count.empty() ||
          count.find_first_not_of("0123456789") != std::string::npos)
        return refuse(error, where + "an element needs a name and a count, found " + quoted(line));
      // Saturates: a count beyond any file is refused by the body's size anyway.
      for (char c : count)
        element.count = element.count > (~0ULL - 9) / 10 ? ~0ULL : element.count * 10 + (c - '0');
      header.elements.push_back(element);
    } else if (keyword == "property") {
      if (header.elements.empty()) return refuse(error, where + "a property before any element");
      PlyProperty property;
      if (!read_property(words, property))
        return refuse(error, where + "unsupported property type in " + quoted(line));
      header.elements.back().properties.push_back(property);
    }
    // "comment", "obj_info" and the like carry nothing this reader uses.
  }
  if (number == 0) return refuse(error, "not a PLY file (the file is empty)");
  return refuse(error, "the header has no end_header line");
}

}  // namespace kestrel::core
