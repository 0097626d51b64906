#include "registration/search/random_triples.h"

#include "registration/search/progress.h"
#include "registration/search/run_state.h"

namespace kestrel::registration {

namespace {

// |Q|^3 in 64 bits (32 bits wrap from 1626 points on), saturating for absurdly large sets.
uint64_t triple_count(size_t q_size) {
  const auto n = static_cast<uint64_t>(q_size);
  constexpr uint64_t kCubeRootOfMax = 2642245;
  return n > kCubeRootOfMax ? UINT64_MAX : n * n * n;
}

}  // namespace

bool RandomTriples::find(Trial& trial, const Base&, TrialCandidates& out) const {
  // No pairwise distinct triple exists: end the trial like one without a base.
  if (trial.setup.q.size() < 3) {
    if (trial.io.debug) debug_too_few_q_points(trial.setup.q.size());
    return false;
  }
  out.count = triple_count(trial.setup.q.size());
  return true;
}

void RandomTriples::matches(Trial& trial, const Base& base, const TrialCandidates&, uint64_t,
                            std::vector<core::PointMatch>& out) const {
  const core::PointSet& q = trial.setup.q;
  const auto n = static_cast<uint64_t>(q.size());
  uint64_t picked[3];
  do {
    for (uint64_t& k : picked) k = static_cast<uint64_t>(trial.rng.next()) % n;
  } while (picked[0] == picked[1] || picked[0] == picked[2] || picked[1] == picked[2]);
  out.resize(3);
  for (size_t k = 0; k < 3; ++k)
    out[k] = {trial.setup.p_sample[static_cast<size_t>(base.index[k])], q[picked[k]]};
}

}  // namespace kestrel::registration
