// kestrel-assemble: many scans of one object into one model (see --help).
#include <cstdio>

#include "app/assembler.h"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return kestrel::app::assemble_main(argc, argv);
}
