#include "icp/run_in_parts.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace kestrel::icp {

namespace {

// One call's runs, handed out one at a time under the helper's lock.
struct Job {
  Job(const RunFn& r, std::size_t items, std::size_t runs)
      : run(&r), n(items), parts(runs), end(runs) {}

  const RunFn* run;
  std::size_t n;
  std::size_t parts;
  std::size_t end;           // runs from here on are not handed out
  std::size_t taken = 0;     // runs handed out so far
  std::size_t finished = 0;  // runs done
  std::exception_ptr error;  // the first exception of a run; no run begins after it

  // Runs part k; an exception is kept rather than passed on.
  std::exception_ptr run_part(std::size_t k) const {
    try {
      (*run)(k, n * k / parts, n * (k + 1) / parts);
    } catch (...) {
      return std::current_exception();
    }
    return nullptr;
  }
};

// The helper sleeps until a job is posted and takes runs of it while any are left. The caller
// never waits for it to wake: it takes the runs itself meanwhile, and only waits for runs the
// helper has already begun. A helper that wakes after the job is withdrawn finds nothing to do.
class Helper {
 public:
  Helper() : thread_([this] { serve(); }) {}

  // Runs all of `job`, this thread and the helper together. When another caller's job is
  // posted already, this thread does every run itself.
  void share(Job& job) {
    const bool posted = post(job);
    for (std::size_t k; take(job, k);) {
      std::exception_ptr error = job.run_part(k);
      std::lock_guard<std::mutex> lock(mutex_);
      finish(job, error);
    }
    withdraw(job, posted);
    if (job.error) std::rethrow_exception(job.error);
  }

 private:
  bool post(Job& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (job_) return false;
    job_ = &job;
    lock.unlock();
    wake_.notify_one();
    return true;
  }

  bool take(Job& job, std::size_t& k) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (job.taken == job.end) return false;
    k = job.taken++;
    return true;
  }

  // Under the lock.
  static void finish(Job& job, std::exception_ptr error) {
    ++job.finished;
    if (error && !job.error) {
      job.error = error;
      job.end = job.taken;
    }
  }

  // Hands out nothing more and waits for the runs the helper has begun.
  void withdraw(Job& job, bool posted) {
    std::unique_lock<std::mutex> lock(mutex_);
    job.end = job.taken;
    done_.wait(lock, [&job] { return job.finished == job.taken; });
    if (posted) job_ = nullptr;
  }

  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return job_ && job_->taken < job_->end; });
      Job& job = *job_;
      const std::size_t k = job.taken++;
      lock.unlock();
      std::exception_ptr error = job.run_part(k);
      lock.lock();
      finish(job, error);
      done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;  // a job was posted
  std::condition_variable done_;  // the helper finished a run
  Job* job_ = nullptr;
  std::thread thread_;
};

// Never destroyed, like the thread it owns, which sleeps until the process ends. Null when no
// thread could be started.
Helper* helper() {
  static Helper* const instance = []() -> Helper* {
    try {
      return new Helper;
    } catch (const std::system_error&) {
      return nullptr;
    }
  }();
  return instance;
}

}  // namespace

void run_in_parts(std::size_t n, std::size_t min_run, int max_parts, int threads,
                  const RunFn& run) {
  const std::size_t by_size = n / std::max<std::size_t>(min_run, 1);
  const std::size_t parts =
      std::max<std::size_t>(1, std::min(by_size, static_cast<std::size_t>(std::max(max_parts, 1))));
  Job job(run, n, parts);
  Helper* h = parts > 1 && threads >= 2 ? helper() : nullptr;
  if (h) {
    h->share(job);
    return;
  }
  for (std::size_t k = 0; k < parts; ++k) run(k, n * k / parts, n * (k + 1) / parts);
}

}  // namespace kestrel::icp
