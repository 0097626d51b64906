#include "icp/run_in_parts.h"

#include <algorithm>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrel::icp {

namespace {

// Joins the started threads also when run 0 throws, as a joinable thread must not be destroyed.
struct Helpers {
  std::vector<std::thread> threads;
  ~Helpers() {
    for (std::thread& t : threads) t.join();
  }
};

}  // namespace

void run_in_parts(std::size_t n, std::size_t min_run, int max_parts,
                  const std::function<void(std::size_t, std::size_t, std::size_t)>& run) {
  const std::size_t by_size = n / std::max<std::size_t>(min_run, 1);
  const std::size_t parts =
      std::max<std::size_t>(1, std::min(by_size, static_cast<std::size_t>(std::max(max_parts, 1))));
  auto first = [n, parts](std::size_t k) { return n * k / parts; };
  Helpers helpers;
  helpers.threads.reserve(parts - 1);
  for (std::size_t k = 1; k < parts; ++k) {
    try {
      helpers.threads.emplace_back(std::cref(run), k, first(k), first(k + 1));
    } catch (const std::system_error&) {
      run(k, first(k), first(k + 1));
    }
  }
  run(0, first(0), first(1));
}

}  // namespace kestrel::icp
