#pragma once
// The command line of Kestrel, the usage text, the transform file of -l and the two rules that
// derive the dependent run parameters (once at start-up, then on every idle cycle).

#include <cstdio>
#include <string>
#include <vector>

#include "core/run_parameters.h"

namespace kestrel::app {

enum class ParseOutcome {
  kContinue,     // options applied; go on
  kExitSuccess,  // -h: usage printed, end with status 0
  kExitFailure,  // bad option or value: message printed, end with status 1
};

// Applies every option of argv to `params`. Messages and the usage text go to `err`.
// Arguments that are neither options nor option values are appended to `positional`.
ParseOutcome parse_command_line(int argc, const char* const* argv, core::RunParameters& params,
                                FILE* err = stderr, std::vector<std::string>* positional = nullptr);

void print_usage(const char* program, FILE* err = stderr);

// Fills params.trans_matrix from lines 5 to 8 of `name`. A file that cannot be read as a whole
// (missing, a folder, a row missing, not four finite numbers) is refused: the matrix keeps its
// values, has_trans_file is cleared, and false comes back with a message naming the file and
// the line in `error`.
bool read_trans_file(const std::string& name, core::RunParameters& params,
                     std::string* error = nullptr);

// Start-up derivation of thr, base_max_len and num_try from the overlap estimate.
void derive_parameters(core::RunParameters& params);

// Idle-cycle recomputation of thr, base_max_len and num_try from the overlap and model extent.
void refresh_parameters(core::RunParameters& params);

}  // namespace kestrel::app
