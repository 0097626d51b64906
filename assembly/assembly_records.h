#pragma once
// The records of an assembly: its options and hooks, what each pair of scans gave, and where
// each scan was placed. Matrices are 4 x 4, row-major, acting on column vectors, in the files'
// own coordinates.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/run_parameters.h"

namespace kestrel::assembly {

using Matrix4 = std::array<std::array<double, 4>, 4>;

// The identity matrix.
Matrix4 identity4();

struct AssemblyOptions {
  int32_t threads = core::kDefaultThreads;  // 1 or 2; the same result either way
  double max_seconds = 0;       // > 0: pairs not begun by then are skipped, and a running one stops
  size_t all_pairs_up_to = 30;  // more scans than this: each tries a shortlist of the others
  size_t shortlist = 8;         // scans on each scan's shortlist
};

// Where the assembly stands, for a progress line.
struct AssemblyProgress {
  size_t pairs_done = 0;
  size_t pairs_total = 0;
  double elapsed_s = 0;
};

struct PairRecord;

struct AssemblyHooks {
  std::function<bool()> should_stop;                         // e.g. Ctrl-C; may be empty
  std::function<void(const AssemblyProgress&)> on_progress;  // after each pair
  // Runs the pairs (a, b) elsewhere, in other processes or on other machines, through
  // register_pair on scans prepared as prepare_scans prepares them, and returns their records
  // in any order. Empty: here, one after the other.
  std::function<std::vector<PairRecord>(const std::vector<std::pair<size_t, size_t>>&)> run_pairs;
};

// What one registered pair gave: Q = scan b moved onto P = scan a.
struct PairRecord {
  size_t a = 0, b = 0;
  std::string verdict = "not_tried";  // "confident", "uncertain", "no_match" or "not_tried"
  Matrix4 motion = {};    // scan b's file coordinates into scan a's (when a motion was found)
  double fine_share = 0;  // of b, the share lying on a's surface: the edge's weight
  bool snug = false;      // not confident, but b lies on a closely (registration::Judgement)
  double seconds = 0;     // time of the registration and its verdict
  bool used = false;      // an edge of the final pose graph
};

struct ScanPlacement {
  bool placed = false;
  Matrix4 matrix = {};  // the file's points into the first file's coordinates
  double residual = 0;  // RMS point-to-plane distance to the other scans after refinement
  size_t pairs = 0;     // edges of the final pose graph at this scan
};

struct AssemblyResult {
  std::vector<ScanPlacement> scans;
  std::vector<PairRecord> pairs;
  double time_s = 0;
  bool stopped = false;  // the time limit or the stop hook cut the pairwise stage short
  size_t placed() const;
};

}  // namespace kestrel::assembly
