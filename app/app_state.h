#pragma once
// The whole state of one Kestrel session: run parameters, the model sets, the outcome of the
// last run and what the window shows. The program holds exactly one; tests build their own.

#include <cstdint>
#include <string>

#include "app/messages.h"
#include "app/model_sets.h"
#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "core/run_parameters.h"
#include "registration/records.h"
#include "registration/registration.h"

namespace kestrel::app {

struct AppState {
  core::RunParameters params;
  ModelSets models;

  core::RigidTransform current_transform;  // best motion so far (c, t rounded to float)
  float best_lcp = 0;                      // LCP of current_transform
  registration::EngineResult last_run;     // counts and stage times of the last run
  registration::Judgement judgement;       // the verdict on Q's place after the last run or ICP
  int32_t trial_count = 0;                 // trials begun in the last run
  bool ransac_mode = false;                // a RANSAC run is under way (base spheres hidden)
  bool noise_added = false;                // "Add noise" was used since the last load
  bool first_selection = true;             // no base has been drawn in this process yet
  bool console_progress = true;  // runs print their "\r" progress lines on stdout (off while
                                 // the aligner draws its own line on the same terminal)

  core::PointSet base_points = core::PointSet(4);  // the last base drawn, segment order
  std::string progress_text;                       // progress line drawn while a run works
  std::string progress_detail;                     // below it: share done and time left
  std::string status_text;                         // red status line of the window
  bool loading = false;                            // a model file is being read
  int32_t run_time_ms = 0;                         // duration of the last run action
  bool console = true;  // actions print their console lines (loads, progress, refusals)
  bool judge_runs = true;  // a run measures the verdict on its motion (off when ICP follows
                           // at once and measures it anew)

  MessageLog messages;  // the last messages to the user (messages.h)
  // What Q's shown place rests on ("Kestrel run", "Kestrel run, then ICP", ...): empty until a
  // run finds a motion or ICP refines Q, and again whenever a model changes. While it is set,
  // judgement is the verdict on that place.
  std::string result_label;
  bool result_stopped = false;  // that run was stopped (Escape): its best motion so far
};

}  // namespace kestrel::app
