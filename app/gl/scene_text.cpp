#include "app/gl/scene_text.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/verdict_line.h"

namespace kestrel::app {

namespace {

constexpr char kPromptBoth[] = "Please load model P and model Q (one click)";
constexpr char kPromptP[] = "Please load model P (one click)";
constexpr char kPromptQ[] = "Please load model Q (one click)";
constexpr size_t kEarlierMessages = 3;

// Text rows are window pixels from the bottom edge: the first at 5 % of the height, the others
// a font's height apart, so lines never crowd however wide or low the window is.
struct TextLayout {
  float x = 0;       // left end of every line
  float bottom = 0;  // first row
  float line = 0;    // height of a line of the 18-point font
  float small = 0;   // height of a line of the 12-point font
  float width = 0, height = 0;
};

void draw_text(float x, float y, void* font, const std::string& text) {
  glRasterPos2f(x, y);
  for (char c : text) glutBitmapCharacter(font, static_cast<unsigned char>(c));
}

// A pale band behind a line of text, so it reads over the models; the colour is set again
// afterwards, as raster positions take the colour current when they are set.
void backdrop(float x, float y, void* font, const std::string& text, float height) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
  const auto w = static_cast<float>(glutBitmapLength(font, bytes));
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(1, 1, 1, 0.75f);
  glRectf(x - 2, y - 0.3f * height, x + w + 2, y + 0.75f * height);
  glDisable(GL_BLEND);
  glColor4fv(colour);
}

// A line of the 12-point font on its pale band.
void draw_note(float x, float y, const std::string& text, float height) {
  backdrop(x, y, GLUT_BITMAP_HELVETICA_12, text, height);
  draw_text(x, y, GLUT_BITMAP_HELVETICA_12, text);
}

// `text` broken at spaces into lines no wider than `width` pixels in `font` (a word longer than
// that stays whole).
std::vector<std::string> wrapped(void* font, const std::string& text, float width) {
  std::vector<std::string> lines(1);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    const std::string joined = lines.back().empty() ? word : lines.back() + " " + word;
    const auto* bytes = reinterpret_cast<const unsigned char*>(joined.c_str());
    if (!lines.back().empty() && static_cast<float>(glutBitmapLength(font, bytes)) > width)
      lines.push_back(word);
    else
      lines.back() = joined;
    start = end + 1;
  }
  return lines;
}

// Draws `text` wrapped to the window, its first line on top, from row `y` upward; returns the
// row above it.
float draw_upward(const TextLayout& layout, float y, void* font, float line,
                  const std::string& text) {
  const std::vector<std::string> lines = wrapped(font, text, layout.width - 2 * layout.x);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (font == GLUT_BITMAP_HELVETICA_12)
      draw_note(layout.x, y, *it, line);
    else
      draw_text(layout.x, y, font, *it);
    y += line;
  }
  return y;
}

std::string format(const char* fmt, double value) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, fmt, value);
  return buffer;
}

// The file lines and the load prompts; returns the row of the next text line. A message on the
// status line (a refusal, a failed load) stays there instead of the prompt.
float draw_file_lines(GlSession& s, const TextLayout& layout) {
  AppState& state = s.state;
  if (state.loading) return layout.bottom;
  const bool told =
      !state.messages.lines.empty() && state.status_text == state.messages.lines.back();
  const bool keep_status = told || (!s.load_error.empty() && state.status_text == s.load_error);
  auto prompt = [&state, keep_status](const char* text) {
    if (!keep_status) state.status_text = text;
  };
  float row = layout.bottom;
  if (!state.models.file_p.empty()) {
    draw_text(layout.x, row, GLUT_BITMAP_HELVETICA_18, "Model P: " + state.models.file_p);
    row += layout.line;
  } else if (state.models.file_q.empty()) {
    prompt(kPromptBoth);
    return row;
  } else {
    prompt(kPromptP);
  }
  if (!state.models.file_q.empty()) {
    draw_text(layout.x, row, GLUT_BITMAP_HELVETICA_18, "Model Q: " + state.models.file_q);
    row += layout.line;
  } else {
    prompt(kPromptQ);
  }
  return row;
}

void set_tone(VerdictTone tone) {
  switch (tone) {
    case VerdictTone::kGood:
      glColor3f(0, 0.6f, 0);
      return;
    case VerdictTone::kDoubt:
      glColor3f(0.9f, 0.55f, 0);
      return;
    case VerdictTone::kBad:
      glColor3f(0.85f, 0, 0);
      return;
  }
}

// The verdict, its figures and the ICP line from row `y` up; returns the row above them.
float draw_verdict(const AppState& state, const TextLayout& layout, float y) {
  const VerdictLines v = verdict_lines(state);
  if (!v.shown) return y;
  backdrop(layout.x, y, GLUT_BITMAP_HELVETICA_18, v.verdict, layout.line);
  set_tone(v.tone);
  draw_text(layout.x, y, GLUT_BITMAP_HELVETICA_18, v.verdict);
  y += layout.line;
  glColor3f(0.25f, 0.25f, 0.25f);
  if (!v.icp.empty()) {
    draw_note(layout.x, y, v.icp, layout.small);
    y += layout.small;
  }
  // Drawn upward, so the first clause ends on top.
  for (auto it = v.evidence.rbegin(); it != v.evidence.rend(); ++it) {
    draw_note(layout.x, y, *it, layout.small);
    y += layout.small;
  }
  glColor3f(0, 0, 1);
  return y;
}

