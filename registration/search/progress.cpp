#include "registration/search/progress.h"

#include <cstdio>

namespace kestrel::registration {

namespace {

// Percentages guard a zero count, which a trial never evaluates but a caller might pass.
double percent_float(uint64_t pos, uint64_t count) {
  return count == 0 ? 0.0 : static_cast<double>(pos) * 100.0 / static_cast<double>(count);
}

// Formed in 64 bits: pos * 100 overflows 32 bits for RANSAC counts of large sets.
unsigned long long percent_int(uint64_t pos, uint64_t count) {
  return count == 0 ? 0ull : static_cast<unsigned long long>(pos * 100 / count);
}

}  // namespace

void print_trial_start(int trial, int num_try, float lcp) {
  std::printf("\rtrial %d(%d), LCP: %3.3f           ", trial, num_try, lcp);
  std::fflush(stdout);
}

std::string candidate_progress(const ProgressPoint& at, bool console) {
  const double pct = percent_float(at.pos, at.count);
  if (console) {
    std::printf("\rtrial %d(%d), LCP: %3.3f %f%c     ", at.trial, at.num_try, at.lcp, pct, '%');
    std::fflush(stdout);
  }
  char buffer[160];
  if (at.ransac)
    std::snprintf(buffer, sizeof buffer, "trial %d(%d), LCP: %3.3f trying Q base %llu     ",
                  at.trial, at.num_try, at.lcp, static_cast<unsigned long long>(at.pos));
  else
    std::snprintf(buffer, sizeof buffer, "trial %d(%d), LCP: %3.3f %2.1f%c     ", at.trial,
                  at.num_try, at.lcp, pct, '%');
  return buffer;
}

// The two modes swap which pair of numbers goes to the console and which to the window.
std::string improvement_progress(const ProgressPoint& at, bool console) {
  const unsigned long long p = percent_int(at.pos, at.count);
  const auto pos = static_cast<unsigned long long>(at.pos);
  const auto count = static_cast<unsigned long long>(at.count);
  char buffer[160];
  if (at.ransac) {
    if (console)
      std::printf("\rtrial %llu(%llu), LCP: %3.3f %llu%c     ", pos, count, at.lcp, p, '%');
    std::snprintf(buffer, sizeof buffer, "trial %d(%d), LCP: %3.3f trying Q base %llu     ",
                  at.trial, at.num_try, at.lcp, pos);
  } else {
    if (console)
      std::printf("\rtrial %d(%d), LCP: %3.3f %llu%c     ", at.trial, at.num_try, at.lcp, p, '%');
    std::snprintf(buffer, sizeof buffer, "trial %llu(%llu), LCP: %3.3f %llu%c     ", pos, count,
                  at.lcp, p, '%');
  }
  if (console) std::fflush(stdout);
  return buffer;
}

void print_run_time(int64_t elapsed_ms) {
  std::printf("\nTime: %f\n", static_cast<float>(elapsed_ms) * 0.001);
  std::fflush(stdout);
}

void debug_no_base() {
  std::printf("Can't find a quad in P\n");
}

void debug_base(const int index[4]) {
  std::printf("quad: %d %d %d %d\n", index[0], index[1], index[2], index[3]);
}

void debug_selection(int64_t ms, double d1, double d2) {
  std::printf("Time for selecting quads: %d, d1=%f d2=%f\n", static_cast<int>(ms), d1, d2);
}

void debug_pairs(int64_t ms, size_t d1_count, size_t d2_count) {
  std::printf("time for getting pairs: %d\n", static_cast<int>(ms));
  std::printf("number of pairs of distance d1: %d\n", static_cast<int>(d1_count));
  std::printf("number of pairs of distance d2: %d\n", static_cast<int>(d2_count));
}

void debug_no_quads() {
  std::printf("Can't find all congruent quads in Q\n");
}

void debug_quads(int64_t ms, size_t quad_count) {
  std::printf("time for getting affine: %d, %d congruent quads were found\n", static_cast<int>(ms),
              static_cast<int>(quad_count));
}

void debug_too_few_q_points(size_t q_count) {
  std::printf("Q has %d points, too few for a triple\n", static_cast<int>(q_count));
}

void debug_evaluation(int64_t ms) {
  std::printf("\nevaluation time: %d\n", static_cast<int>(ms));
  std::printf("\nDone! overall time: %d seconds\n", static_cast<int>(ms / 1000));
}

void debug_any_pose_plan(double cell, float spacing, float normal_spread, float size) {
  std::printf("any pose: grid cell %f, spacing %f, normal spread %f, size %f\n", cell, spacing,
              normal_spread, size);
}

}  // namespace kestrel::registration
