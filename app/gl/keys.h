#pragma once
// The keys of the 3D window: Escape and `q` end the program, `s` writes the model sets as OBJ
// files, `o` writes results.tfm and reconstruct.obj (both into the working directory).

namespace kestrel::app {

// GLUT keyboard handler of the 3D window; the mouse position is not used. Keys are
// case-sensitive; any other key only asks for a redraw.
void on_key(unsigned char key, int x, int y);

}  // namespace kestrel::app
