#pragma once
// The one table of command-line options: it feeds the parser of `kestrel` and its usage text,
// the parser of `kestrel-align` and its --help, and the panel's limits. A new run setting is a
// field of RunParameters (or AlignOptions) and one row here.

#include <string>
#include <vector>

#include "core/run_parameters.h"

namespace kestrel::app {

// What the headless aligner does besides setting run parameters.
struct AlignOptions {
  bool ransac = false;       // run the basic RANSAC instead of Kestrel
  int random_positions = 0;  // "Random position" presses before the run
  bool noise = false;        // press "Add noise" before the run
  bool icp = false;          // refine with "Start ICP" after the run
  bool json = false;         // print one JSON object with the outcome
  bool profile = false;      // print the engine's time per stage and counts
  bool quiet = false;        // no progress line on standard error, even on a terminal
  std::string out = "results.tfm";
  std::string reconstruct;  // joined models; empty = not written
  std::string matrix;       // plain 4 x 4 matrix file; empty = not written
  float max_seconds = 0;    // stop the run after this many seconds, as Escape does; 0 = no limit
};

enum class OptionKind {
  kUsage,         // -h: kestrel's usage text, then end with success
  kAlignHelp,     // --help: the aligner's help, then end with success
  kSet,           // a flag set to true
  kToggle,        // a flag flipped
  kFloat,         // one float
  kClampedFloat,  // one float, then held within [lo, hi] as the panel holds its fields
  kDouble,        // one double
  kInt,           // one whole number (also isamp, whose range keeps it positive)
  kText,          // one word
  kThreeFloats,   // three floats into fields 0, 1, 2
};

// The values an option accepts: the whole word must be a number (a whole one for kInt) in
// [lo, hi], or above lo when lo is open. Every range is finite, so NaN and infinities never pass.
struct ValueRange {
  double lo, hi;
  bool lo_open = false;
};

struct RunOption {
  const char* name;  // as typed, compared exactly
  OptionKind kind;
  const char* values;  // names of the values in usage and help ("" for none)
  int usage_line;      // line of kestrel's usage (1 to 8), -1 for a kestrel option it does not
                       // list, 0 for the aligner's own options
  const char* help;    // --help text of an aligner option ('\n' breaks lines); the note of a
                       // kestrel flag below its usage ("" for none)
  int note_order;      // place of that note below the usage (1, 2, ...), 0 for none
  float lo, hi;        // the panel's limits of a field (kClampedFloat holds the value within
                       // them); lo > hi for none
  // The value it sets: `k` is the value's number (0 unless kThreeFloats).
  void* (*field)(core::RunParameters& params, AlignOptions& align, int k);
  ValueRange range;  // what the command line accepts; unused by options without a value
};

// Every option, kestrel's first in the order of its usage text, then the aligner's own.
const std::vector<RunOption>& run_options();

// The row named `name`; asserts that there is one.
const RunOption& run_option(const std::string& name);

}  // namespace kestrel::app
