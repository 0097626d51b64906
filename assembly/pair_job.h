#pragma once
// One pair of an assembly as a job of its own: scan b registered onto scan a in any pose, then
// judged. A job reads only the prepared scans and draws from a generator seeded for it alone, so
// jobs give the same records in any order, on any thread or machine.

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "assembly/assembly_records.h"
#include "assembly/scan_set.h"

namespace kestrel::assembly {

// Registers scan b of `set` onto scan a with `threads` (1 or 2: the same record) and judges
// the motion found; `stop` (may be empty) ends the search early, and the pair is then at most
// uncertain.
PairRecord register_pair(const ScanSet& set, size_t a, size_t b, int threads,
                         const std::function<bool()>& stop = {});

// The pairs (a < b) worth trying, in the order they run: every pair while there are at most
// options.all_pairs_up_to scans, else each scan with the options.shortlist scans whose shape
// signatures are nearest its own.
std::vector<std::pair<size_t, size_t>> pairs_to_try(const ScanSet& set,
                                                    const AssemblyOptions& options);

}  // namespace kestrel::assembly
