#include "app/model_actions.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "core/clock.h"
#include "core/point_file.h"
#include "core/prepare_point_set.h"
#include "core/random15.h"
#include "core/rigid_transform.h"
#include "registration/registration.h"

namespace kestrel::app {

namespace {

constexpr size_t kLargeModel = 100000;
constexpr char kLoadingText[] = "Please wait while loading the file...";

// A model of more than 100000 points draws its bases from one end of P and is thinned harder.
void apply_large_model_rule(core::RunParameters& params) {
  params.margin = 1;
  params.norm_diff = 0.05f;
  params.isamp = 1000;
}

// Maps every point through rows 1 to 3 of the -l matrix. Without centering the matrix acts on
// the file's coordinates: for a set kept relative to `origin` it moves that origin too, and the
// set stays relative to it.
void apply_trans_matrix(core::PointSet& set, const double (&m)[4][4], bool centering,
                        const core::Origin& origin) {
  double t[3] = {m[0][3], m[1][3], m[2][3]};
  if (!centering && !core::is_zero(origin))
    for (int r = 0; r < 3; ++r)
      t[r] = m[r][0] * origin[0] + m[r][1] * origin[1] + m[r][2] * origin[2] - origin[r] + m[r][3];
  for (core::Point3D& p : set) {
    const double x = p.x, y = p.y, z = p.z;
    p.x = m[0][0] * x + m[0][1] * y + m[0][2] * z + t[0];
    p.y = m[1][0] * x + m[1][1] * y + m[1][2] * z + t[1];
    p.z = m[2][0] * x + m[2][1] * y + m[2][2] * z + t[2];
  }
}

// After either load, once both files are known: the joint extent drives base size and trials.
void finish_load(AppState& state) {
  if (state.models.file_p.empty() || state.models.file_q.empty()) return;
  const core::PointSet& p = state.models.model_p;
  const core::PointSet& q = state.models.model_q;
  if (!p.empty() && state.console) std::printf("%f %f %f\n", p[0].x, p[0].y, p[0].z);
  float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
  for (const core::PointSet* set : {&p, &q}) {
    for (const core::Point3D& pt : *set) {
      const float v[3] = {static_cast<float>(pt.x), static_cast<float>(pt.y),
                          static_cast<float>(pt.z)};
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], v[k]);
        hi[k] = std::max(hi[k], v[k]);
      }
    }
  }
  if (p.empty() && q.empty()) return;
  const float extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  state.params.model_extent = std::min(extent, 240.0f);
}

// One model prepared twice, as every load does: every point that passes the cut into the full
// set, then the working set thinned by params.sample. A file is parsed once for both.
struct ModelRead {
  core::PointSet full, model;
  core::FaceList full_faces, model_faces;
  float centroid[3] = {0, 0, 0};
  core::Origin origin{0, 0, 0};
  double read_ms = 0;     // parsing the file
  double read_bytes = 0;  // the file's size
  FileFigures figures;    // for the results, when read from a file without a cut
};

// The figures of a file's points as parsed (file coordinates less the origin) that writing the
// results needs: P's count and sum, Q's points. The centroid follows from the preparation.
void keep_figures(const core::PointSet& parsed, bool is_p, FileFigures& figures) {
  figures.known = true;
  figures.count = parsed.size();
  if (is_p) {
    for (const core::Point3D& pt : parsed) {
      figures.sum[0] += pt.x;
      figures.sum[1] += pt.y;
      figures.sum[2] += pt.z;
    }
    return;
  }
  figures.xyz.reserve(3 * parsed.size());
  for (const core::Point3D& pt : parsed)
    for (const double v : {pt.x, pt.y, pt.z}) {
      // A number read exactly (far from the origin) is not held by a float: read it again.
      if (static_cast<double>(static_cast<float>(v)) != v) {
        figures = FileFigures();
        return;
      }
      figures.xyz.push_back(static_cast<float>(v));
    }
}

// Where a model comes from: the file `name`, or `points` in memory labelled `name`; `hint` is
// the other model's origin, taken when it suits this one too.
struct ModelSource {
  const std::string& name;
  const core::PointSet* points;
  core::Origin hint;
  ParsedFile* parsed = nullptr;  // the file `name` read ahead, when it was
};

