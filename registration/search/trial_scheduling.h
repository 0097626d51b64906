#pragma once
// In what order the trials run: one after the other, each seeing what the ones before it found;
// or two at a time from the run as it stood when the round began, each with a generator seeded
// from the run's, what they found merged in trial order afterwards. So a run in rounds gives the
// same motion whether the two trials share one thread or have one each, whatever the timing.

#include "registration/search/parts.h"

namespace kestrel::registration {

class OneByOne : public TrialScheduling {
 public:
  void run(Search& search) const override;
};

// Only the first trial of a round prints and reports progress as it goes; improvements reach
// the hooks at the merge. The stop hook is polled on the calling thread only. The second trial
// gets a thread of its own when `threads` is at least 2 and every part is thread-safe.
class TrialRounds : public TrialScheduling {
 public:
  explicit TrialRounds(int threads) : threads_(threads) {}
  void run(Search& search) const override;

 private:
  int threads_;
};

}  // namespace kestrel::registration
