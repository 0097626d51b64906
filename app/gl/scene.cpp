#include "app/gl/scene.h"

// Buffer objects are core since OpenGL 1.5; the headers declare them with this macro.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <cstdio>

#include "app/gl/scene_text.h"

namespace kestrel::app {

namespace {

constexpr float kPointSize = 2;

void set_material(GLenum which, float r, float g, float b, float a) {
  const GLfloat v[4] = {r, g, b, a};
  glMaterialfv(GL_FRONT_AND_BACK, which, v);
}

// The drawing's motion as OpenGL's column-major matrix.
void multiply_motion(const Matrix4& motion) {
  GLdouble m[16];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m[c * 4 + r] = motion.m[r][c];
  glMultMatrixd(m);
}

void draw_arrays(GLenum mode, const std::vector<float>& positions, const float* normals,
                 const float* colours) {
  if (positions.empty()) return;
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, positions.data());
  if (normals) {
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, 0, normals);
  }
  if (colours) {
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(3, GL_FLOAT, 0, colours);
  }
  glDrawArrays(mode, 0, static_cast<GLsizei>(positions.size() / 3));
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

// The faces of a drawing in buffers of the GL, filled again when the drawing is rebuilt, so a
// frame hands the GL no data.
struct FaceBuffers {
  uint64_t version = 0;
  bool merged = false;
  GLuint positions = 0, normals = 0, indices = 0;
  GLsizei count = 0;
};

template <typename T>
void fill(GLenum target, GLuint& buffer, const std::vector<T>& data) {
  if (buffer == 0) glGenBuffers(1, &buffer);
  glBindBuffer(target, buffer);
  glBufferData(target, static_cast<GLsizeiptr>(data.size() * sizeof(T)), data.data(),
               GL_STATIC_DRAW);
  glBindBuffer(target, 0);
}

// Faces sharing their points; flat shading takes each face's light from its last corner.
void draw_faces(const ModelDrawing& d, FaceBuffers& b, bool merged) {
  if (b.version != d.version || b.merged != merged) {
    const TriangleArrays& t = merged ? d.merged : d.triangles;
    fill(GL_ARRAY_BUFFER, b.positions, t.positions);
    fill(GL_ARRAY_BUFFER, b.normals, t.normals);
    fill(GL_ELEMENT_ARRAY_BUFFER, b.indices, t.indices);
    b.count = static_cast<GLsizei>(t.indices.size());
    b.version = d.version;
    b.merged = merged;
  }
  if (b.count == 0) return;
  glShadeModel(GL_FLAT);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glBindBuffer(GL_ARRAY_BUFFER, b.positions);
  glVertexPointer(3, GL_FLOAT, 0, nullptr);
  glBindBuffer(GL_ARRAY_BUFFER, b.normals);
  glNormalPointer(GL_FLOAT, 0, nullptr);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.indices);
  glDrawElements(GL_TRIANGLES, b.count, GL_UNSIGNED_INT, nullptr);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glShadeModel(GL_SMOOTH);
}

// One model, moved from where its arrays were built to where it stands now.
// Whether the faces' median edge covers less than kFinePixels pixels at the middle of the view,
// where the merged faces show as much.
constexpr double kFinePixels = 3;

bool faces_merged(const ModelDrawing& d, float zoom) {
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  // The frustum's half-height at the eye distance 10.2 spans half the window.
  const double pixels_per_unit = static_cast<double>(zoom) * 0.07 * viewport[3] / (2 * 10.2 * 0.8);
  return d.edge * pixels_per_unit < kFinePixels;
}

void draw_model(ModelDrawing& d, FaceBuffers& faces, bool points, float zoom,
                const std::vector<float>* colours) {
  glPushMatrix();
  multiply_motion(d.motion);
  if (colours && colours->size() == d.vertex.size()) {
    glDisable(GL_LIGHTING);
    glPointSize(kPointSize);
    draw_arrays(GL_POINTS, d.vertex, nullptr, colours->data());
    glEnable(GL_LIGHTING);
  } else if (points) {
    ensure_point_normals(d);
    glPointSize(kPointSize);
    draw_arrays(GL_POINTS, d.vertex, d.normals.empty() ? nullptr : d.normals.data(), nullptr);
  } else {
    draw_faces(d, faces, faces_merged(d, zoom));
  }
  glPopMatrix();
}

}  // namespace

void draw_scene(GlSession& s) {
  AppState& state = s.state;
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  const core::RunParameters& params = state.params;
  const auto draw_limit =
      static_cast<float>(static_cast<double>(params.min_draw_dist) * params.point_spacing * 3);
  ModelSets& m = state.models;
  update_drawing(s.drawing_p, m.full_p, m.full_p_faces, draw_limit);
  update_drawing(s.drawing_q, m.full_q, m.full_q_faces, draw_limit);
  const bool points = points_drawn(s);
  const bool distances = s.draw.distances && !m.full_p.empty() && !m.full_q.empty();
  if (distances) update_distance_view(s.distance_view, s.drawing_p, s.drawing_q);

  set_material(GL_AMBIENT_AND_DIFFUSE, 0.6f, 0.6f, 0.6f, 0.5f);
  set_material(GL_AMBIENT, 0.1f, 0.1f, 0.1f, 0.1f);
  set_material(GL_DIFFUSE, 0.8f, 0.8f, 0.8f, 0.8f);
  static FaceBuffers p_faces, q_faces;
  draw_model(s.drawing_p, p_faces, points, s.view.zoom, nullptr);

  set_material(GL_AMBIENT_AND_DIFFUSE, 0.7f, 0.5f, 0.2f, 0.5f);
  set_material(GL_AMBIENT, 0.7f, 0.5f, 0.2f, 0.4f);
  set_material(GL_DIFFUSE, 0.7f, 0.5f, 0.2f, 0.6f);
  draw_model(s.drawing_q, q_faces, points, s.view.zoom,
             distances ? &s.distance_view.colours : nullptr);

  set_material(GL_AMBIENT_AND_DIFFUSE, 0, 0, 0.8f, 0.8f);
  if (!state.ransac_mode) {
    for (const core::Point3D& b : state.base_points) {
      glPushMatrix();
      glTranslated(b.x, b.y, b.z);
      glutSolidSphere(5, 20, 20);
      glPopMatrix();
    }
  }

  draw_overlay(s, distances ? &s.distance_view.distances : nullptr);
  glEnable(GL_LIGHTING);
  glEnable(GL_DEPTH_TEST);
  glFinish();
}

}  // namespace kestrel::app
