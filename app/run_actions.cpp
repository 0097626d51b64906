#include "app/run_actions.h"

#include <chrono>
#include <cstdio>

#include "app/command_line.h"
#include "core/random15.h"
#include "core/rigid_transform.h"
#include "registration/run_registration.h"

namespace kestrel::app {

namespace {

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// What the idle cycle would do before the run: refresh the derived parameters.
void idle_step(AppState& state, const registration::EngineHooks& hooks) {
  hooks.request_repaint();
  refresh_parameters(state.params);
}

}  // namespace

void on_start_kestrel(AppState& state, const registration::EngineHooks& hooks) {
  state.status_text = "Running Kestrel...";
  hooks.request_repaint();
  state.reg.ransac_mode = false;
  const int64_t t0 = now_ms();
  core::srand15(0);
  idle_step(state, hooks);
  state.reg.model_q = state.saved_q;
  if (state.reg.model_p.empty() || state.reg.model_q.empty()) return;

  state.reg.trial_count = 0;
  registration::run_registration(state.reg, state.params, hooks);

  state.reg.full_q = state.reg.saved_full_q;
  core::transform_point_set(state.reg.full_q, state.reg.current_transform);
  state.reg.progress_text.clear();
  state.run_time_ms = static_cast<int32_t>(now_ms() - t0);
  state.status_text = no_motion_reason(state.reg);
  hooks.request_repaint();
}

void on_start_ransac(AppState& state, const registration::EngineHooks& hooks) {
  state.status_text = "Running basic RANSAC...";
  hooks.request_repaint();
  state.reg.ransac_mode = true;
  const int64_t t0 = now_ms();
  core::srand15(0);
  idle_step(state, hooks);
  state.reg.model_q = state.saved_q;
  state.reg.full_q = state.reg.saved_full_q;
  if (state.reg.model_p.empty() || state.reg.model_q.empty()) return;

  state.reg.trial_count = 0;
  registration::run_registration(state.reg, state.params, hooks);

  // full_q keeps the motion of the run's last improvement, published by the trial itself.
  state.reg.progress_text.clear();
  state.run_time_ms = static_cast<int32_t>(now_ms() - t0);
  state.reg.ransac_mode = false;
  state.status_text = no_motion_reason(state.reg);
  hooks.request_repaint();
}

std::string no_motion_reason(const registration::RegistrationState& reg) {
  if (reg.run_lcp > 0) return "";
  const auto count = [](uint64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  const std::string trials = count(static_cast<uint64_t>(reg.trial_count), "trial");
  if (reg.run_candidates == 0) return "No motion found: " + trials + ", no candidate motion";
  return "No motion found: " + trials + ", " + count(reg.run_candidates, "candidate motion") +
         ", none put a point of Q within the tolerance of P (best LCP 0)";
}

icp::IcpRefineResult on_start_icp(AppState& state, const registration::EngineHooks& hooks) {
  state.status_text = "Running ICP...";
  hooks.request_repaint();
  icp::IcpRefineResult result = icp::refine_q_by_icp(state.full_p, state.reg.full_q);
  if (!result.ran) {
    state.status_text = result.message;
    std::fprintf(stderr, "%s\n", result.message.c_str());
  } else {
    state.status_text.clear();
  }
  hooks.request_repaint();
  return result;
}

}  // namespace kestrel::app
