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

// The any-pose search frees and takes again blocks of up to a few megabytes in every trial (the
// grid over a trial's pairs). glibc hands blocks over 128 KiB straight back to the kernel, so
// each trial met its memory afresh, a page fault at a time, until some larger block happened to
// be freed (glibc then raises the bound by itself, up to 32 MiB, which kept tens of megabytes
// of a large scan's freed buffers). This fixes the bound: blocks under 4 MiB, and up to 8 MiB
// free at the heap's top, stay with the program. For the programs' mains; a library leaves its
// host's allocator alone.
void keep_freed_blocks();

}  // namespace kestrel::core
