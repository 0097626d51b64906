#pragma once
// The process state the registration engine reads and publishes. The program holds one
// instance (inside app::AppState); tests build their own.

#include <cstdint>
#include <string>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/ann_index.h"

namespace kestrel::registration {

struct RegistrationState {
  core::PointSet model_p;       // working (subsampled) P: source of bases, indexed by p_index
  core::PointSet model_q;       // working Q: moved by a run, replaced by the best moved copy
  core::PointSet full_q;        // full-resolution Q as drawn; rewritten at every improvement
  core::PointSet saved_full_q;  // unmoved full-resolution Q: source of full_q at improvements
  AnnIndex p_index;             // exact nearest-neighbour structure over model_p

  core::PointSet base_points = core::PointSet(4);  // the current trial's base, segment order
  core::RigidTransform current_transform;          // best motion so far (c, t rounded to float)
  float best_lcp = 0;                              // LCP of current_transform
  float run_lcp = 0;                               // best LCP of the last run; 0: no motion
  uint64_t run_candidates = 0;                     // motions the last run scored by LCP
  std::string progress_text;                       // progress line drawn while a run works
  int32_t trial_count = 0;                         // trials begun in this run
  bool ransac_mode = false;                        // the run is a RANSAC run
  bool noise_added = false;                        // "Add noise" was used since the last load
  bool first_selection = true;                     // no base has been drawn in this process yet
};

}  // namespace kestrel::registration
