#pragma once
// Loading Model P and Model Q and the two model actions of the panel: "Random position" turns Q
// about the z axis, "Add noise" jitters every model set.

#include <string>

#include "app/app_state.h"
#include "registration/engine_hooks.h"

namespace kestrel::app {

// Loads `file` as Model P (full set, working set, tree over the working set, point spacing).
// A load that fails changes nothing but status_text, which then holds the reason; the reason
// also goes to standard error and into `error`.
bool load_model_p(AppState& state, const std::string& file, const registration::EngineHooks& hooks,
                  std::string* error = nullptr);
// Loads `file` as Model Q (full set, working set, saved copies, the -l matrix applied).
bool load_model_q(AppState& state, const std::string& file, const registration::EngineHooks& hooks,
                  std::string* error = nullptr);

// Turns Q (full, working and saved copies) by a random angle in [0, pi] about the z axis and
// writes that rotation into the current transform.
void on_random_position(AppState& state);

// Adds Gaussian noise of params.noise_level to every coordinate of all seven model sets.
void on_add_noise(AppState& state);

// One normally distributed value of standard deviation sigma (polar method, one cached spare).
float gaussian(float sigma);
void add_noise(core::PointSet& set, float sigma);

}  // namespace kestrel::app
