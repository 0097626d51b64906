#pragma once
// Every copy of the two models the program keeps, with their faces, file names, centroids and
// the search structure over the working P. The app owns the one instance; runs read it.

#include <string>
#include <vector>

#include "app/q_placement.h"
#include "core/face.h"
#include "core/point_origin.h"
#include "core/point_set.h"
#include "registration/registration.h"

namespace kestrel::app {

// What writing the results takes from a file, kept from its load so that the file need not be
// read again: in file coordinates less the origin, before any cut. P gives its points' count
// and sum, Q its points themselves (floats, as read). Kept only for a file loaded without a cut.
struct FileFigures {
  bool known = false;
  float centroid[3] = {0, 0, 0};  // of the points as read, as the load centred them
  size_t count = 0;
  double sum[3] = {0, 0, 0};  // P: the points' coordinates added up in order
  std::vector<float> xyz;     // Q: x, y and z of every point in order
};

struct ModelSets {
  core::PointSet model_p;       // working (subsampled) P: source of bases, indexed by p_index
  core::PointSet full_p;        // all points of P after the cut; drawn; used by ICP
  core::PointSet saved_p;       // the working P as loaded (noise is added to it too)
  core::PointSet model_q;       // working Q: moved by a run to the best motion
  core::PointSet full_q;        // all points of Q after the cut; drawn; moved by runs and ICP
  core::PointSet saved_q;       // the working Q from which every run starts
  core::PointSet saved_full_q;  // the full Q as loaded: source of full_q at every run
  core::FaceList model_p_faces, full_p_faces, model_q_faces, full_q_faces;
  registration::AnnIndex p_index;  // exact nearest-neighbour search over model_p

  std::string file_p, file_q;  // empty until the model is loaded
  float centroid_p[3] = {0, 0, 0};
  float centroid_q[3] = {0, 0, 0};
  // Far from its file's origin a model is kept relative to one (core/point_origin.h): every set
  // above holds file coordinates less it, and every motion written adds it back.
  core::Origin origin_p{0, 0, 0};
  core::Origin origin_q{0, 0, 0};
  QPlacement q_placement;  // how the shown full_q came from Q as loaded
  // How long the last read of each file took and how many bytes it held, for the profile.
  double read_ms_p = 0, read_ms_q = 0;
  double read_bytes_p = 0, read_bytes_q = 0;
  FileFigures figures_p, figures_q;

  // Loads give the full sets faces and normals (the planar reconstruction), which only the
  // window uses: it draws them and its "s" key writes them. Headless callers turn this off and
  // save the triangulation of every point; the working sets are triangulated either way.
  bool full_surfaces = true;
};

}  // namespace kestrel::app
