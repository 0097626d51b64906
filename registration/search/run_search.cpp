#include "registration/search/run_search.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "core/clock.h"
#include "registration/search/progress.h"
#include "registration/search/same_place.h"

namespace kestrel::registration {

namespace {

constexpr size_t kAlternatives = 3;
// The polished motions are filed in cells of this many run tolerances.
constexpr double kPolishedCellTolerances = 6;

// The best-scoring findings that lie elsewhere than the best motion and each other, with their
// LCPs.
std::vector<Alternative> alternatives(const RunSetup& setup, const BestSoFar& best) {
  const SamePlace same{centroid(setup.q), 5, 5, setup.run_tol};
  std::vector<const Finding*> order;
  for (const Finding& f : best.findings) order.push_back(&f);
  std::stable_sort(order.begin(), order.end(),
                   [](const Finding* a, const Finding* b) { return a->score > b->score; });
  std::vector<Alternative> out;
  for (const Finding* f : order) {
    if (out.size() == kAlternatives || !(f->score > 0)) break;
    bool distinct = !same(f->motion, best.motion);
    for (const Alternative& a : out) distinct = distinct && !same(f->motion, a.motion);
    if (distinct) out.push_back({f->motion, f->near > 0 ? f->near : f->score});
  }
  return out;
}

// The caller's stop hook as the run asks it: once it said stop, it says so to every later
// question without asking again, so the loop that heard it and the trial and run around it all
// end (a key poll says so only while the key is down).
std::function<bool()> latched(const std::function<bool()>& hook) {
  if (!hook) return hook;
  auto heard = std::make_shared<bool>(false);
  return [hook, heard] { return *heard || (*heard = hook()); };
}

}  // namespace

EngineResult run_search(const RunSetup& setup, const TrialIO& caller_io, core::Random15& rng,
                        bool first_selection, int64_t start_ms) {
  TrialIO io = caller_io;
  io.hooks.should_stop = latched(caller_io.hooks.should_stop);
  Search search{setup, io, rng};
  // Cells a little wider than the distance at which two motions count as one place.
  search.best.polished =
      PolishedMotions(centroid(setup.q), kPolishedCellTolerances * setup.run_tol);
  search.first_selection = first_selection;
  setup.parts.scheduling->run(search);

  EngineResult result;
  result.motion = search.best.motion;
  result.best_lcp = search.best.shown_lcp();
  result.improved = search.best.improved;
  result.confirmed = search.best.confirmed;
  result.confirmations = search.best.confirmations;
  if (result.improved) result.alternatives = alternatives(setup, search.best);
  result.trials = search.tally.trials;
  result.stopped = search.tally.stopped;
  result.counts = search.tally.counts;
  result.times = search.tally.times;
  if (io.hooks.on_step)
    io.hooks.on_step(
        {setup.ransac_wording, result.trials, setup.num_try, result.best_lcp, 0, 0, true});
  if (io.console) print_run_time(core::tick_ms() - start_ms);
  return result;
}

}  // namespace kestrel::registration
