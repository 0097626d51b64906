#include "registration/trial_rounds.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace kestrel::registration {

namespace {

constexpr int kRound = 2;

// One trial of a round: its own options, hooks, generator, result and findings.
struct TrialSlot {
  EngineOptions options;
  EngineHooks hooks;
  core::Random15 rng;
  EngineResult result;
  std::vector<Finding> findings;
  bool ends_run = false;
};

// The run's best as the round begins, with nothing counted yet.
EngineResult snapshot(const EngineResult& run_result, int32_t trials_before) {
  EngineResult r;
  r.motion = run_result.motion;
  r.best_lcp = run_result.best_lcp;
  r.improved = run_result.improved;
  r.trials = trials_before;
  return r;
}

// The context trial `index` (0-based) runs in: the run's state with the slot's own parts.
RunContext fork(const RunContext& run, TrialSlot& slot, int32_t index) {
  RunContext t{slot.options, slot.hooks,        slot.rng,          run.p_index, run.p_sample,
               run.q,        run.run_tol,       run.point_spacing, run.ransac,  false,
               run.base_max_len, slot.result};
  t.q_centroid = run.q_centroid;
  t.best_trial = run.best_trial;
  t.p_grid = run.p_grid;
  t.p_mask = run.p_mask;
  t.q_pairs = run.q_pairs;
  t.polished = run.polished;
  t.confirmations = run.confirmations;
  t.confirming_trial = run.confirming_trial;
  t.findings = &slot.findings;
  const EngineOptions& o = run.options;
  if (!o.base_len_cycle.empty() && o.margin == 0) {
    t.base_max_len = o.base_len_cycle[static_cast<size_t>(index) % o.base_len_cycle.size()];
    t.min_fourth_distance = o.min_fourth_share * t.base_max_len;
  }
  return t;
}

// Replays what the trial found into the run, in the order it found it.
void merge(RunContext& run, TrialSlot& slot) {
  EngineResult& r = run.result;
  r.trials = std::max(r.trials, slot.result.trials);
  r.counts += slot.result.counts;
  r.times += slot.result.times;
  r.stopped = r.stopped || slot.result.stopped;
  for (const Finding& f : slot.findings) {
    run.polished.push_back(f.motion);
    take_finding(run, f, 0, 0);
  }
}

}  // namespace

void run_trial_rounds(RunContext& run, int threads) {
  const EngineOptions& options = run.options;
  std::atomic<bool> stop{false};
  const auto poll = [&run, &stop] {
    if (!stop && run.hooks.stop()) stop = true;
    return stop.load();
  };
  for (int32_t done = 0; done < options.num_try;) {
    if (done > 0 && poll()) {
      run.result.stopped = true;
      break;
    }
    const int32_t n = std::min(kRound, options.num_try - done);
    TrialSlot slots[kRound];
    RunContext* contexts[kRound] = {};
    std::vector<RunContext> forks;
    forks.reserve(kRound);
    for (int32_t k = 0; k < n; ++k) {
      TrialSlot& s = slots[k];
      s.options = options;
      s.rng.seed(static_cast<unsigned>(run.rng.next()) << 15 |
                 static_cast<unsigned>(run.rng.next()));
      s.result = snapshot(run.result, done + k);
      s.hooks.polish = run.hooks.polish;
      if (k == 0) {
        // The first trial may show its progress; improvements wait for the merge.
        s.hooks.repaint = run.hooks.repaint;
        s.hooks.on_progress = run.hooks.on_progress;
        s.hooks.on_step = run.hooks.on_step;
        s.hooks.should_stop = poll;
      } else {
        s.options.console = false;
        s.options.debug = false;
        // On its own thread it only learns of a stop through the flag.
        if (threads >= 2) {
          s.hooks.should_stop = [&stop] { return stop.load(); };
        } else {
          s.hooks.should_stop = poll;
        }
      }
      forks.push_back(fork(run, s, done + k));
      contexts[k] = &forks.back();
    }
    if (threads >= 2 && n == 2) {
      std::atomic<bool> finished{false};
      std::thread second([&] {
        slots[1].ends_run = run_trial(*contexts[1]);
        finished = true;
      });
      slots[0].ends_run = run_trial(*contexts[0]);
      // The stop hook belongs to this thread: keep asking it for the second trial's sake.
      while (!finished) {
        poll();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      second.join();
    } else {
      for (int32_t k = 0; k < n; ++k) slots[k].ends_run = run_trial(*contexts[k]);
    }
    for (int32_t k = 0; k < n; ++k) merge(run, slots[k]);
    done += n;
    if (run.result.stopped || run.result.best_lcp > options.thr || run.result.confirmed) break;
  }
}

}  // namespace kestrel::registration
