#pragma once
// The headless aligner: does what a user of the window would do, in the same order and through
// the same actions, driven by command-line options (see run_options.h and --help).

#include <cstdio>

namespace kestrel::app {

// kestrel-align [options of kestrel] [aligner options] P_FILE Q_FILE
// Returns the process exit status: 0 when the results were written, 2 when the run found no
// motion (nothing written), 1 for any other failure (nothing written either).
int align_main(int argc, const char* const* argv, FILE* out = stdout, FILE* err = stderr);

}  // namespace kestrel::app
