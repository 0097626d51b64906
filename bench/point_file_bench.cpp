// Reads a scan the way loading a model does (full set, then the working set) and prints the time
// of each read, its reconstruction included.
#include <chrono>
#include <cstdio>
#include <string>

#include "core/point_file.h"

using Clock = std::chrono::steady_clock;

static double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : KESTREL_EXAMPLES_DIR "/bun000.vrt";
  using namespace kestrel::core;
  PointSet set;
  FaceList faces;
  float cx, cy, cz;
  std::string error;

  int32_t one = 1;
  auto t0 = Clock::now();
  if (!read_point_set(file, set, faces, true, one, 0, cx, cy, cz, 1000, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("full read:    %8.1f ms  (%zu points, %zu faces)\n", ms_since(t0), set.size(),
              faces.size());

  int32_t sample = 0;
  t0 = Clock::now();
  read_point_set(file, set, faces, true, sample, 0, cx, cy, cz, 1000, &error);
  std::printf("working read: %8.1f ms  (%zu points, sample %d, %zu faces)\n", ms_since(t0),
              set.size(), sample, faces.size());
  return 0;
}
