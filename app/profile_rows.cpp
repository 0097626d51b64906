#include "app/profile_rows.h"

namespace kestrel::app {

std::vector<ProfileRow> stage_rows(const registration::EngineResult& r) {
  return {{"base_selection", "base selection", r.times.base_selection},
          {"pair_extraction", "pair extraction", r.times.pair_extraction},
          {"quad_search", "quad search", r.times.quad_search},
          {"motion_estimation", "motion estimation", r.times.motion_estimation},
          {"lcp_scoring", "LCP scoring", r.times.lcp_scoring},
          {"normals", "normals (any pose)", r.times.normals},
          {"polish", "polish (any pose)", r.times.polish},
          {"features", "features (any pose)", r.times.features}};
}

std::vector<ProfileRow> read_rows(const ModelSets& m) {
  const double ms = m.read_ms_p + m.read_ms_q;
  const double rate = ms > 0 ? (m.read_bytes_p + m.read_bytes_q) / (ms * 1000.0) : 0.0;
  return {{"read_p", "reading P", m.read_ms_p},
          {"read_q", "reading Q", m.read_ms_q},
          {"read_mb_per_s", "read rate (MB/s)", rate}};
}

std::vector<ProfileRow> count_rows(const registration::EngineResult& r) {
  const registration::EngineCounts& c = r.counts;
  return {{"trials", "trials", static_cast<double>(r.trials)},
          {"pairs_d1", "d1 pairs", static_cast<double>(c.pairs_d1)},
          {"pairs_d2", "d2 pairs", static_cast<double>(c.pairs_d2)},
          {"quads", "congruent quads", static_cast<double>(c.quads)},
          {"candidates", "candidates scored", static_cast<double>(c.candidates)},
          {"lcp_early_exits", "LCP early exits", static_cast<double>(c.lcp_early_exits)},
          {"normal_rejections", "normals disagree", static_cast<double>(c.normal_rejections)},
          {"presample_rejections", "presample fails", static_cast<double>(c.presample_rejections)},
          {"polished", "polished", static_cast<double>(c.polished)},
          {"near_polished", "near a polished one", static_cast<double>(c.near_polished)}};
}

std::vector<ProfileRow> evidence_rows(const registration::Judgement& j,
                                      const registration::EngineResult& r) {
  const registration::FitEvidence& f = j.fit;
  return {{"fine_share", "on P's surface", f.fine_share},
          {"near_share", "near P", f.near_share},
          {"on_surface", "of that on the surface", j.on_surface},
          {"rms", "RMS on the surface", f.rms},
          {"constraint", "how firmly it holds", f.constraint},
          {"empty_space", "where the other scan saw nothing", f.empty_space},
          {"spacing", "P's spacing", f.spacing},
          {"noise", "P's noise", f.noise},
          {"radius", "nearness radius", f.radius},
          {"plane_tol", "tangent-plane tolerance", f.plane_tol},
          {"q_points_asked", "points of Q asked", static_cast<double>(f.q_asked)},
          {"settle_degrees", "settling turned it", j.settle_degrees},
          {"settle_shift", "settling moved it", j.settle_shift},
          {"confirmations", "bases that found it again", static_cast<double>(r.confirmations)},
          {"by_features", "found by matched surface features", r.by_features ? 1.0 : 0.0}};
}

}  // namespace kestrel::app
