// Fuzz target of the point-file reader. The input's first byte picks the format and the reader
// settings; the rest is the file. Beyond the sanitizers it checks the reader's contract: a read
// gives finite points and faces inside the set, a refusal says why and changes nothing; and the
// quick reading of plain numbers agrees with sscanf on every line.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/plain_floats.h"
#include "core/point_file.h"
#include "core/point_formats.h"
#include "fuzz/fuzz_file.h"

namespace {

using namespace kestrel;

// Bits 4-5 pick how the set is thinned: faces of an obj file are read only with sample 1.
struct Thinning {
  int32_t sample;
  uint32_t isamp;
};
constexpr Thinning kThinnings[] = {{1, 1000}, {0, 1000}, {0, 2}, {3, 1000}};

// Bits 6-7 pick the cut along x (after centring, so small values cut real sets in two).
constexpr float kCuts[] = {0.0f, 0.5f, -0.5f, 50.0f};

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "point-file reader broke its contract: %s\n", what);
  std::abort();
}

// What sscanf made of a line (`count` numbers, `slow`) against the quick reading of `numbers`:
// it answers only where sscanf agrees, with the same three floats or with no three at all.
void expect_same_reading(const char* numbers, int count, const float (&slow)[3]) {
  float quick[3];
  const core::PlainScan scan = core::scan_plain_floats(numbers, quick);
  if (scan == core::PlainScan::kThree && (count != 3 || std::memcmp(quick, slow, sizeof quick)))
    broken("the quick reading of a line differs from sscanf");
  if (scan == core::PlainScan::kNone && count == 3) broken("a line sscanf reads was skipped");
}

// Every line of the input, read as the text formats read it: numbers first, or after two fields.
void check_plain_floats(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    float slow[3];
    expect_same_reading(line.c_str(),
                        std::sscanf(line.c_str(), "%f %f %f", &slow[0], &slow[1], &slow[2]), slow);
    const char* rest = core::skip_plain_fields(line.c_str(), 2);
    if (rest)
      expect_same_reading(
          rest, std::sscanf(line.c_str(), "%*s %*s %f %f %f", &slow[0], &slow[1], &slow[2]), slow);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool plain_locale = core::plain_decimal_locale();
  if (size == 0) return 0;
  const uint8_t settings = data[0];
  // Bits 0-2 pick the name's ending: a row of the format table, taken modulo its size. A new
  // format goes at the table's end, with seeds under fuzz/corpus/point_file/ whose first byte
  // picks it; the seeds of the rows above keep their meaning.
  const std::vector<core::PointFormat>& formats = core::point_formats();
  const std::string ending = formats[(settings & 7u) % formats.size()].ending;
  const bool centering = (settings & 8u) != 0;
  const Thinning thin = kThinnings[(settings >> 4) & 3u];
  const float cut = kCuts[settings >> 6];
  const std::string path = fuzz::write_input("input." + ending, data + 1, size - 1);
  if (plain_locale) check_plain_floats(data + 1, size - 1);

  // A set and centroid from an earlier read, which a refusal must leave as they are.
  core::PointSet set(2, core::Point3D{7, 7, 7, 0, 0, 0});
  core::FaceList faces(1);
  float cx = 7, cy = 7, cz = 7;
  int32_t sample = thin.sample;
  std::string error;
  if (!core::read_point_set(path, set, faces, centering, sample, cut, cx, cy, cz, thin.isamp,
                            &error)) {
    if (error.rfind(path + ": ", 0) != 0) broken("a refusal without the file name");
    if (set.size() != 2 || faces.size() != 1 || cx != 7 || cy != 7 || cz != 7)
      broken("a refusal changed the caller's set");
    return 0;
  }
  if (set.empty()) broken("an empty set");
  for (const core::Point3D& p : set)
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      broken("a point that is not finite");
  for (const core::Face& f : faces)
    for (int32_t v : f.v)
      if (v < 0 || static_cast<size_t>(v) >= set.size()) broken("a face outside the set");
  return 0;
}
