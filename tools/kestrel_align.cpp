// kestrel-align: the headless aligner (see --help).
#include <cstdio>

#include "app/aligner.h"
#include "core/huge_pages.h"

int main(int argc, char** argv) {
  kestrel::core::restart_with_huge_pages(argv);
  kestrel::core::keep_freed_blocks();
  // Console lines arrive as they are printed, also when standard output goes to a file or pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return kestrel::app::align_main(argc, argv);
}
