#pragma once
// The engine's stage times and counts of one run as named rows, in one order, for the aligner's
// --profile table and JSON and for the Python module's result.

#include <vector>

#include "registration/records.h"

namespace kestrel::app {

struct ProfileRow {
  const char* key;    // name in JSON and in Python
  const char* label;  // label of the printed table
  double value;       // milliseconds for a stage, the number for a count
};

// base selection, pair extraction, quad search, motion estimation, LCP scoring, and the
// any-pose search's normals and polish (ms).
std::vector<ProfileRow> stage_rows(const registration::EngineResult& r);

// trials, d1 and d2 pairs, congruent quads, candidates scored, LCP early exits, and the
// any-pose search's rejections and vetoes.
std::vector<ProfileRow> count_rows(const registration::EngineResult& r);

}  // namespace kestrel::app
