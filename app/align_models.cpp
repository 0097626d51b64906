#include "app/align_models.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <utility>

#include "app/command_line.h"
#include "app/model_actions.h"
#include "app/motion_check.h"
#include "app/run_actions.h"
#include "core/atomic_file.h"
#include "core/clock.h"
#include "core/random15.h"
#include "icp/icp_random.h"

namespace kestrel::app {

namespace {

bool load(AppState& state, ModelSide side, const ModelInput& input, const ActionHooks& hooks,
          std::string* error) {
  return input.points ? load_model_points(state, side, *input.points, input.name, hooks, error)
                      : load_model(state, side, input.name, hooks, error);
}

bool load_both(AppState& state, const ModelInput& p, const ModelInput& q, const ActionHooks& hooks,
               std::string* error) {
  core::srand15(0);
  icp::reset_icp_random();
  reset_gaussian();
  state.params.headless = true;
  state.models.full_surfaces = false;
  // Q's file is read beside P's load: reading a large scan waits on the disk and on parsing,
  // P's load on thinning and indexing. Q is then loaded from what was read, as before.
  if (q.points || state.params.threads < 2)
    return load(state, ModelSide::kP, p, hooks, error) &&
           load(state, ModelSide::kQ, q, hooks, error);
  std::future<ParsedFile> q_file =
      std::async(std::launch::async, parse_model_file, q.name, state.params.threads);
  if (!load(state, ModelSide::kP, p, hooks, error)) return false;
  return load_model_parsed(state, ModelSide::kQ, q.name, q_file.get(), hooks, error);
}

// Ends the pipeline with no motion to hand on: `reason` becomes the verdict too.
bool no_motion(AppState& state, AlignOutcome& outcome, const std::string& reason) {
  outcome.no_motion = reason;
  outcome.motion = exported_motion(state);
  state.judgement = registration::no_motion_judgement(reason);
  return true;
}

// Whether `a` and `b` name one file: the same file when both exist, else the same path.
bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  const bool a_exists = stat(a.c_str(), &sa) == 0, b_exists = stat(b.c_str(), &sb) == 0;
  if (a_exists || b_exists)
    return a_exists && b_exists && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  // weakly_canonical leaves a bare relative name as it is: make both absolute first.
  std::error_code ec_a, ec_b;
  const std::filesystem::path pa =
      std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec_a), ec_a);
  const std::filesystem::path pb =
      std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec_b), ec_b);
  return !ec_a && !ec_b && pa == pb;
}

bool refuse_output(std::string* error, const std::string& reason) {
  if (error) *error = "Refused: " + reason + ".";
  return false;
}

// The any-pose ICP's fit scene needs only the scans as loaded: it is built beside the search,
// which leaves the second core idle much of the time. Its grid over the full P comes first and
// serves the search too. Leaving without ICP drops the rest at once.
class SceneBeside {
 public:
  SceneBeside(const ModelSets& m, bool wanted) {
    if (!wanted) return;
    p_grid_ = p_grid_made_.get_future().share();
    scene_ = std::async(std::launch::async, [this, &m] {
      registration::SceneGrids grids;
      try {
        grids.p = registration::full_scan_grid(m.full_p);
      } catch (...) {
        p_grid_made_.set_exception(std::current_exception());
        throw;
      }
      p_grid_made_.set_value(grids.p);
      const std::function<bool()> dropped = [this] { return unwanted_.load(); };
      return std::make_unique<registration::FitScene>(m.full_p, m.saved_full_q,
                                                      registration::FitOptions(), dropped, grids);
    });
  }
  // Tells the scene that it is not wanted before its future is waited for.
  ~SceneBeside() { unwanted_ = true; }

  const registration::GridToCome* p_grid() const { return p_grid_ ? &*p_grid_ : nullptr; }
  std::unique_ptr<registration::FitScene> take() { return scene_.valid() ? scene_.get() : nullptr; }

 private:
  std::promise<registration::SharedGrid> p_grid_made_;
  std::optional<registration::GridToCome> p_grid_;
  std::atomic<bool> unwanted_{false};
  std::future<std::unique_ptr<registration::FitScene>> scene_;  // last: waited for first
};

}  // namespace

const char* idle_given_option(const core::RunParameters& params, const AlignOptions& o) {
  if (!params.any_pose || o.ransac) return nullptr;
  if (params.thr_given) return "-t";
  if (params.base_max_len_given) return "-q";
  if (params.num_try_given) return "-y";
  return nullptr;
}

