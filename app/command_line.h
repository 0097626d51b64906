#pragma once
// The command line of Kestrel, the usage text, the transform file of -l and the two rules that
// derive the dependent run parameters (once at start-up, then on every idle cycle).

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_options.h"
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

// The same for kestrel-align: kestrel's options and the aligner's own (run_options.h); file
// names go to `files`; --help prints the aligner's help to `out`.
ParseOutcome parse_align_command_line(int argc, const char* const* argv,
                                      core::RunParameters& params, AlignOptions& align,
                                      std::vector<std::string>& files, FILE* out = stdout,
                                      FILE* err = stderr);

// kestrel's usage text, built from the option table.
void print_usage(const char* program, FILE* err = stderr);

// kestrel-align's --help, built from the option table.
void print_align_help(const char* program, FILE* out);

// Fills params.trans_matrix from lines 5 to 8 of `name`. A file that cannot be read as a whole
// (missing, a folder, a row missing, not four finite numbers) is refused: the matrix keeps its
// values, trans_file is cleared, and false comes back with a message naming the file and the
// line in `error`.
bool read_trans_file(const std::string& name, core::RunParameters& params,
                     std::string* error = nullptr);

// Start-up derivation of thr, base_max_len and num_try from the overlap estimate.
void derive_parameters(core::RunParameters& params);

// Idle-cycle recomputation of thr, base_max_len and num_try from the overlap and model extent.
// In a headless run (params.headless) a value given with -t, -q or -y stays as given, and
// num_try follows a given base_max_len.
void refresh_parameters(core::RunParameters& params);

}  // namespace kestrel::app
