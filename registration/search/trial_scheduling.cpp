#include "registration/search/trial_scheduling.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

#include "registration/search/run_state.h"
#include "registration/search/run_trial.h"

namespace kestrel::registration {

namespace {

constexpr int kRound = 2;

// One trial of a round: a copy of the run's best, its own tally, reporting and generator.
struct TrialSlot {
  TrialIO io;
  core::Random15 rng;
  BestSoFar best;
  Tally tally;
  bool first_selection = false;
  std::vector<Finding> findings;
  bool ends_run = false;
};

bool all_thread_safe(const SearchParts& parts) {
  return parts.candidates->thread_safe() && parts.scorer->thread_safe() &&
         (!parts.polish || parts.polish->thread_safe()) &&
         (!parts.polished_scorer || parts.polished_scorer->thread_safe());
}

// Replays what the trial found into the run, in the order it found it.
void merge(Search& search, TrialSlot& slot) {
  Tally& t = search.tally;
  t.trials = std::max(t.trials, slot.tally.trials);
  t.counts += slot.tally.counts;
  t.times += slot.tally.times;
  t.stopped = t.stopped || slot.tally.stopped;
  Trial run = search.trial();
  for (const Finding& f : slot.findings) {
    search.best.polished.add(f.motion);
    if (f.polished_from) search.best.polished.add(*f.polished_from);
    take_finding(run, f, 0, 0);
  }
}

// A slot's seed: two draws of the run's generator.
unsigned slot_seed(core::Random15& rng) {
  const auto high = static_cast<unsigned>(rng.next());
  return high << 15 | static_cast<unsigned>(rng.next());
}

// Sets up trial `k` of a round that begins after `done` trials. The first may show its
// progress; the second learns of a stop through `poll`.
void prepare_slot(Search& search, TrialSlot& s, int32_t done, int32_t k,
                  const std::function<bool()>& poll) {
  s.io.console = search.io.console;
  s.io.console_progress = search.io.console_progress;
  s.io.debug = search.io.debug;
  s.rng.seed(slot_seed(search.rng));
  s.best = search.best;
  s.tally.trials = done + k;
  s.io.hooks.should_stop = poll;
  if (k == 0) {
    s.io.hooks.repaint = search.io.hooks.repaint;
    s.io.hooks.on_progress = search.io.hooks.on_progress;
    s.io.hooks.on_step = search.io.hooks.on_step;
  } else {
    s.io.console = false;
    s.io.debug = false;
  }
}

// What a round's thread may do while the round's other trial still runs: find the next round's
// candidates. A round's two trials may draw bases of different sizes, so one can take many times
// the other.
struct NextRound {
  const RunSetup& setup;
  int32_t first = 0;            // the next round's first trial; none when past the last
  int32_t count = 0;            // its trials
  unsigned seeds[kRound] = {};  // their generators' seeds, as the slots will draw them
  Lookahead* ahead = nullptr;   // where their candidates go
};

// The next round's candidates found while one trial of the round still runs: a thread done with
// its own trial takes those nobody has taken yet (the second trial's first) until the other
// trial is done too.
class FindingAhead {
 public:
  explicit FindingAhead(const NextRound* next) : next_(next) {}
  void find(const std::atomic<bool>& other_done, const std::function<bool()>& stop) {
    while (next_ && !other_done) {
      const int32_t k = next_->count - 1 - taken_.fetch_add(1);
      if (k < 0) return;
      find_ahead(next_->setup, next_->first + k, next_->seeds[k], stop, next_->ahead[k]);
    }
  }

 private:
  const NextRound* next_;
  std::atomic<int32_t> taken_{0};
};

// Runs the round's two trials, the second on its own thread; the stop hook belongs to this
// thread, so it keeps being asked for the second trial's sake (which hears of a stop through
// `flag`). Whichever trial is done first, its thread finds the next round's candidates while
// the other still runs, exactly as that round's trials would.
void run_pair(TrialSlot* slots, Trial* trials, const std::function<bool()>& poll,
              const std::function<bool()>& flag, const NextRound* next) {
  std::atomic<bool> first_done{false}, second_done{false}, finished{false};
  FindingAhead ahead(next);
  std::thread second([&] {
    slots[1].ends_run = run_trial(trials[1]);
    second_done = true;
    if (!slots[1].ends_run) ahead.find(first_done, flag);
    finished = true;
  });
  slots[0].ends_run = run_trial(trials[0]);
  first_done = true;
  if (!slots[0].ends_run) ahead.find(second_done, poll);
  while (!finished) {
    poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  second.join();
}

}  // namespace

void OneByOne::run(Search& search) const {
  for (int32_t i = 0; i < search.setup.num_try; ++i) {
    // A trial that finds no candidate never polls inside, so a stop waits at most one trial;
    // the first trial always runs, so even a tiny time limit reports what one trial found.
    if (i > 0 && search.io.hooks.stop()) {
      search.tally.stopped = true;
      break;
    }
    Trial trial = search.trial();
    if (run_trial(trial)) break;
  }
}

void TrialRounds::run(Search& search) const {
  std::atomic<bool> stop{false};
  const std::function<bool()> poll = [&search, &stop] {
    if (!stop && search.io.hooks.stop()) stop = true;
    return stop.load();
  };
  const std::function<bool()> flag = [&stop] { return stop.load(); };
  const bool threaded = threads_ >= 2 && all_thread_safe(search.setup.parts);
  const int32_t num_try = search.setup.num_try;
  // Candidates found ahead for this round's trials, and those being found for the next.
  Lookahead ahead[kRound], coming[kRound];
  for (int32_t done = 0; done < num_try;) {
    if (done > 0 && poll()) {
      search.tally.stopped = true;
      break;
    }
    const int32_t n = std::min(kRound, num_try - done);
    TrialSlot slots[kRound];
    std::vector<Trial> trials;
    for (int32_t k = 0; k < n; ++k) {
      TrialSlot& s = slots[k];
      // On its own thread the second trial only learns of a stop through the flag.
      prepare_slot(search, s, done, k, k > 0 && threaded ? flag : poll);
      trials.push_back(
          {search.setup, s.io, s.rng, s.best, s.tally, s.first_selection, &s.findings, &ahead[k]});
    }
    if (threaded && n == 2) {
      // The next round's seeds from a copy of the run's generator, which its slots draw alike.
      NextRound next{search.setup, done + n, std::min(kRound, num_try - done - n)};
      core::Random15 rng = search.rng;
      for (int32_t k = 0; k < next.count; ++k) next.seeds[k] = slot_seed(rng);
      next.ahead = coming;
      for (Lookahead& a : coming) a.ready = false;  // none left from an earlier round
      run_pair(slots, trials.data(), poll, flag,
               search.io.debug || next.count <= 0 ? nullptr : &next);
      for (int32_t k = 0; k < kRound; ++k) std::swap(ahead[k], coming[k]);
    } else {
      for (int32_t k = 0; k < n; ++k) slots[k].ends_run = run_trial(trials[static_cast<size_t>(k)]);
    }
    for (int32_t k = 0; k < n; ++k) merge(search, slots[k]);
    done += n;
    if (search.tally.stopped || search.setup.parts.stopping->done(search.best)) break;
  }
}

}  // namespace kestrel::registration
