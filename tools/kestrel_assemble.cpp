// kestrel-assemble: many scans of one object into one model (see --help).
#include <cstdio>

#include "app/assembler.h"
#include "core/huge_pages.h"

int main(int argc, char** argv) {
  kestrel::core::restart_with_huge_pages(argv);
  kestrel::core::keep_freed_blocks();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return kestrel::app::assemble_main(argc, argv);
}
