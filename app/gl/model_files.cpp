#include "app/gl/model_files.h"

#include <filesystem>
#include <system_error>

#include "core/point_formats.h"

namespace kestrel::app {

std::vector<std::string> list_model_files(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  for (const core::PointFormat& format : core::point_formats()) {
    if (!format.in_panel) continue;
    const std::string extension = std::string(".") + format.ending;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code type_ec;
      if (!it->is_regular_file(type_ec)) continue;
      const fs::path& path = it->path();
      if (path.extension() == extension) names.push_back(path.filename().string());
    }
  }
  return names;
}

}  // namespace kestrel::app