// P always derives its own sample count; Q keeps P's unless Q itself is large. The full set is
// triangulated only when `full_surfaces` asks for it; the same files are refused either way.
// The working set's thinning for a full set of `n` points: P always derives its own sample
// count; Q keeps P's unless Q itself is large. Returns the count prepare_point_set will use.
int32_t settle_sample(size_t n, bool is_p, core::RunParameters& params) {
  if (n > kLargeModel) {
    apply_large_model_rule(params);
    params.sample = 0;
  }
  if (is_p) params.sample = 0;
  if (params.sample != 0) return params.sample;
  return static_cast<int32_t>(n / (params.isamp > 0 ? params.isamp : 1));
}

// The full set prepared first, then the working set from the parsed points; a scan is held
// twice while both sets exist. The file's own faces serve only a working set kept whole.
bool full_then_working(const ModelSource& source, float cut, bool is_p, bool full_surfaces,
                       core::RunParameters& params, core::PointSet& parsed,
                       core::FaceList& parsed_faces, ModelRead& out, std::string& reason) {
  float* c = out.centroid;
  int32_t one = 1;
  if (!core::prepare_point_set_from(source.name, parsed, parsed_faces, out.full, out.full_faces,
                                    params.centering, one, cut, c[0], c[1], c[2], params.isamp,
                                    &reason, full_surfaces))
    return false;
  settle_sample(out.full.size(), is_p, params);
  if (params.sample != 1) parsed_faces.clear();
  return core::prepare_point_set(source.name, std::move(parsed), std::move(parsed_faces), out.model,
                                 out.model_faces, params.centering, params.sample, cut, c[0], c[1],
                                 c[2], params.isamp, &reason);
}

// Without a cut, a working set that is thinned comes from the full set, which takes the parsed
// points over: centred by the same centroid, its points are the ones the working set draws.
bool read_model(const ModelSource& source, float cut, bool is_p, bool full_surfaces,
                core::RunParameters& params, ModelRead& out, std::string& reason) {
  core::PointSet parsed;
  core::FaceList parsed_faces;
  if (source.points) {
    parsed = *source.points;
  } else {
    ParsedFile file = source.parsed ? std::move(*source.parsed)
                                    : parse_model_file(source.name, params.threads);
    if (!file.ok) {
      reason = file.reason;
      return false;
    }
    parsed.swap(file.points);
    parsed_faces.swap(file.faces);
    out.read_ms = file.read_ms;
    out.read_bytes = file.read_bytes;
  }
  out.origin = core::choose_origin(parsed, source.hint);
  // A file's numbers are kept as floats relative to its origin, as a near file's are read.
  core::move_to_origin(parsed, out.origin, source.points == nullptr);
  if (!source.points && cut == 0) keep_figures(parsed, is_p, out.figures);
  const core::RunParameters params_before = params;
  if (cut != 0 || settle_sample(parsed.size(), is_p, params) <= 1) {
    params = params_before;
    return full_then_working(source, cut, is_p, full_surfaces, params, parsed, parsed_faces, out,
                             reason);
  }
  float* c = out.centroid;
  int32_t one = 1;
  if (!core::prepare_point_set(source.name, std::move(parsed), parsed_faces, out.full,
                               out.full_faces, params.centering, one, cut, c[0], c[1], c[2],
                               params.isamp, &reason, full_surfaces))
    return false;
  float unused[3];
  return core::prepare_point_set_from(source.name, out.full, {}, out.model, out.model_faces, false,
                                      params.sample, cut, unused[0], unused[1], unused[2],
                                      params.isamp, &reason);
}

bool fail_load(AppState& state, const core::RunParameters& params_before, const ActionHooks& hooks,
               const std::string& reason, std::string* error) {
  state.params = params_before;
  state.status_text = reason;
  state.loading = false;
  if (state.console) std::fprintf(stderr, "%s\n", reason.c_str());
  if (error) *error = reason;
  hooks.request_repaint();
  return false;
}

