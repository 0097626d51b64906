#pragma once
// Progress reporting of the mesh operations: silent unless `mesh_verbose` is set.

namespace kestrel::icp {

// Process-wide switch, 0 at start; the program never sets it.
extern int mesh_verbose;

// printf-style message to stderr (flushed) when `mesh_verbose` is non-zero.
void mesh_log(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace kestrel::icp
