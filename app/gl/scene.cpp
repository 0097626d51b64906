#include "app/gl/scene.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdio>

namespace kestrel::app {

namespace {

constexpr char kPromptBoth[] = "Please load model P and model Q (one click)";
constexpr char kPromptP[] = "Please load model P (one click)";
constexpr char kPromptQ[] = "Please load model Q (one click)";

void set_material(GLenum which, float r, float g, float b, float a) {
  const GLfloat v[4] = {r, g, b, a};
  glMaterialfv(GL_FRONT_AND_BACK, which, v);
}

void vertex(const core::Point3D& p) {
  glVertex3f(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
}

// Flat shading: one normal per face. A face whose first two corners coincide is drawn facing +z
// without the edge test.
void draw_triangles(core::PointSet& set, const core::FaceList& faces, float draw_limit) {
  const auto n = static_cast<int64_t>(set.size());
  glBegin(GL_TRIANGLES);
  for (const core::Face& f : faces) {
    if (f.v[0] < 0 || f.v[1] < 0 || f.v[2] < 0 || f.v[0] >= n || f.v[1] >= n || f.v[2] >= n)
      continue;  // a face list that does not belong to this set
    core::Point3D& A = set[static_cast<size_t>(f.v[0])];
    const core::Point3D& B = set[static_cast<size_t>(f.v[1])];
    const core::Point3D& C = set[static_cast<size_t>(f.v[2])];
    double nx = 0, ny = 0, nz = 1;
    if (f.v[0] != f.v[1]) {
      if (core::distance(A, B) > draw_limit || core::distance(A, C) > draw_limit ||
          core::distance(B, C) > draw_limit)
        continue;
      const double ux = C.x - B.x, uy = C.y - B.y, uz = C.z - B.z;
      const double vx = A.x - B.x, vy = A.y - B.y, vz = A.z - B.z;
      nx = uy * vz - uz * vy;
      ny = uz * vx - ux * vz;
      nz = ux * vy - uy * vx;
      // The length is rounded to float before the division; a zero-area face keeps (0, 0, 0).
      const auto len = static_cast<float>(std::sqrt(nx * nx + ny * ny + nz * nz));
      if (len > 0) {
        nx /= len;
        ny /= len;
        nz /= len;
      }
    }
    A.nx = nx;
    A.ny = ny;
    A.nz = nz;
    const auto fx = static_cast<float>(nx), fy = static_cast<float>(ny),
               fz = static_cast<float>(nz);
    glNormal3f(fx, fy, fz);
    vertex(A);
    glNormal3f(fx, fy, fz);
    vertex(B);
    glNormal3f(fx, fy, fz);
    vertex(C);
  }
  glEnd();
}

// Text rows are window pixels from the bottom edge: the first at 5 % of the height, the others
// a font's height apart, so lines never crowd however wide or low the window is.
struct TextLayout {
  float x = 0;       // left end of every line
  float bottom = 0;  // first row
  float line = 0;    // height of a line of the 18-point font
};

void draw_text(const TextLayout& layout, float y, void* font, const std::string& text) {
  glRasterPos2f(layout.x, y);
  for (char c : text) glutBitmapCharacter(font, static_cast<unsigned char>(c));
}

std::string format(const char* fmt, double value) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, fmt, value);
  return buffer;
}

// The file lines and the load prompts; returns the row of the next text line.
float draw_file_lines(AppState& state, const std::string& load_error, const TextLayout& layout) {
  if (state.loading) return layout.bottom;
  // A failed load keeps its reason on the status line instead of the prompt.
  const bool keep_status = !load_error.empty() && state.status_text == load_error;
  auto prompt = [&state, keep_status](const char* text) {
    if (!keep_status) state.status_text = text;
  };
  float row = layout.bottom;
  if (!state.models.file_p.empty()) {
    draw_text(layout, row, GLUT_BITMAP_HELVETICA_18, "Model P: " + state.models.file_p);
    row += layout.line;
  } else if (state.models.file_q.empty()) {
    prompt(kPromptBoth);
    return row;
  } else {
    prompt(kPromptP);
  }
  if (!state.models.file_q.empty()) {
    draw_text(layout, row, GLUT_BITMAP_HELVETICA_18, "Model Q: " + state.models.file_q);
    row += layout.line;
  } else {
    prompt(kPromptQ);
  }
  return row;
}

// Text always lies on top of the models: no lighting, no depth test.
void draw_overlay(AppState& state, const std::string& load_error) {
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  const auto width = static_cast<float>(viewport[2]), height = static_cast<float>(viewport[3]);
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluOrtho2D(0, width, 0, height);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor3f(0, 0, 1);

  TextLayout layout;
  layout.x = 0.05f * width;
  layout.bottom = 0.05f * height;
  layout.line = static_cast<float>(glutBitmapHeight(GLUT_BITMAP_HELVETICA_18));
  const float row = draw_file_lines(state, load_error, layout);
  const bool running = !state.progress_text.empty();
  if (!state.status_text.empty()) {
    // Two lines above the last blue line, with room for the larger font.
    glColor3f(1, 0, 0);
    const float status_row = row + static_cast<float>(running ? 4 : 3) * layout.line;
    draw_text(layout, status_row, GLUT_BITMAP_TIMES_ROMAN_24, state.status_text);
    glColor3f(0, 0, 1);
  }
  const float next = row + layout.line;
  if (running) {
    draw_text(layout, row, GLUT_BITMAP_HELVETICA_18, state.progress_text);
    draw_text(layout, next, GLUT_BITMAP_HELVETICA_18, state.progress_detail);
    draw_text(layout, next + layout.line, GLUT_BITMAP_HELVETICA_18,
              "press ESC to stop the alignment");
  } else {
    draw_text(layout, row, GLUT_BITMAP_HELVETICA_18, format("Best LCP: %f", state.best_lcp));
    draw_text(layout, next, GLUT_BITMAP_HELVETICA_18,
              format("Time: %4.2f seconds", state.run_time_ms * 0.001));
  }
}

}  // namespace

void draw_scene(AppState& state, const std::string& load_error) {
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  const core::RunParameters& params = state.params;
  const auto draw_limit =
      static_cast<float>(static_cast<double>(params.min_draw_dist) * params.point_spacing * 3);

  set_material(GL_AMBIENT_AND_DIFFUSE, 0.6f, 0.6f, 0.6f, 0.5f);
  set_material(GL_AMBIENT, 0.1f, 0.1f, 0.1f, 0.1f);
  set_material(GL_DIFFUSE, 0.8f, 0.8f, 0.8f, 0.8f);
  draw_triangles(state.models.full_p, state.models.full_p_faces, draw_limit);

  set_material(GL_AMBIENT_AND_DIFFUSE, 0.7f, 0.5f, 0.2f, 0.5f);
  set_material(GL_AMBIENT, 0.7f, 0.5f, 0.2f, 0.4f);
  set_material(GL_DIFFUSE, 0.7f, 0.5f, 0.2f, 0.6f);
  draw_triangles(state.models.full_q, state.models.full_q_faces, draw_limit);

  set_material(GL_AMBIENT_AND_DIFFUSE, 0, 0, 0.8f, 0.8f);
  if (!state.ransac_mode) {
    for (const core::Point3D& b : state.base_points) {
      glPushMatrix();
      glTranslated(b.x, b.y, b.z);
      glutSolidSphere(5, 20, 20);
      glPopMatrix();
    }
  }

  draw_overlay(state, load_error);
  glEnable(GL_LIGHTING);
  glEnable(GL_DEPTH_TEST);
  glFinish();
}

}  // namespace kestrel::app
