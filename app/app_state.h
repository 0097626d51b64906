#pragma once
// The whole state of one Kestrel session: run parameters, the model sets with their faces and
// saved copies, and what the window shows. The program holds exactly one; tests build their own.

#include <cstdint>
#include <string>

#include "core/face.h"
#include "core/point_set.h"
#include "core/run_parameters.h"
#include "registration/registration_state.h"

namespace kestrel::app {

struct AppState {
  core::RunParameters params;
  // model_p, model_q, full_q, saved_full_q, the tree over P and the published run results.
  registration::RegistrationState reg;

  core::PointSet full_p;   // all points of P after the cut; drawn; used by ICP
  core::PointSet saved_p;  // the working P as loaded (noise is added to it too)
  core::PointSet saved_q;  // the working Q from which every run starts
  core::FaceList full_p_faces, model_p_faces, full_q_faces, model_q_faces;

  std::string file_p, file_q;  // empty until the model is loaded
  float centroid_p[3] = {0, 0, 0};
  float centroid_q[3] = {0, 0, 0};

  std::string status_text;  // red status line of the window
  bool loading = false;     // a model file is being read
  int32_t run_time_ms = 0;  // duration of the last run action
};

}  // namespace kestrel::app
