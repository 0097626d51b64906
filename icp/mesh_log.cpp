#include "icp/mesh_log.h"

#include <cstdarg>
#include <cstdio>

namespace kestrel::icp {

int mesh_verbose = 0;

void mesh_log(const char* format, ...) {
  if (!mesh_verbose) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

}  // namespace kestrel::icp
