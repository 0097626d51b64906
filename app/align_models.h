#pragma once
// One headless alignment, as kestrel-align performs it and the Python module repeats it: load P
// and Q, the optional model actions, the run, the optional ICP and the motion in the inputs'
// coordinates.

#include <string>

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
  ExportedMotion motion;           // Q onto P in the inputs' coordinates, refinement included
  registration::EngineResult run;  // the registration run
  icp::IcpRefineResult icp;        // ran is false when no ICP ran
  double icp_ms = 0;               // duration of the ICP
};

// Starts from the process-wide generators as at program start (so a long-lived process repeats
// a fresh kestrel-align), loads P and Q into `state` (parameters parsed and derived; the full
// sets without faces or normals, which nothing headless draws), presses "Random position" and
// "Add noise" as `o` asks, runs Kestrel or RANSAC, and refines with ICP when o.icp is set and
// the run was not stopped by hooks.should_stop. False, with the reason in `error`, when a model
// cannot be loaded or ICP refuses.
bool align_models(AppState& state, const AlignOptions& o, const ModelInput& p, const ModelInput& q,
                  const ActionHooks& hooks, AlignOutcome& outcome, std::string* error = nullptr);

}  // namespace kestrel::app
