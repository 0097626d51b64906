#pragma once
// The file lists of the panel: the point files of a folder that the program can load.

#include <string>
#include <vector>

namespace kestrel::app {

// Names (without folder) of the regular files in `folder` ending in ".obj", then ".vrt", then
// ".pct", then ".ply", each group in directory order. Directories and ".txt" and ".xyz" files
// are not listed; an unreadable folder gives an empty list.
std::vector<std::string> list_model_files(const std::string& folder);

}  // namespace kestrel::app
