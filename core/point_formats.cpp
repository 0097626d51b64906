#include "core/point_formats.h"

namespace kestrel::core {

namespace {

bool taken(const PointFormat& format, FormatList list) {
  switch (list) {
    case FormatList::kAll:
      return true;
    case FormatList::kUsage:
      return format.in_usage;
    case FormatList::kPanel:
      return format.in_panel;
  }
  return false;
}

}  // namespace

const std::vector<PointFormat>& point_formats() {
  // ".txt" holds the same lines as ".pct" and ".xyz" the same as ".vrt"; the panel leaves both
  // out, as it always has, to keep its lists to the scan files.
  // clang-format off
  static const std::vector<PointFormat> formats = {
      // ending  reader               in_usage  in_panel
      {"obj",   PointReader::kObj,    true,     true},
      {"vrt",   PointReader::kXyz,    true,     true},
      {"pct",   PointReader::kFields, true,     true},
      {"txt",   PointReader::kFields, true,     false},
      {"ply",   PointReader::kPly,    false,    true},
      {"xyz",   PointReader::kXyz,    false,    false},
  };
  // clang-format on
  return formats;
}

const PointFormat* point_format_of(const std::string& file) {
  if (file.size() < 3) return nullptr;
  const std::string ending = file.substr(file.size() - 3);
  for (const PointFormat& format : point_formats())
    if (ending == format.ending) return &format;
  return nullptr;
}

std::string joined_endings(FormatList list, const std::string& prefix,
                           const std::string& separator) {
  std::string text;
  for (const PointFormat& format : point_formats()) {
    if (!taken(format, list)) continue;
    if (!text.empty()) text += separator;
    text += prefix + format.ending;
  }
  return text;
}

}  // namespace kestrel::core
