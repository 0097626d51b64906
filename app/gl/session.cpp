#include "app/gl/session.h"

namespace kestrel::app {

GlSession& session() {
  static GlSession s;
  return s;
}

}  // namespace kestrel::app
