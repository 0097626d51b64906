#pragma once
// Backing the heap with transparent huge pages, for programs that hold scans of millions of
// points.

namespace kestrel::core {

// Scans of millions of points are faulted into memory one 4 KiB page at a time, and on a virtual
// machine each fault costs microseconds: a third of a dense pair's run. glibc backs its heap with
// 2 MiB pages when its GLIBC_TUNABLES variable asks for it, but it reads the variable only at
// start; so this starts the program once more, with the same arguments and the variable set. It
// returns (and the program carries on as it is) when the kernel offers no huge pages, when the
// variable already speaks of them, when this is the restarted program, or when the restart fails.
// Call it first in main, before any thread or file is opened.
void restart_with_huge_pages(char** argv);

}  // namespace kestrel::core
