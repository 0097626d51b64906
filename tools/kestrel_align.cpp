// kestrel-align: the headless aligner (see --help).
#include "app/aligner.h"

int main(int argc, char** argv) { return kestrel::app::align_main(argc, argv); }