// One side's sets within the model sets.
struct SideSets {
  core::PointSet& full;
  core::PointSet& model;
  core::FaceList& full_faces;
  core::FaceList& model_faces;
  std::string& file;
  float* centroid;
  core::Origin& origin;
};

SideSets side_sets(ModelSets& m, ModelSide side) {
  if (side == ModelSide::kP)
    return {m.full_p, m.model_p,    m.full_p_faces, m.model_p_faces,
            m.file_p, m.centroid_p, m.origin_p};
  return {m.full_q, m.model_q, m.full_q_faces, m.model_q_faces, m.file_q, m.centroid_q, m.origin_q};
}

// Everything read: hand it over. P gets its tree and spacing, and Q returns to its saved
// copies (undoing an alignment); Q's saved copies start from the new sets.
void commit(AppState& state, ModelSide side, const std::string& file, ModelRead& read) {
  ModelSets& m = state.models;
  const SideSets sets = side_sets(m, side);
  state.noise_added = false;
  sets.file = file;
  sets.full.swap(read.full);
  sets.full_faces.swap(read.full_faces);
  sets.model.swap(read.model);
  sets.model_faces.swap(read.model_faces);
  std::copy(read.centroid, read.centroid + 3, sets.centroid);
  sets.origin = read.origin;
  FileFigures& figures = side == ModelSide::kP ? m.figures_p : m.figures_q;
  figures = std::move(read.figures);
  std::copy(read.centroid, read.centroid + 3, figures.centroid);
  (side == ModelSide::kP ? m.read_ms_p : m.read_ms_q) = read.read_ms;
  (side == ModelSide::kP ? m.read_bytes_p : m.read_bytes_q) = read.read_bytes;
  if (side == ModelSide::kP) {
    m.p_index.build(m.model_p);
    state.params.point_spacing = static_cast<float>(
        registration::estimate_point_spacing(m.model_p, m.p_index, core::process_random15()) * 0.5);
    m.saved_p = m.model_p;
    m.model_q = m.saved_q;
    m.full_q = m.saved_full_q;
    place_at_saved(m.q_placement);
  } else {
    m.saved_q = m.model_q;
    // A headless run draws nothing, and its end moves a fresh copy of the saved Q: the full Q is
    // kept once, as loaded, rather than copied (a dense scan's copy costs a tenth of a second).
    if (state.params.headless) {
      m.saved_full_q.swap(m.full_q);
      core::PointSet().swap(m.full_q);
    } else {
      m.saved_full_q = m.full_q;
    }
    m.q_placement = QPlacement();
  }
}

// The origin of the model on the other side, while one is loaded there.
core::Origin other_origin(const ModelSets& m, ModelSide side) {
  if (side == ModelSide::kP) return m.file_q.empty() ? core::Origin{0, 0, 0} : m.origin_q;
  return m.file_p.empty() ? core::Origin{0, 0, 0} : m.origin_p;
}

// Both loads: everything is read before anything of the state changes.
bool load(AppState& state, ModelSide side, const ModelSource& source, const ActionHooks& hooks,
          std::string* error) {
  core::srand15(0);
  const bool is_p = side == ModelSide::kP;
  const core::RunParameters params_before = state.params;
  core::RunParameters& params = state.params;
  if (state.console) std::printf("Model %c: %s\n", is_p ? 'P' : 'Q', source.name.c_str());
  state.loading = true;
  state.status_text = kLoadingText;
  hooks.request_repaint();

  // P is cut 100 beyond cut_y, Q 100 before it, so the two overlap around it.
  const float cut = params.cut_y == 0 ? 0.0f : params.cut_y + (is_p ? 100 : -100);
  ModelRead read;
  std::string reason;
  if (!read_model(source, cut, is_p, state.models.full_surfaces, params, read, reason))
    return fail_load(state, params_before, hooks, reason, error);
  if (!is_p && !params.trans_file.empty()) {
    apply_trans_matrix(read.model, params.trans_matrix, params.centering, read.origin);
    apply_trans_matrix(read.full, params.trans_matrix, params.centering, read.origin);
  }
  commit(state, side, source.name, read);

  state.status_text.clear();
  hooks.request_repaint();
  state.loading = false;
  finish_load(state);
  return true;
}

}  // namespace