bool settle_parameters(core::RunParameters& params, const AlignOptions& o, std::string* error) {
  if (!params.trans_file.empty() && !read_trans_file(params.trans_file, params, error))
    return false;
  if (const char* option = idle_given_option(params, o)) {
    if (error)
      *error = std::string("Option ") + option +
               " does not act with --any-pose, which takes its trials, threshold and base sizes "
               "from the scans (see --help).";
    return false;
  }
  derive_parameters(params);
  return true;
}

bool align_models(AppState& state, const AlignOptions& o, const ModelInput& p, const ModelInput& q,
                  const AlignHooks& hooks, AlignOutcome& outcome, std::string* error) {
  if (!load_both(state, p, q, hooks.action, error)) return false;
  refresh_parameters(state.params);
  for (int i = 0; i < o.random_positions; ++i) on_random_position(state);
  ModelSets& m = state.models;
  // The noise draws go through every set in turn, the shown full Q's included.
  if (o.noise) {
    if (m.full_q.empty()) m.full_q = m.saved_full_q;
    on_add_noise(state);
  }
  const std::string too_small = scan_size_fault(std::min(m.full_p.size(), m.model_p.size()),
                                                std::min(m.saved_full_q.size(), m.model_q.size()));
  if (!too_small.empty()) return no_motion(state, outcome, "No motion found: " + too_small);
  // With ICP to follow, the verdict is measured once, on the refined motion.
  state.judge_runs = !o.icp;
  SceneBeside scene(m, o.icp && state.params.any_pose && !o.ransac && state.params.threads > 1);
  if (hooks.before_run) hooks.before_run();
  outcome.run = o.ransac ? on_start_ransac(state, hooks.action)
                         : on_start_kestrel(state, hooks.action, scene.p_grid());
  if (hooks.after_run) hooks.after_run(outcome);
  std::fflush(stdout);
  outcome.motion = exported_motion(state);
  const bool affine = state.params.scale_tol != 1.0f;
  std::string fault = no_motion_reason(outcome.run);
  if (fault.empty())
    fault = motion_fault(outcome.motion.coarse,
                         affine ? MotionKind::kAnyLinear : MotionKind::kRigid, "the best motion");
  if (!fault.empty())
    return no_motion(state, outcome,
                     fault.rfind("No motion", 0) == 0 ? fault : "No motion found: " + fault);
  if (!o.icp || outcome.run.stopped) return true;
  const core::Clock::time_point t0 = core::Clock::now();
  outcome.icp = on_start_icp(state, hooks.action, scene.take());
  outcome.icp_ms = core::elapsed_ms(t0);
  // A stop during ICP asks, as one during the run does, for the motion as it stands.
  if (outcome.icp.stopped) {
    outcome.run.stopped = true;
    return true;
  }
  if (!outcome.icp.ran) {
    if (error) *error = outcome.icp.message;
    return false;
  }
  // ICP moved Q's placement, so the exported motion carries the refinement.
  outcome.motion = exported_motion(state);
  if (!(outcome.icp.error >= 0))
    return no_motion(state, outcome, "No motion found: ICP failed to refine the motion");
  fault = motion_fault(outcome.motion.m, affine ? MotionKind::kAnyLinear : MotionKind::kScaled,
                       "the refined motion");
  if (!fault.empty()) return no_motion(state, outcome, "No motion found: " + fault);
  return true;
}

bool check_outputs(const AlignOptions& o, const std::vector<std::string>& inputs,
                   std::string* error) {
  const std::pair<const char*, const std::string*> named[] = {
      {"--out", &o.out}, {"--reconstruct", &o.reconstruct}, {"--matrix", &o.matrix}};
  std::vector<std::pair<const char*, std::string>> targets;
  for (const auto& [option, path] : named) {
    if (path->empty()) continue;
    std::string target;
    if (!core::check_output_target(*path, &target, error)) return false;
    for (const std::string& input : inputs)
      if (!input.empty() && same_file(target, input))
        return refuse_output(error, std::string(option) + " " + *path + " is the input file " +
                                        input + "; an output may not " +
                                        "replace an input (name another file)");
    for (const auto& [other, other_target] : targets)
      if (same_file(target, other_target))
        return refuse_output(error, std::string(option) + " " + *path + " names the file of " +
                                        other + " too; each output needs a file of its own");
    targets.emplace_back(option, target);
  }
  return true;
}

bool write_results(AppState& state, const AlignOptions& o, AlignOutcome& outcome,
                   std::string* error) {
  // All of the command's files or none: each is written aside first, then they all replace
  // their targets.
  core::FileBatch batch;
  return export_results(state, o.out, o.reconstruct, &outcome.motion, error, &batch) &&
         (o.matrix.empty() || batch.add(o.matrix, matrix_text(outcome.motion.m), error)) &&
         batch.commit(error);
}

}  // namespace kestrel::app
