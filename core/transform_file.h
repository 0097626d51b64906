#pragma once
// The transform file given with -l: a text file whose lines 5 to 8 hold a 4 x 4 row-major
// matrix, one row a line. It is the layout of the results file the program writes, so every
// results file can be given back.

#include <string>

namespace kestrel::core {

// Reads lines 5 to 8 of `file` into `m`. Lines may be of any length; each of the four rows must
// be exactly four finite numbers. Otherwise the file is refused as a whole: false, `m`
// untouched, and a message naming the file and the line in `error`.
bool read_transform_file(const std::string& file, double (&m)[4][4], std::string* error = nullptr);

}  // namespace kestrel::core
