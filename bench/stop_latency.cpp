// How soon a stop request ends a long run: each case loads two models as kestrel-align does,
// starts the engine (or the ICP) and, a set time into it, turns the stop hook on, as
// --max-seconds, Ctrl-C, Escape and Python's KeyboardInterrupt do through the same hook. The
// latency is the time from that moment to the engine's (or the ICP's) return; the front ends
// add their own polling interval (Python checks signals every 50 ms, Escape's key map every
// 20 ms, the aligner at every poll).
// Usage: stop_latency [repeats [name [seconds]]]: each case `repeats` times (default 5), only
// the cases whose name holds `name`, the stop asked `seconds` into the call instead of the
// case's own moment; one line per case (median and worst latency) and the worst of all. On a
// busy machine the worst includes the time other processes held the cores.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/model_actions.h"
#include "app/run_actions.h"
#include "core/clock.h"
#include "core/point_file.h"
#include "core/random15.h"
#include "icp/refine_q_by_icp.h"
#include "registration/registration.h"

using namespace kestrel;

namespace {

const std::string kExamples = KESTREL_EXAMPLES_DIR;

core::PointSet read(const std::string& name) {
  core::PointSet set;
  core::FaceList faces;
  std::string error;
  if (!core::parse_point_file(kExamples + "/" + name, set, faces, false, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  return set;
}

// `count` points of `scan` from a band of x around its median, `half_width` to each side.
core::PointSet strip(const core::PointSet& scan, double half_width, size_t count) {
  std::vector<double> xs;
  for (const core::Point3D& p : scan) xs.push_back(p.x);
  std::nth_element(xs.begin(), xs.begin() + static_cast<long>(xs.size() / 2), xs.end());
  const double mid = xs[xs.size() / 2];
  core::PointSet band;
  for (const core::Point3D& p : scan)
    if (std::fabs(p.x - mid) < half_width) band.push_back(p);
  core::PointSet out;
  for (size_t k = 0; k < count; ++k) out.push_back(band[k * (band.size() - 1) / (count - 1)]);
  return out;
}

// An n x n wavy height field over 200 x 200 units; Q is the part beyond x = 40, turned by 20
// degrees and moved. `waves` sets the surface: scans of other waves share nothing.
core::PointSet wavy(int n, bool as_q, double waves = 1) {
  core::PointSet set;
  const double a = 20 * M_PI / 180;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = 200.0 * i / (n - 1), y = 200.0 * j / (n - 1);
      const double z =
          10 * std::sin(waves * x / 17) * std::cos(waves * y / 23) + 0.002 * waves * x * y;
      if (!as_q) {
        set.push_back({x, y, z, 0, 0, 0});
      } else if (x > 40) {
        const double u = x - 100, v = y - 100;
        set.push_back({std::cos(a) * u - std::sin(a) * v + 5, std::sin(a) * u + std::cos(a) * v - 3,
                       z + 2, 0, 0, 0});
      }
    }
  return set;
}

// `n` points spread evenly at random through a cube of side 120 around the origin: no surface.
core::PointSet cloud(size_t n) {
  core::Random15 rng;
  rng.seed(5);
  const auto coordinate = [&rng] {
    return -60 + 120.0 * (rng.next() * 32768.0 + rng.next()) / (32768.0 * 32768.0);
  };
  core::PointSet set(n);
  for (core::Point3D& p : set) p = {coordinate(), coordinate(), coordinate(), 0, 0, 0};
  return set;
}

enum class Engine { kKestrel, kRansac, kAnyPose, kIcp };

struct Case {
  const char* name;  // the loop the stop lands in
  Engine engine;
  double at_s;  // the stop request, seconds into the engine call
  const core::PointSet* p;
  const core::PointSet* q;
  std::function<void(core::RunParameters&)> options;
};

double since_s(core::Clock::time_point t0) {
  return core::elapsed_ms(t0) * 0.001;
}

// Where an engine call spent its time, in ms: the stages that took any.
std::string stages(const registration::StageTimes& t) {
  const std::pair<const char*, double> all[] = {
      {"normals", t.normals},           {"pairs", t.pair_extraction}, {"quads", t.quad_search},
      {"motions", t.motion_estimation}, {"scoring", t.lcp_scoring},   {"polish", t.polish}};
  std::string text;
  for (const auto& [name, ms] : all)
    if (ms >= 1)
      text +=
          std::string(text.empty() ? "" : ", ") + name + " " + std::to_string(static_cast<int>(ms));
  return text;
}

// Loads the case, then times one engine call stopped at c.at_s; returns the latency in seconds
// (-1 when the call ended before the request), the call's length in `ran_s` and its stage
// times in `where`.
double measure(const Case& c, double& ran_s, std::string& where) {
  app::AppState state;
  state.console = false;
  state.params.headless = true;
  state.models.full_surfaces = false;
  if (c.options) c.options(state.params);
  const app::ActionHooks none;
  if (!app::load_model_points(state, app::ModelSide::kP, *c.p, "p", none) ||
      !app::load_model_points(state, app::ModelSide::kQ, *c.q, "q", none))
    std::exit(1);
  app::refresh_parameters(state.params);
  const app::ModelSets& m = state.models;

  // The request stands from c.at_s on; the engine hears it at its next poll.
  core::Clock::time_point t0 = core::Clock::now();
  bool heard = false;
  const std::function<bool()> stop = [&] { return heard = heard || since_s(t0) >= c.at_s; };
  registration::EngineHooks hooks;
  hooks.should_stop = stop;
  core::Random15 rng;
  rng.seed(0);
  if (c.engine == Engine::kIcp) {
    core::PointSet q = m.full_q;
    t0 = core::Clock::now();
    icp::refine_q_by_icp(m.full_p, q, state.params.threads, true, stop);
  } else {
    const registration::EngineInputs inputs{m.model_p, m.p_index, state.params.point_spacing,
                                            m.model_q};
    t0 = core::Clock::now();
    const registration::EngineResult r =
        c.engine == Engine::kAnyPose
            ? registration::run_any_pose(
                  {m.full_p, m.saved_full_q, m.model_p, m.p_index, m.model_q},
                  app::any_pose_options(state), hooks, rng)
        : c.engine == Engine::kRansac
            ? registration::run_ransac(inputs, app::engine_options(state), hooks, rng)
            : registration::run_kestrel(inputs, app::engine_options(state), hooks, rng);
    where = std::to_string(r.trials) + " trials: " + stages(r.times);
  }
  ran_s = since_s(t0);
  return heard ? ran_s - c.at_s : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const core::PointSet bun000 = read("bun000.vrt"), bun045 = read("bun045.vrt");
  const core::PointSet strip200 = strip(bun000, 15, 200);
  const core::PointSet big_p = wavy(1000, false), big_q = wavy(1000, true);
  const core::PointSet noise = cloud(40000);
  const auto unthinned = [](core::RunParameters& p) { p.isamp = 100000; };
  const auto normals_off = [](core::RunParameters& p) { p.norm_diff = 10; };
  const auto any_pose = [](core::RunParameters& p) {
    p.any_pose = true;
    p.isamp = 4000;
  };
  const auto any_pose_default = [](core::RunParameters& p) { p.any_pose = true; };
  const Case cases[] = {
      {"pair extraction (200-point strip as P, 40097-point Q)", Engine::kKestrel, 0.3, &strip200,
       &bun045, unthinned},
      {"quad search (strip as P, -nd 10)", Engine::kKestrel, 0.5, &strip200, &bun045, normals_off},
      {"any pose: pair table (4000-point working sets)", Engine::kAnyPose, 0.16, &bun000, &bun045,
       any_pose},
      {"any pose: thinning and normals of 1M points (unpolled)", Engine::kAnyPose, 0.05, &big_p,
       &big_q, any_pose_default},
      {"any pose: trials, a scan against a random cloud", Engine::kAnyPose, 1.0, &bun000, &noise,
       any_pose_default},
      {"any pose: trials, later", Engine::kAnyPose, 4.0, &bun000, &noise, any_pose_default},
      {"LCP scoring (RANSAC, whole scans)", Engine::kRansac, 0.3, &bun000, &bun045, unthinned},
      {"ICP trees (1M and 800k points)", Engine::kIcp, 0.05, &big_p, &big_q, nullptr},
      {"ICP normals (1M and 800k points)", Engine::kIcp, 1.0, &big_p, &big_q, nullptr},
      {"ICP steps (1M and 800k points)", Engine::kIcp, 2.6, &big_p, &big_q, nullptr},
  };
  double worst = 0;
  std::printf("%-52s %9s %10s %10s  %s\n", "stop lands in", "asked at", "median", "worst",
              "stage times of the last call (ms)");
  const std::string only = argc > 2 ? argv[2] : "";
  for (Case c : cases) {
    if (std::string(c.name).find(only) == std::string::npos) continue;
    if (argc > 3) c.at_s = std::atof(argv[3]);
    std::vector<double> latencies;
    double ran = 0;
    std::string where;
    for (int k = 0; k < repeats; ++k) latencies.push_back(measure(c, ran, where));
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2], most = latencies.back();
    worst = std::max(worst, most);
    if (most < 0)
      std::printf("%-52s %7.2f s  ended first (%.2f s)  %s\n", c.name, c.at_s, ran, where.c_str());
    else
      std::printf("%-52s %7.2f s %7.1f ms %7.1f ms  %s\n", c.name, c.at_s, median * 1000,
                  most * 1000, where.c_str());
  }
  std::printf("worst: %.1f ms\n", worst * 1000);
  return 0;
}
