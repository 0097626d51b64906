#pragma once
// The keyword arguments of kestrel.align and kestrel.align_files, applied as kestrel-align
// applies its command line: each keyword stands for one option of the option table
// (app/run_options.h), and its value goes through the aligner's own parser.

#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/run_options.h"

namespace kestrel::python {

// Keyword name and value, in the order given; a value of None counts as not given.
using Keywords = std::vector<std::pair<std::string, pybind11::object>>;

// Sets `state.params` and `o` from `keywords` as kestrel-align sets them from the matching
// options and settles them as it does (app/align_models.h). Throws TypeError (naming
// `function`) for an unknown keyword or a value of the wrong type, and ValueError for a value
// out of range, a keyword that would not act (thr, base_max_len or num_try with any_pose) or a
// transform file that cannot be read.
void apply_keywords(const Keywords& keywords, const char* function, app::AppState& state,
                    app::AlignOptions& o);

// The keywords apply_keywords knows. Throws std::logic_error when one stands for an option the
// table no longer has, so that the module fails to import rather than later.
std::vector<std::string> keyword_names();

}  // namespace kestrel::python
