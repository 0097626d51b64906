#pragma once
// Many scans of one object into one model: every scan prepared once, any-pose registration with
// a verdict on the pairs worth trying, a pose graph over the confident pairs that rejects the
// wrong ones, and a refinement that lays every placed scan on all the others at once. A scan
// that no confident pair ties to the first is reported and left out, never forced.

#include "assembly/assemble.h"
#include "assembly/assembly_records.h"
#include "assembly/pair_job.h"
#include "assembly/scan_set.h"
