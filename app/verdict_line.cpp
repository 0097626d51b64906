#include "app/verdict_line.h"

#include <cstdio>

namespace kestrel::app {

namespace {

const char* verdict_words(registration::Verdict verdict) {
  switch (verdict) {
    case registration::Verdict::kConfident:
      return "confident";
    case registration::Verdict::kUncertain:
      return "uncertain";
    case registration::Verdict::kNoMatch:
      break;
  }
  return "no match";
}

VerdictTone tone_of(registration::Verdict verdict) {
  switch (verdict) {
    case registration::Verdict::kConfident:
      return VerdictTone::kGood;
    case registration::Verdict::kUncertain:
      return VerdictTone::kDoubt;
    case registration::Verdict::kNoMatch:
      break;
  }
  return VerdictTone::kBad;
}

// The reason's clauses ("a; b; c"), one a line, so each fits the window.
std::vector<std::string> clauses(const std::string& reason) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= reason.size()) {
    const size_t end = reason.find("; ", start);
    out.push_back(reason.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return out;
}

}  // namespace

VerdictLines verdict_lines(const AppState& state) {
  VerdictLines lines;
  if (state.result_label.empty()) return lines;
  const registration::Judgement& j = state.judgement;
  lines.shown = true;
  lines.tone = tone_of(j.verdict);
  lines.verdict = std::string("Verdict: ") + verdict_words(j.verdict) + " (" + state.result_label +
                  (state.result_stopped ? ", stopped" : "") + ")";
  if (!j.reason.empty()) lines.evidence = clauses(j.reason);
  if (state.result_label.find("ICP") != std::string::npos && j.fit.q_asked > 0) {
    char text[160];
    std::snprintf(text, sizeof text, "After ICP: RMS %.3g, %.0f%% of Q within %.3g of P's surface",
                  j.fit.rms, 100 * j.fit.fine_share, j.fit.plane_tol);
    lines.icp = text;
  }
  return lines;
}

}  // namespace kestrel::app
