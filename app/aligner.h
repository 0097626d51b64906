#pragma once
// The headless aligner: does what a user of the window would do, in the same order and through
// the same actions, driven by command-line options.

#include <cstdio>

namespace kestrel::app {

// kestrel-align [options of kestrel] [--delta D] [--ransac] [--random-position N] [--noise]
//               [--icp] [--out FILE] [--reconstruct FILE] [--json] P_FILE Q_FILE
// Returns the process exit status: 0 when the results were written, 2 when the run found no
// motion (nothing written), 1 for any other failure (nothing written either).
int align_main(int argc, const char* const* argv, FILE* out = stdout, FILE* err = stderr);

void print_align_help(const char* program, FILE* out);

}  // namespace kestrel::app
