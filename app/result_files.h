#pragma once
// The result files of keys `s` and `o`: the model sets as OBJ files, and the motion found,
// expressed in the coordinates of the input files, as "results.tfm" with both models joined.
// The files of one command are written all or none (core/atomic_file.h); a file that cannot be
// written is an error. Models kept relative to an origin (core/point_origin.h) get it back in
// every motion written.

#include <functional>
#include <ostream>
#include <string>

#include "app/app_state.h"
#include "core/atomic_file.h"
#include "core/rigid_transform.h"

namespace kestrel::app {

// Writes "out1.obj", "out2.obj", "full1.obj", "full2.obj" and "reconstruct.obj" into `folder`
// and prints "written.". False, with the reason in `error`, when a file cannot be written; none
// is written then, and "written." is not printed.
bool save_models(const AppState& state, const std::string& folder = ".",
                 std::string* error = nullptr);

// The 4 x 4 matrix written on lines 5 to 8 of results.tfm (row-major), and the same motion
// without what moved the shown Q after the run (ICP).
struct ExportedMotion {
  double m[4][4] = {};
  double coarse[4][4] = {};
};

// Where `placement` (with `motion`, the current transform) shows Q, as a row-major matrix that
// maps Q's file coordinates onto P's: the centroids `cp`, `cq` of the files enter when the
// models were centred.
ExportedMotion file_motion(const core::RigidTransform& motion, const QPlacement& placement,
                           const float cp[3], const float cq[3], bool centering);

// The current transform with its scale folded into the rotation, as file_motion of Q's
// placement and the loaded models' centroids: the motion export_results writes, from the state
// alone.
ExportedMotion exported_motion(const AppState& state);

// The same for `motion` (of the saved Q, as a run finds motions) in place of the current
// transform: where the run's motion would put Q.
ExportedMotion exported_run_motion(const AppState& state, const core::RigidTransform& motion);

// Re-reads both files, writes `results_path` and `reconstruct_path` (skipped when empty), both or
// neither. Works on copies: the loaded models, their tree and spacing stay as they were. The
// motion written is the one that puts Q's file where the window shows Q (every turn, the run,
// ICP); its rotation and translation are printed. Multiplies the current rotation by its scale
// in place. results.tfm writes each number with the stream's six significant digits, or as many
// more as it needs to move Q's points by at most 1e-5 of Q's size.
// With `batch` the files are only added to it, and the caller commits them with its own.
// False, with the reason in `error` (also printed on standard output), while a model is missing,
// when a file can no longer be read, when the motion is no rotation (app/motion_check.h) or
// when a result file cannot be written.
bool export_results(AppState& state, const std::string& results_path = "results.tfm",
                    const std::string& reconstruct_path = "reconstruct.obj",
                    ExportedMotion* motion = nullptr, std::string* error = nullptr,
                    core::FileBatch* batch = nullptr);

// The text of write_matrix_file, for a FileBatch; `m` must outlive the returned function.
std::function<void(std::ostream&)> matrix_text(const double (&m)[4][4]);

// Writes `m` (row-major) as four lines of four numbers, the form other tools read, with every
// digit a double carries; the last line is "0 0 0 1" as in results.tfm. False, with a message,
// when the file cannot be written.
bool write_matrix_file(const std::string& path, const double (&m)[4][4],
                       std::string* error = nullptr);

// Prints "R:" and the nine elements of the current rotation, row by row.
void print_rotation(const AppState& state);

}  // namespace kestrel::app
