#include "app/gl/keys.h"

#include <GL/freeglut.h>

#include <cstdlib>

#include "app/gl/session.h"
#include "app/result_files.h"

namespace kestrel::app {

void on_key(unsigned char key, int, int) {
  GlSession& s = session();
  // A key pressed while an action held the GUI thread (the Escape that stopped a run above all)
  // must not act once the action is over.
  if (s.drop_input) return;
  switch (key) {
    case 27:
    case 'q':
      std::exit(0);
    case 's':
      save_models(s.state);
      break;
    case 'o':
      export_results(s.state);
      break;
    default:
      break;
  }
  glutPostRedisplay();
}

}  // namespace kestrel::app
