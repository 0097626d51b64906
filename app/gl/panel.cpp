#include "app/gl/panel.h"

#include <GL/freeglut.h>
#include <backends/imgui_impl_glut.h>
#include <backends/imgui_impl_opengl2.h>
#include <imgui.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "app/command_line.h"
#include "app/gl/model_files.h"
#include "app/gl/panel_controls.h"
#include "app/gl/panel_input.h"
#include "app/gl/window.h"

namespace kestrel::app {

namespace {

constexpr int kPanelX = 700, kPanelY = 50;
constexpr int kInitialWidth = 360, kInitialHeight = 520;

// Tests click the controls by these screen rectangles; printed whenever they change.
void print_rects(const std::vector<WidgetRect>& rects) {
  static std::vector<WidgetRect> last;
  const int wx = glutGet(GLUT_WINDOW_X), wy = glutGet(GLUT_WINDOW_Y);
  bool changed = rects.size() != last.size();
  for (size_t i = 0; !changed && i < rects.size(); ++i)
    changed = rects[i].name != last[i].name || rects[i].x != last[i].x || rects[i].y != last[i].y ||
              rects[i].w != last[i].w || rects[i].h != last[i].h;
  if (!changed) return;
  last = rects;
  for (const WidgetRect& r : rects)
    std::printf("widget\t%s\t%d\t%d\t%d\t%d\n", r.name.c_str(), wx + static_cast<int>(r.x),
                wy + static_cast<int>(r.y), static_cast<int>(r.w), static_cast<int>(r.h));
  std::printf("widgets-end\n");
  std::fflush(stdout);
}

void render(const ImDrawData* data) {
  const ImGuiIO& io = ImGui::GetIO();
  glViewport(0, 0, static_cast<int>(io.DisplaySize.x), static_cast<int>(io.DisplaySize.y));
  const ImVec4 bg = ImGui::GetStyle().Colors[ImGuiCol_WindowBg];
  glClearColor(bg.x, bg.y, bg.z, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  if (data) ImGui_ImplOpenGL2_RenderDrawData(const_cast<ImDrawData*>(data));
  glutSwapBuffers();
}

void on_panel_display() {
  GlSession& s = session();
  apply_panel_input();
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(static_cast<float>(glutGet(GLUT_WINDOW_WIDTH)),
                          static_cast<float>(glutGet(GLUT_WINDOW_HEIGHT)));
  ImGui_ImplOpenGL2_NewFrame();
  ImGui_ImplGLUT_NewFrame();

  ImGui::SetNextWindowPos(ImVec2(0, 0));
  ImGui::SetNextWindowSize(io.DisplaySize);
  ImGui::Begin("Kestrel", nullptr,
               ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
  std::vector<WidgetRect> rects;
  const ImVec2 size = draw_panel_controls(s, rects);
  ImGui::End();
  ImGui::Render();
  render(ImGui::GetDrawData());

  refresh_parameters(s.state.params);  // the fields may have changed
  // A field's message shows on the 3D window's status line.
  static std::string shown_status;
  if (s.state.status_text != shown_status) {
    shown_status = s.state.status_text;
    glutPostWindowRedisplay(s.main_window);
  }
  if (s.pending != PanelAction::kNone) request_idle_step();
  if (panel_input_waiting()) glutPostRedisplay();

  // The window follows its content, as a panel sized by its controls.
  const int w = static_cast<int>(std::ceil(size.x)), h = static_cast<int>(std::ceil(size.y));
  if (w > 0 && h > 0 && (w != glutGet(GLUT_WINDOW_WIDTH) || h != glutGet(GLUT_WINDOW_HEIGHT)))
    glutReshapeWindow(w, h);
  else if (s.print_widget_rects)
    print_rects(rects);
}

}  // namespace

void build_panel(GlSession& s) {
  s.model_files = list_model_files(".");
  glutInitWindowPosition(kPanelX, kPanelY);
  glutInitWindowSize(kInitialWidth, kInitialHeight);
  s.panel_window = glutCreateWindow("Kestrel");
  glutDisplayFunc(on_panel_display);

  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;  // nothing is kept between sessions
  // Frames are drawn only on input, so a blinking text cursor would freeze in either phase.
  io.ConfigInputTextCursorBlink = false;
  ImGui::StyleColorsLight();
  ImGui_ImplGLUT_Init();
  ImGui_ImplOpenGL2_Init();
  install_panel_input();
}

void redraw_panel_last_frame(GlSession& s) {
  const ImDrawData* data = ImGui::GetDrawData();
  if (s.panel_window == 0 || !data || !data->Valid) return;
  glutSetWindow(s.panel_window);
  render(data);
}

}  // namespace kestrel::app
