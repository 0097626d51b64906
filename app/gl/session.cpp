#include "app/gl/session.h"

namespace kestrel::app {

GlSession& session() {
  static GlSession s;
  return s;
}

bool points_drawn(const GlSession& s) {
  return s.draw.points_chosen ? s.draw.points : s.state.params.any_pose;
}

std::string list_file_path(const GlSession& s, const std::string& name) {
  if (s.folder.empty() || s.folder == ".") return name;
  return s.folder + (s.folder.back() == '/' ? "" : "/") + name;
}

}  // namespace kestrel::app
