// kestrel: the interactive program. A 3D window shows Model P and Model Q; a control panel loads
// them and starts the runs. Options set the run parameters (see -h).
#include <GL/freeglut.h>
#include <GL/glx.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/gl/leak_check.h"
#include "app/gl/panel.h"
#include "app/gl/panel_actions.h"
#include "app/gl/session.h"
#include "app/gl/window.h"
#include "core/huge_pages.h"
#include "core/random15.h"

namespace {

using namespace kestrel;

bool env_flag(const char* name) {
  const char* v = std::getenv(name);
  return v && *v && std::strcmp(v, "0") != 0;
}

// Lets the Escape poll see key presses on the current window.
void watch_current_window(app::GlSession& s) {
  s.escape.watch(static_cast<unsigned long>(glXGetCurrentDrawable()));
}

}  // namespace

int main(int argc, char** argv) {
  core::restart_with_huge_pages(argv);
  core::keep_freed_blocks();
  // Console lines arrive as they are printed, also when standard output goes to a file or pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  core::srand15(0);
  glutInit(&argc, argv);
  app::check_leaks_before_toolkit_exit();
  app::GlSession& s = app::session();
  s.print_widget_rects = env_flag("KESTREL_WIDGET_RECTS");
  s.hooks = app::window_hooks(s);

  app::create_main_window(s);
  if (!s.escape.open(DisplayString(glXGetCurrentDisplay())))
    std::fprintf(stderr, "Escape cannot stop a run: no second connection to the display.\n");
  watch_current_window(s);
  app::build_panel(s);
  watch_current_window(s);
  glutSetWindow(s.main_window);

  core::RunParameters& params = s.state.params;
  std::vector<std::string> files;
  switch (app::parse_command_line(argc, argv, params, stderr, &files)) {
    case app::ParseOutcome::kExitSuccess:
      return 0;
    case app::ParseOutcome::kExitFailure:
      return 1;
    case app::ParseOutcome::kContinue:
      break;
  }
  std::string error;
  if (!params.trans_file.empty() && !app::read_trans_file(params.trans_file, params, &error)) {
    // The window starts without the file; the reason stays on the status line, in place of
    // the load prompt, until the first action.
    std::fprintf(stderr, "%s\n", error.c_str());
    s.state.status_text = s.load_error = "Not used: " + error;
  }
  if (files.size() > 2) {
    std::fprintf(stderr, "At most two files (set1 set2): %zu were given.\n", files.size());
    return 1;
  }
  // set1 is Model P, set2 Model Q; the first idle steps load them as clicks in the lists would.
  if (!files.empty()) s.startup_loads.emplace_back(app::PanelAction::kLoadP, files[0]);
  if (files.size() > 1) s.startup_loads.emplace_back(app::PanelAction::kLoadQ, files[1]);
  if (!s.startup_loads.empty()) app::request_idle_step();
  app::derive_parameters(params);
  glutMainLoop();
  return 0;
}
