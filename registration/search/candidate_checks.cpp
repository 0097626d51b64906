#include "registration/search/candidate_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "registration/search/run_state.h"

namespace kestrel::registration {

bool NormalAgreement::passes(const Trial&, const CheckedCandidate& candidate,
                             EngineCounts& counts) const {
  const core::DenseMatrix& R = candidate.motion.R;
  int same = 0, opposite = 0;
  for (const core::PointMatch& m : candidate.matches) {
    double c = 0;
    for (uint32_t i = 0; i < 3; ++i) {
      const double turned = R(i, 0) * m.q.nx + R(i, 1) * m.q.ny + R(i, 2) * m.q.nz;
      c += turned * (i == 0 ? m.p.nx : i == 1 ? m.p.ny : m.p.nz);
    }
    same += c > min_cosine_;
    opposite += -c > min_cosine_;
  }
  const int n = static_cast<int>(candidate.matches.size());
  if (same == n || opposite == n) return true;
  ++counts.normal_rejections;
  return false;
}

bool NotWherePolished::passes(const Trial& trial, const CheckedCandidate& candidate,
                              EngineCounts& counts) const {
  if (candidate.confirming) return true;
  if (!trial.best.polished.any_same(same_place_, candidate.motion)) return true;
  ++counts.near_polished;
  return false;
}

bool PresampleScore::passes(const Trial& trial, const CheckedCandidate& candidate,
                            EngineCounts& counts) const {
  constexpr double kFloor = 0.05;  // below this no sample says anything
  constexpr double kSigmas = 2;
  const double bar = candidate.entry_bar;
  for (const size_t s : {4 * stride_, stride_}) {
    size_t n = 0;
    const double share = trial.setup.parts.scorer->sample_share(candidate.motion, s, n);
    if (n == 0) return true;
    const double sigma = std::sqrt(std::max(bar * (1 - bar), 0.01) / static_cast<double>(n));
    if (share < kFloor || share < bar - kSigmas * sigma) {
      ++counts.presample_rejections;
      return false;
    }
  }
  return true;
}

}  // namespace kestrel::registration
