#include "app/run_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrel::app {

namespace {

// Before this much of a run has passed, the share done says too little about the rest (the
// first base and its quads take a while before any candidate is counted).
constexpr double kMinSecondsForEstimate = 0.5;

std::string formatted(const char* format, double a, double b = 0) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

}  // namespace

RunProgress run_progress(const registration::ProgressPoint& at, double elapsed_s) {
  RunProgress r;
  r.elapsed_s = std::max(0.0, elapsed_s);
  if (at.count > 0)
    r.trial_share = std::min(1.0, static_cast<double>(at.pos) / static_cast<double>(at.count));
  const double trials_done = std::max(0, at.trial - 1);
  const double num_try = std::max(1, at.num_try);
  r.run_share = std::min(1.0, (trials_done + r.trial_share) / num_try);
  if (r.run_share > 0 && r.elapsed_s >= kMinSecondsForEstimate)
    r.left_s = r.elapsed_s * (1.0 - r.run_share) / r.run_share;
  return r;
}

// Rounded to whole seconds before it is split, so 59.97 s reads "1:00", not "60.0 s".
std::string duration_text(double seconds) {
  const double s = std::max(0.0, seconds);
  if (s < 59.95) return formatted("%.1f s", s);
  const double whole = std::round(s);
  const double minutes = std::floor(whole / 60), secs = std::fmod(whole, 60);
  if (whole < 3600) return formatted("%.0f:%02.0f", minutes, secs);
  if (whole < 86400) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f:%02.0f:%02.0f", std::floor(whole / 3600),
                  std::fmod(minutes, 60), secs);
    return buffer;
  }
  const double days = std::round(s / 86400);
  if (days < 365) return formatted(days == 1 ? "%.0f day" : "%.0f days", days);
  return ">1 year";
}

// Small shares get as many decimals as it takes to show two significant digits, so a RANSAC
// run that goes through a trillion candidates still shows its share creep up.
std::string percent_text(double share) {
  const double pct = std::clamp(share, 0.0, 1.0) * 100;
  if (pct == 0 || pct >= 0.1) return formatted("%.1f%%", pct);
  if (pct < 1e-6) return "<0.000001%";
  const int decimals = 1 + static_cast<int>(std::ceil(-std::log10(pct)));
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.*f%%", decimals, pct);
  return buffer;
}

}  // namespace kestrel::app
