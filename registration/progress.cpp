#include "registration/progress.h"

#include <chrono>
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

void set_text(std::string& text, const char* buffer) {
  text.assign(buffer);
}

}  // namespace

int64_t tick_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void print_trial_start(int trial, int num_try, float lcp) {
  std::printf("\rtrial %d(%d), LCP: %3.3f           ", trial, num_try, lcp);
  std::fflush(stdout);
}

void print_candidate_progress(RegistrationState& state, int num_try, float lcp, uint64_t pos,
                              uint64_t count) {
  const double pct = percent_float(pos, count);
  std::printf("\rtrial %d(%d), LCP: %3.3f %f%c     ", state.trial_count, num_try, lcp, pct, '%');
  std::fflush(stdout);
  char buffer[160];
  if (state.ransac_mode)
    std::snprintf(buffer, sizeof buffer, "trial %d(%d), LCP: %3.3f trying Q base %llu     ",
                  state.trial_count, num_try, lcp, static_cast<unsigned long long>(pos));
  else
    std::snprintf(buffer, sizeof buffer, "trial %d(%d), LCP: %3.3f %2.1f%c     ", state.trial_count,
                  num_try, lcp, pct, '%');
  set_text(state.progress_text, buffer);
}

// The two modes swap which pair of numbers goes to the console and which to the window.
void print_improvement(RegistrationState& state, int num_try, float lcp, uint64_t pos,
                       uint64_t count) {
  const unsigned long long p = percent_int(pos, count);
  const auto pos_ull = static_cast<unsigned long long>(pos);
  const auto count_ull = static_cast<unsigned long long>(count);
  char buffer[160];
  if (state.ransac_mode) {
    std::printf("\rtrial %llu(%llu), LCP: %3.3f %llu%c     ", pos_ull, count_ull, lcp, p, '%');
    std::snprintf(buffer, sizeof buffer, "trial %d(%d), LCP: %3.3f trying Q base %llu     ",
                  state.trial_count, num_try, lcp, pos_ull);
  } else {
    std::printf("\rtrial %d(%d), LCP: %3.3f %llu%c     ", state.trial_count, num_try, lcp, p, '%');
    std::snprintf(buffer, sizeof buffer, "trial %llu(%llu), LCP: %3.3f %llu%c     ", pos_ull,
                  count_ull, lcp, p, '%');
  }
  std::fflush(stdout);
  set_text(state.progress_text, buffer);
}

void print_run_time(int64_t elapsed_ms) {
  std::printf("\nTime: %f\n", static_cast<float>(elapsed_ms) * 0.001);
  std::fflush(stdout);
}

void debug_no_base() {
  std::printf("Can't find a quad in P\n");
}

void debug_base(int i0, int i1, int i2, int i3) {
  std::printf("quad: %d %d %d %d\n", i0, i1, i2, i3);
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

}  // namespace kestrel::registration
