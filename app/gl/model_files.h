#pragma once
// The file lists of the panel: the point files of a folder that the program can load.

#include <string>
#include <vector>

namespace kestrel::app {

// Names (without folder) of the regular files in `folder` whose extension is "." + the ending of
// a format marked in_panel (core/point_formats.h), grouped by format in the table's order, each
// group in directory order. Directories and the other formats' files are not listed; an
// unreadable folder gives an empty list.
std::vector<std::string> list_model_files(const std::string& folder);

}  // namespace kestrel::app
