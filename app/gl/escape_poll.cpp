#include "app/gl/escape_poll.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <chrono>

namespace kestrel::app {

namespace {

// The queue read is a non-blocking socket check; the key-map query is a round trip.
constexpr int64_t kQueueIntervalUs = 2000;
constexpr int64_t kKeymapIntervalUs = 20000;

int64_t now_us() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

Display* as_display(void* d) {
  return static_cast<Display*>(d);
}

}  // namespace

EscapePoll::~EscapePoll() {
  if (display_) XCloseDisplay(as_display(display_));
}

bool EscapePoll::open(const char* display_name) {
  if (display_) return true;
  Display* d = XOpenDisplay(display_name);
  if (!d) return false;
  display_ = d;
  escape_code_ = XKeysymToKeycode(d, XK_Escape);
  return true;
}

void EscapePoll::watch(unsigned long window) {
  if (!display_ || window == 0) return;
  windows_.push_back(window);
  XSelectInput(as_display(display_), window, KeyPressMask);
  XFlush(as_display(display_));
}

void EscapePoll::reset() {
  if (!display_) return;
  XSync(as_display(display_), False);
  drain_queue();
  last_queue_us_ = last_keymap_us_ = now_us();
}

bool EscapePoll::pressed() {
  if (!display_) return false;
  const int64_t now = now_us();
  bool seen = false;
  if (now - last_queue_us_ >= kQueueIntervalUs) {
    last_queue_us_ = now;
    seen = drain_queue();
  }
  if (!seen && now - last_keymap_us_ >= kKeymapIntervalUs) {
    last_keymap_us_ = now;
    seen = key_held();
  }
  return seen;
}

bool EscapePoll::drain_queue() {
  Display* d = as_display(display_);
  bool seen = false;
  while (XPending(d) > 0) {
    XEvent event;
    XNextEvent(d, &event);
    if (event.type == KeyPress && event.xkey.keycode == escape_code_) seen = true;
  }
  return seen;
}

bool EscapePoll::key_held() {
  if (escape_code_ == 0) return false;
  char keys[32];
  XQueryKeymap(as_display(display_), keys);
  return (keys[escape_code_ / 8] >> (escape_code_ % 8)) & 1;
}

}  // namespace kestrel::app
