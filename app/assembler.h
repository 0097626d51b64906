#pragma once
// kestrel-assemble: many scans of one object into one model (see --help and README.md).

#include <cstdio>

namespace kestrel::app {

// kestrel-assemble [options] FILE...
// Returns the exit status: 0 when every scan was placed, 3 when some were not (the files are
// written for the others), 1 on bad input or a file that cannot be written (nothing written).
int assemble_main(int argc, const char* const* argv, FILE* out = stdout, FILE* err = stderr);

}  // namespace kestrel::app
