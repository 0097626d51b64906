#pragma once
// Every tunable value of a Kestrel session in one plain record. The command line and the panel
// set it; derive_parameters/refresh_parameters (app/) recompute the dependent fields.

#include <cstdint>
#include <string>

namespace kestrel::core {

// Threads a run and the ICP may use unless told otherwise; the results are the same on one.
inline constexpr int32_t kDefaultThreads = 2;

struct RunParameters {
  float thr = -1;              // LCP above which a run stops early; -1 = derive
  int32_t num_try = -1;        // trials per run; -1 = derive
  bool centering = true;       // move each model's centroid to the origin when loading
  float base_max_len = -1;     // longest triangle edge of a base (model units); -1 = derive
  float noise_level = 0.5f;    // standard deviation of "Add noise" (model units)
  float do_scale = 1.0f;       // scale applied to Q about its centroid on export
  float scale_tol = 1.0f;      // 1 = rigid; otherwise pair tolerance widens and affine step runs
  float point_spacing = 1.0f;  // half the mean squared nearest-neighbour distance of P
  float overlap_estimation = 0.55f;  // expected overlap fraction of the two models
  float min_draw_dist = 3.0f;        // edge limit of drawn triangles, in units of 3 * point_spacing
  float norm_diff = 0.02f;           // tolerance of the normal-difference test of pairs
  uint32_t isamp = 1000;             // target working-set size: sample count = points / isamp
  double epsilon = 1.2;              // stored only
  float delta_default = 0.9f;        // stored only (start value of delta)
  int32_t margin = 0;                // 0: bases anywhere; 1/2: bases from the largest/smallest x
  float cut_y = 0;                   // cut along x when loading (0 = none)
  float outl1 = 0;                   // stored only
  float outl2 = 0;                   // stored only
  int32_t sample = 0;                // subsampling count of the working sets; 0 = derive
  float shear = 0;                   // stored only
  bool periodic_test = false;        // stored only
  bool debug = false;                // print the registration's timings and counts
  std::string trans_file;            // transform file given with -l; empty = none
  double trans_matrix[4][4] = {};    // row-major matrix read from the transform file
  float delta = 0.9f;                // run tolerance in units of point_spacing (panel field)
  float model_extent = 0;            // largest side of the joint bounding box, at most 240
  bool any_pose = false;             // search in any orientation, settings from the data
  bool overlap_given = false;        // -o was given: the any-pose search uses it too
  bool thr_given = false;            // -t was given a value other than -1
  bool base_max_len_given = false;   // -q was given a value other than -1
  bool num_try_given = false;        // -y was given
  bool headless = false;             // no idle cycle: the refresh keeps what -t, -q and -y gave
  int32_t threads = kDefaultThreads;  // threads of the any-pose search and the ICP (same results)
};

}  // namespace kestrel::core
