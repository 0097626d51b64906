#pragma once
// What both fuzz targets share: the readers take a file name, so each input is written to a
// file in a private folder first. The folder is made once per process and removed at its end.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::fuzz {

// Writes `size` bytes at `data` to the file `name` in the process's scratch folder; returns
// its path.
std::string write_input(const std::string& name, const uint8_t* data, size_t size);

// Path of `name` in the scratch folder (for a folder made there, say).
std::string scratch_path(const std::string& name);

}  // namespace kestrel::fuzz
