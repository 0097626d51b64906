// Fuzz target of the transform-file reader (-l). Beyond the sanitizers it checks the reader's
// contract: a read gives a finite matrix, a refusal names the file and leaves the matrix alone.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/transform_file.h"
#include "fuzz/fuzz_file.h"

namespace {

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "transform-file reader broke its contract: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = kestrel::fuzz::write_input("input.tfm", data, size);
  double m[4][4];
  for (auto& row : m)
    for (double& v : row) v = -7;
  std::string error;
  if (!kestrel::core::read_transform_file(path, m, &error)) {
    if (error.rfind(path, 0) != 0) broken("a refusal without the file name");
    for (const auto& row : m)
      for (double v : row)
        if (v != -7) broken("a refusal changed the matrix");
    return 0;
  }
  for (const auto& row : m)
    for (double v : row)
      if (!std::isfinite(v)) broken("a value that is not finite");
  return 0;
}
