#pragma once
// The point-file formats, one row per file-name ending. The reader picks its parser here, and
// every list of endings shown to a user (usage text, panel file lists, Python docstring) or tried
// by the fuzz target is drawn from the same rows, so a new format is one new row.

#include <string>
#include <vector>

namespace kestrel::core {

// How a file's contents become points.
enum class PointReader {
  kObj,     // "v x y z" lines, and "f a b c" faces (1-based) on request
  kXyz,     // "x y z" lines
  kFields,  // "a b x y z ..." lines: two fields skipped, then x, y, z
  kPly,     // PLY, ASCII or binary (ply_file.h)
};

struct PointFormat {
  const char* ending;  // the name's last three characters, compared case-sensitively, no dot
  PointReader reader;
  bool in_usage;  // named by the usage text, whose wording predates the later formats
  bool in_panel;  // offered by the panel's file lists (names ending in "." + ending)
};

// Every format. The order is fixed: the panel groups its lists in this order and the fuzz
// target's seeds pick a row by index, so a new format goes at the end.
const std::vector<PointFormat>& point_formats();

// The row whose ending `file` ends with (a dot is not required), or nullptr.
const PointFormat* point_format_of(const std::string& file);

// Which rows a list of endings takes.
enum class FormatList { kAll, kUsage, kPanel };

// The endings of the rows `list` takes, in table order, each after `prefix` and joined by
// `separator`: (kUsage, ".", ",") gives ".obj,.vrt,.pct,.txt".
std::string joined_endings(FormatList list, const std::string& prefix,
                           const std::string& separator);

}  // namespace kestrel::core
