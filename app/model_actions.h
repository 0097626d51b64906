#pragma once
// Loading Model P or Model Q and the two model actions of the panel: "Random position" turns Q
// about the z axis, "Add noise" jitters every model set.

#include <string>

#include "app/action_hooks.h"
#include "app/app_state.h"
#include "core/point_set.h"

namespace kestrel::app {

enum class ModelSide { kP, kQ };

// Loads `file` as one model: the full set and the thinned working set, then for P the tree over
// the working set, the point spacing, and Q back to its saved copies; for Q the -l matrix and
// the saved copies. The full set gets faces and normals only while models.full_surfaces is on.
// Reseeds the process generator with 0 first. A load that fails changes nothing but
// status_text, which then holds the reason; the reason also goes to standard error and into
// `error`.
bool load_model(AppState& state, ModelSide side, const std::string& file, const ActionHooks& hooks,
                std::string* error = nullptr);

// A point file read ahead of its load, so that reading one scan can go beside loading another.
struct ParsedFile {
  bool ok = false;
  std::string reason;  // why the file cannot be read, when not ok
  core::PointSet points;
  core::FaceList faces;
  double read_ms = 0;     // parsing the file
  double read_bytes = 0;  // the file's size
};

// Reads `file` as load_model would, on up to `threads` threads, touching no model.
ParsedFile parse_model_file(const std::string& file, int threads);

// load_model of `file`, already read into `parsed` (taken): the same sets, messages and outcome.
bool load_model_parsed(AppState& state, ModelSide side, const std::string& file,
                       ParsedFile&& parsed, const ActionHooks& hooks,
                       std::string* error = nullptr);

// Loads `points` held in memory as load_model loads a file without faces: the same thinning,
// centring, cut and planar reconstruction. `name` stands for the file name in the model sets
// and in messages.
bool load_model_points(AppState& state, ModelSide side, const core::PointSet& points,
                       const std::string& name, const ActionHooks& hooks,
                       std::string* error = nullptr);

// Turns Q (full, working and saved copies) by a random angle in [0, pi] about the z axis and
// writes that rotation into the current transform; Q's placement keeps every turn for export.
void on_random_position(AppState& state);

// Adds Gaussian noise of params.noise_level to every coordinate of all seven model sets.
void on_add_noise(AppState& state);

// One normally distributed value of standard deviation sigma (polar method, one cached spare).
float gaussian(float sigma);
// Drops the cached spare, as at program start.
void reset_gaussian();
void add_noise(core::PointSet& set, float sigma);

}  // namespace kestrel::app
