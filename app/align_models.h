#pragma once
// The one headless pipeline, shared by kestrel-align, the Python module and any later command:
// settle the parameters once the options are read, then load P and Q, the optional model
// actions, the run, the optional ICP and, for a command that writes files, the result files.
//
// Values given for -t, -q and -y stand: a headless run has no idle cycle, so the refresh of the
// derived parameters keeps them (the window recomputes all three on every idle cycle).
// A run that was stopped (a time limit, Ctrl-C) is not refined: a stop asks for the motion as
// it stands, and refining is the caller's next choice. A run that found no motion is not
// refined either, since ICP would start from a pose no run chose.

#include <functional>
#include <string>
#include <vector>

#include "app/action_hooks.h"
#include "app/app_state.h"
#include "app/result_files.h"
#include "app/run_options.h"
#include "core/point_set.h"
#include "icp/refine_q_by_icp.h"
#include "registration/records.h"

namespace kestrel::app {

// Where one model comes from: the point file `name`, or `points` in memory (which must outlive
// the call), with `name` standing for the file name.
struct ModelInput {
  std::string name;
  const core::PointSet* points = nullptr;
};

struct AlignOutcome {
  // Why no motion is handed on, empty when one is: the run found none, the scans are too small
  // for it (app/motion_check.h), the motion is no rotation, or ICP failed.
  std::string no_motion;
  ExportedMotion motion;           // Q onto P in the inputs' coordinates, refinement included
  registration::EngineResult run;  // the registration run; stopped also when its ICP was
  icp::IcpRefineResult icp;        // ran is false when no ICP ran
  double icp_ms = 0;               // duration of the ICP
};

// The caller's links to the pipeline; any may be empty.
struct AlignHooks {
  ActionHooks action;                                  // the loads, the run and ICP
  std::function<void()> before_run;                    // Q is placed; the run starts next
  std::function<void(const AlignOutcome&)> after_run;  // the run ended; ICP has not started
};

// The first of -t, -q and -y given for a run on which it cannot act, or null: the any-pose
// search (unless --ransac replaces it) takes its trials, threshold and base sizes from the scans.
const char* idle_given_option(const core::RunParameters& params, const AlignOptions& o);

// After the options are applied: reads the transform file of -l, refuses an option that would
// not act (idle_given_option) and derives the dependent parameters. False, with the reason in
// `error`, when the file cannot be read or an option is refused.
bool settle_parameters(core::RunParameters& params, const AlignOptions& o,
                       std::string* error = nullptr);

// Starts from the process-wide generators as at program start (so a long-lived process repeats
// a fresh kestrel-align), loads P and Q into `state` (parameters settled; the full sets without
// faces or normals, which nothing headless draws), presses "Random position" and "Add noise" as
// `o` asks, runs Kestrel or RANSAC, and refines with ICP when o.icp is set, unless the run was
// stopped or found no motion. Scans too small for a run are not run; a motion that is not a
// rotation, or a failed ICP, is no motion either (outcome.no_motion says why, and the verdict
// too). False, with the reason in `error`, when a model cannot be loaded or ICP refuses.
bool align_models(AppState& state, const AlignOptions& o, const ModelInput& p, const ModelInput& q,
                  const AlignHooks& hooks, AlignOutcome& outcome, std::string* error = nullptr);

// Before a command that writes files runs: every output it names (o.out, o.reconstruct,
// o.matrix) must be a regular file or not exist yet (core/atomic_file.h), none may be one of
// `inputs` (the point files, -l's file) and no two may be one file. False, with the reason.
bool check_outputs(const AlignOptions& o, const std::vector<std::string>& inputs,
                   std::string* error = nullptr);

// The last step of a command that writes files: o.out (and o.reconstruct when named) as key `o`
// writes them, then o.matrix when named, all or none; outcome.motion becomes the motion
// written. False, with the reason in `error`, when a file cannot be written.
bool write_results(AppState& state, const AlignOptions& o, AlignOutcome& outcome,
                   std::string* error = nullptr);

}  // namespace kestrel::app
