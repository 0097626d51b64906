#pragma once
// The engine's stage times and counts of one run, and the evidence behind a verdict, as named
// rows in one order, for the aligner's --profile table and JSON and the Python module's result.

#include <vector>

#include "app/model_sets.h"
#include "registration/records.h"
#include "registration/registration.h"

namespace kestrel::app {

struct ProfileRow {
  const char* key;    // name in JSON and in Python
  const char* label;  // label of the printed table
  double value;       // milliseconds for a stage, the number for a count
};

// base selection, pair extraction, quad search, motion estimation, LCP scoring, and the
// any-pose search's normals and polish (ms).
std::vector<ProfileRow> stage_rows(const registration::EngineResult& r);

// Reading the two files (ms), and the rate of both reads together in MB/s (0 when nothing was
// read from a file).
std::vector<ProfileRow> read_rows(const ModelSets& m);

// trials, d1 and d2 pairs, congruent quads, candidates scored, LCP early exits, and the
// any-pose search's rejections and vetoes.
std::vector<ProfileRow> count_rows(const registration::EngineResult& r);

// The figures a verdict rests on (registration/judge): the shares of Q near P and on its
// surface, the fit's RMS and the scale it was measured at (model units), and how many later
// bases found the motion again.
std::vector<ProfileRow> evidence_rows(const registration::Judgement& j,
                                      const registration::EngineResult& r);

}  // namespace kestrel::app
