#include "app/gl/leak_check.h"

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_HAS_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_HAS_LSAN 1
#endif
#endif

#ifdef KESTREL_HAS_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace kestrel::app {

void check_leaks_before_toolkit_exit() {
#ifdef KESTREL_HAS_LSAN
  // Exit handlers run last-registered first: this one runs before freeglut's, registered by
  // glutInit. After it the sanitizer's own check at exit does nothing.
  std::atexit([] { __lsan_do_leak_check(); });
#endif
}

}  // namespace kestrel::app
