#pragma once
// The keys of the 3D window: Escape and `q` end the program, `s` writes the model sets as OBJ
// files, `o` writes results.tfm and reconstruct.obj (both into the working directory). Beside
// them: `d` turns the distance view on or off, `p` the drawing as lit points, `f` fits the view
// to both models, and `u` undoes the last model-changing button.

namespace kestrel::app {

// GLUT keyboard handler of the 3D window; the mouse position is not used. Keys are
// case-sensitive; any other key only asks for a redraw.
void on_key(unsigned char key, int x, int y);

}  // namespace kestrel::app
