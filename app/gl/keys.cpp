#include "app/gl/keys.h"

#include <GL/freeglut.h>

#include <cstdlib>

#include "app/gl/session.h"
#include "app/gl/window.h"
#include "app/window_actions.h"

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
      window_save(s.state);
      break;
    case 'o':
      window_export(s.state);
      break;
    case 'd':
      s.draw.distances = !s.draw.distances;
      break;
    case 'p':
      s.draw.points = !points_drawn(s);
      s.draw.points_chosen = true;
      break;
    case 'f':
      fit_view_to_models(s);
      break;
    case 'u':
      if (!s.busy && s.pending == PanelAction::kNone) {
        s.pending = PanelAction::kUndo;
        request_idle_step();
      }
      break;
    default:
      break;
  }
  // The panel shows the checkboxes and the messages too.
  if (s.panel_window != 0) glutPostWindowRedisplay(s.panel_window);
  glutPostRedisplay();
}

}  // namespace kestrel::app
