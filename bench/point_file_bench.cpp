// Reads a scan the way loading a model does and prints the time of each stage: parsing alone,
// the full set with its reconstruction (as the window loads it) and without (as the headless
// aligner does), and the thinned working set. Each figure is the fastest of five reads.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "core/point_file.h"
#include "core/prepare_point_set.h"

using Clock = std::chrono::steady_clock;

namespace {

// The fastest of five calls of `step`, in milliseconds.
double best_ms(const std::function<void()>& step) {
  double best = 1e300;
  for (int k = 0; k < 5; ++k) {
    const Clock::time_point t0 = Clock::now();
    step();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : KESTREL_EXAMPLES_DIR "/bun000.vrt";
  using namespace kestrel::core;
  PointSet parsed, set;
  FaceList parsed_faces, faces;
  float cx, cy, cz;
  std::string error;
  if (!parse_point_file(file, parsed, parsed_faces, true, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  double ms = best_ms([&] {
    PointSet points;
    FaceList read_faces;
    parse_point_file(file, points, read_faces, true);
  });
  std::printf("parse:              %8.1f ms  (%zu points)\n", ms, parsed.size());

  for (const bool want_faces : {true, false}) {
    ms = best_ms([&] {
      int32_t one = 1;
      prepare_point_set(file, parsed, parsed_faces, set, faces, true, one, 0, cx, cy, cz, 1000,
                        &error, want_faces);
    });
    std::printf("%s %8.1f ms  (%zu points, %zu faces)\n",
                want_faces ? "full set, faces:   " : "full set, no faces:", ms, set.size(),
                faces.size());
  }

  int32_t sample = 0;
  ms = best_ms([&] {
    sample = 0;
    read_point_set(file, set, faces, true, sample, 0, cx, cy, cz, 1000, &error);
  });
  std::printf("working read:       %8.1f ms  (%zu points, sample %d, %zu faces)\n", ms, set.size(),
              sample, faces.size());
  return 0;
}