// The red status line at `y` and the earlier messages above it, in grey.
void draw_status(const AppState& state, const TextLayout& layout, float y) {
  if (!state.status_text.empty()) {
    glColor3f(1, 0, 0);
    y = draw_upward(layout, y, GLUT_BITMAP_TIMES_ROMAN_24, layout.line + 6, state.status_text);
  }
  glColor3f(0.45f, 0.45f, 0.45f);
  const auto earlier = earlier_messages(state, kEarlierMessages);
  for (auto it = earlier.rbegin(); it != earlier.rend(); ++it)
    y = draw_upward(layout, y, GLUT_BITMAP_HELVETICA_12, layout.small, *it);
  glColor3f(0, 0, 1);
}

// A vertical bar at the right edge, 0 at its foot and d.top at its head, with a tick and a
// label for each percentile, and the three percentiles in one line at the top of the window.
void draw_colour_bar(const SurfaceDistances& d, const TextLayout& layout) {
  const float x0 = layout.width - 130, x1 = x0 + 18;
  const float y0 = 0.35f * layout.height, y1 = 0.85f * layout.height;
  constexpr int kSteps = 32;
  glBegin(GL_QUADS);
  for (int i = 0; i < kSteps; ++i) {
    const float a = y0 + (y1 - y0) * static_cast<float>(i) / kSteps;
    const float b = y0 + (y1 - y0) * static_cast<float>(i + 1) / kSteps;
    const auto c = distance_colour(d.top * (i + 0.5) / kSteps, d.top);
    glColor3f(c[0], c[1], c[2]);
    glVertex2f(x0, a), glVertex2f(x1, a), glVertex2f(x1, b), glVertex2f(x0, b);
  }
  glEnd();
  glColor3f(0, 0, 0);
  // The scale left of the bar, the percentiles right of it.
  const auto left_of_bar = [x0](float y, const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    const auto w = static_cast<float>(glutBitmapLength(GLUT_BITMAP_HELVETICA_12, bytes));
    draw_text(x0 - 6 - w, y, GLUT_BITMAP_HELVETICA_12, text);
  };
  left_of_bar(y0 - 4, "0");
  left_of_bar(y1 - 4, format("%.3g+", d.top));
  draw_text(x0 - 20, y1 + 14, GLUT_BITMAP_HELVETICA_12, "Q to P's surface");
  const double marks[3][2] = {{50, d.p50}, {90, d.p90}, {99, d.p99}};
  float last = y0;
  for (const auto& mark : marks) {
    const auto at = static_cast<float>(y0 + (y1 - y0) * std::min(1.0, mark[1] / d.top));
    glBegin(GL_LINES);
    glVertex2f(x0 - 4, at), glVertex2f(x1 + 4, at);
    glEnd();
    const float label = std::max(at - 4, last + 13);
    char text[48];
    std::snprintf(text, sizeof text, "%.0f%%: %.3g", mark[0], mark[1]);
    draw_text(x1 + 6, label, GLUT_BITMAP_HELVETICA_12, text);
    last = label;
  }
  char line[160];
  std::snprintf(line, sizeof line,
                "Q to P's surface: half within %.3g, 90%% within %.3g, 99%% within %.3g", d.p50,
                d.p90, d.p99);
  draw_text(layout.x, layout.height - 22, GLUT_BITMAP_HELVETICA_12, line);
  glColor3f(0, 0, 1);
}

}  // namespace

void draw_overlay(GlSession& s, const SurfaceDistances* distances) {
  AppState& state = s.state;
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  TextLayout layout;
  layout.width = static_cast<float>(viewport[2]);
  layout.height = static_cast<float>(viewport[3]);
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluOrtho2D(0, layout.width, 0, layout.height);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor3f(0, 0, 1);

  layout.x = 0.05f * layout.width;
  layout.bottom = 0.05f * layout.height;
  layout.line = static_cast<float>(glutBitmapHeight(GLUT_BITMAP_HELVETICA_18));
  layout.small = static_cast<float>(glutBitmapHeight(GLUT_BITMAP_HELVETICA_12));
  const float row = draw_file_lines(s, layout);
  const float next = row + layout.line;
  if (!state.progress_text.empty()) {
    draw_text(layout.x, row, GLUT_BITMAP_HELVETICA_18, state.progress_text);
    draw_text(layout.x, next, GLUT_BITMAP_HELVETICA_18, state.progress_detail);
    draw_text(layout.x, next + layout.line, GLUT_BITMAP_HELVETICA_18,
              "press ESC to stop the alignment");
    // Two lines above the last blue line, with room for the larger font.
    draw_status(state, layout, row + 4 * layout.line);
  } else {
    draw_text(layout.x, row, GLUT_BITMAP_HELVETICA_18, format("Best LCP: %f", state.best_lcp));
    draw_text(layout.x, next, GLUT_BITMAP_HELVETICA_18,
              format("Time: %4.2f seconds", state.run_time_ms * 0.001));
    const float above = draw_verdict(state, layout, next + layout.line);
    draw_status(state, layout, std::max(row + 3 * layout.line, above + layout.line));
  }
  if (distances) draw_colour_bar(*distances, layout);
}

}  // namespace kestrel::app