bool load_model(AppState& state, ModelSide side, const std::string& file, const ActionHooks& hooks,
                std::string* error) {
  return load(state, side, ModelSource{file, nullptr, other_origin(state.models, side)}, hooks,
              error);
}

ParsedFile parse_model_file(const std::string& file, int threads) {
  ParsedFile out;
  const core::Clock::time_point t0 = core::Clock::now();
  out.ok = core::parse_point_file(file, out.points, out.faces, true, &out.reason, threads);
  out.read_ms = core::elapsed_ms(t0);
  std::error_code ec;
  const uintmax_t bytes = std::filesystem::file_size(file, ec);
  out.read_bytes = ec ? 0.0 : static_cast<double>(bytes);
  return out;
}

bool load_model_parsed(AppState& state, ModelSide side, const std::string& file,
                       ParsedFile&& parsed, const ActionHooks& hooks, std::string* error) {
  ModelSource source{file, nullptr, other_origin(state.models, side), &parsed};
  return load(state, side, source, hooks, error);
}

bool load_model_points(AppState& state, ModelSide side, const core::PointSet& points,
                       const std::string& name, const ActionHooks& hooks, std::string* error) {
  return load(state, side, ModelSource{name, &points, other_origin(state.models, side)}, hooks,
              error);
}

void on_random_position(AppState& state) {
  const int r = core::rand15();
  const float a = static_cast<float>(r * (1.0f / 32767.0f) * M_PI);
  const float ca = std::cos(a), sa = std::sin(a);
  Matrix4 turn;
  turn.m[0][0] = ca;
  turn.m[0][1] = sa;
  turn.m[1][0] = -sa;
  turn.m[1][1] = ca;
  ModelSets& m = state.models;
  place_after_turn(m.q_placement, turn, state.current_transform);
  core::DenseMatrix& R = state.current_transform.R;
  R = core::identity_matrix(3);
  R(0, 0) = ca;
  R(0, 1) = sa;
  R(1, 0) = -sa;
  R(1, 1) = ca;
  for (core::PointSet* set : {&m.full_q, &m.saved_full_q, &m.model_q, &m.saved_q})
    core::transform_point_set(*set, core::linear_motion(R));
}

namespace {

// The polar method's second value, kept for the next call.
struct GaussianSpare {
  bool has = false;
  float value = 0;
};

GaussianSpare& gaussian_spare() {
  static GaussianSpare spare;
  return spare;
}

}  // namespace

float gaussian(float sigma) {
  bool& has_spare = gaussian_spare().has;
  float& spare = gaussian_spare().value;
  float g;
  if (has_spare) {
    g = spare;
  } else {
    float u1, u2, s;
    do {
      const int r1 = core::rand15(), r2 = core::rand15();
      u1 = r1 * (1.0f / 32767) * 2 - 1;
      u2 = r2 * (1.0f / 32767) * 2 - 1;
      s = u1 * u1 + u2 * u2;
    } while (s >= 1 || s <= 0);
    const float f = std::sqrt(static_cast<float>(-2.0 * std::log(static_cast<double>(s))) / s);
    g = f * u1;
    spare = f * u2;
  }
  has_spare = !has_spare;
  return g * sigma;
}

void reset_gaussian() {
  gaussian_spare() = GaussianSpare{};
}

void add_noise(core::PointSet& set, float sigma) {
  for (core::Point3D& p : set) {
    p.x += gaussian(sigma);
    p.y += gaussian(sigma);
    p.z += gaussian(sigma);
  }
}

void on_add_noise(AppState& state) {
  const float sigma = state.params.noise_level;
  ModelSets& m = state.models;
  for (core::PointSet* set :
       {&m.model_p, &m.model_q, &m.full_p, &m.full_q, &m.saved_p, &m.saved_q, &m.saved_full_q})
    add_noise(*set, sigma);
  state.noise_added = true;
}

}  // namespace kestrel::app
