#include "app/gl/keys.h"

#include <GL/freeglut.h>

#include <cstdlib>
#include <string>

#include "app/gl/session.h"
#include "app/result_files.h"

namespace kestrel::app {

namespace {

// A result file that could not be written: the reason stays on the window's red status line.
void show_failure(GlSession& s, bool ok, const std::string& error) {
  if (!ok) s.state.status_text = error;
}

}  // namespace

void on_key(unsigned char key, int, int) {
  GlSession& s = session();
  std::string error;
  // A key pressed while an action held the GUI thread (the Escape that stopped a run above all)
  // must not act once the action is over.
  if (s.drop_input) return;
  switch (key) {
    case 27:
    case 'q':
      std::exit(0);
    case 's':
      show_failure(s, save_models(s.state, ".", &error), error);
      break;
    case 'o':
      show_failure(s, export_results(s.state, "results.tfm", "reconstruct.obj", nullptr, &error),
                   error);
      break;
    default:
      break;
  }
  glutPostRedisplay();
}

}  // namespace kestrel::app
