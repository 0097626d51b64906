#pragma once
// How a long loop sees a stop request (a time limit, Ctrl-C, Escape) for the price of a
// counter: the request's hook is asked only after a stretch of work, so a loop may check at
// every step without slowing down, and still ends within a fraction of a millisecond of the
// request. Nothing else changes: a loop that is never asked to stop computes what it always did.

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace kestrel::core {

// One per loop and thread; `hook` (may be empty: never stop) must outlive it and be safe to
// call from that thread.
class StopCheck {
 public:
  // Work units between two questions to the hook; a unit is about one distance test.
  static constexpr int64_t kStride = int64_t{1} << 16;

  explicit StopCheck(const std::function<bool()>& hook, int64_t stride = kStride)
      : hook_(hook ? &hook : nullptr), stride_(stride) {}

  // Counts `work` more units done; true once the hook said stop (asked at the first call, so a
  // loop begun after a request ends at once, and whenever a stride is done).
  bool operator()(int64_t work = 1) {
    if (stopped_ || !hook_) return stopped_;
    left_ -= work;
    if (left_ > 0) return false;
    left_ = stride_;
    stopped_ = (*hook_)();
    return stopped_;
  }

  bool stopped() const { return stopped_; }

 private:
  const std::function<bool()>* hook_;
  int64_t stride_;
  int64_t left_ = 0;
  bool stopped_ = false;
};

// A stop request shared by the threads of one job whose hook may only be asked from the thread
// that created it (the aligner's clock and Ctrl-C, Python's signal check): that thread asks the
// hook, the job's other threads read what it last heard. hook() gives it the form StopCheck
// and the long loops take, for any of the job's threads.
class SharedStop {
 public:
  explicit SharedStop(const std::function<bool()>& hook)
      : hook_(hook ? &hook : nullptr), owner_(std::this_thread::get_id()) {}
  SharedStop(const SharedStop&) = delete;
  SharedStop& operator=(const SharedStop&) = delete;

  bool operator()() {
    if (hook_ && !stopped_.load() && std::this_thread::get_id() == owner_ && (*hook_)())
      stopped_.store(true);
    return stopped_.load();
  }

  // What was last heard, without asking.
  bool stopped() const { return stopped_.load(); }

  // `this` must outlive the function.
  const std::function<bool()>& hook() const { return as_hook_; }

 private:
  const std::function<bool()>* hook_;
  std::thread::id owner_;
  std::atomic<bool> stopped_{false};
  const std::function<bool()> as_hook_ = [this] { return (*this)(); };
};

}  // namespace kestrel::core
