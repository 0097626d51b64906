#include "icp/run_in_parts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrel::icp {
namespace {

struct Seen {
  std::vector<int> item_hits;
  std::vector<std::size_t> first_of_part;  // SIZE_MAX for a part never run
};

Seen run_and_record(std::size_t n, std::size_t min_run, int max_parts, int threads) {
  Seen seen{std::vector<int>(n, 0), std::vector<std::size_t>(8, SIZE_MAX)};
  run_in_parts(n, min_run, max_parts, threads,
               [&seen](std::size_t part, std::size_t first, std::size_t last) {
                 seen.first_of_part[part] = first;
                 for (std::size_t i = first; i < last; ++i) ++seen.item_hits[i];
               });
  return seen;
}

// The same runs whether this thread does them all or shares them with the helper.
TEST(RunInParts, EveryItemOnceInConsecutiveRunsOnOneThreadOrTwo) {
  struct Case {
    std::size_t n, min_run;
    int max_parts;
    std::vector<std::size_t> firsts;  // of the runs made
  };
  const Case cases[] = {
      {10, 1, 2, {0, 5}},   {11, 1, 2, {0, 5}}, {11, 1, 3, {0, 3, 7}},
      {3, 1, 4, {0, 1, 2}}, {100, 60, 2, {0}},  {120, 60, 2, {0, 60}},
      {0, 1, 2, {0}},       {5, 0, 0, {0}},     {9, 1, 8, {0, 1, 2, 3, 4, 5, 6, 7}},
  };
  for (int threads : {1, 2}) {
    for (const Case& c : cases) {
      const Seen seen = run_and_record(c.n, c.min_run, c.max_parts, threads);
      for (std::size_t i = 0; i < c.n; ++i) EXPECT_EQ(seen.item_hits[i], 1) << "item " << i;
      for (std::size_t k = 0; k < 8; ++k) {
        const std::size_t want = k < c.firsts.size() ? c.firsts[k] : SIZE_MAX;
        EXPECT_EQ(seen.first_of_part[k], want)
            << "n " << c.n << " part " << k << ", " << threads << " threads";
      }
    }
  }
}

// Two callers at once: one of them finds the helper busy and does all its runs itself.
TEST(RunInParts, ConcurrentCallersEachGetTheirWholeJob) {
  std::vector<long> sums(2, 0);
  auto caller = [&sums](std::size_t who) {
    for (int round = 0; round < 200; ++round) {
      std::vector<long> part_sums(4, 0);
      run_in_parts(1000, 1, 4, 2,
                   [&part_sums](std::size_t part, std::size_t first, std::size_t last) {
                     for (std::size_t i = first; i < last; ++i)
                       part_sums[part] += static_cast<long>(i);
                   });
      for (long s : part_sums) sums[who] += s;
    }
  };
  std::thread other(caller, 1);
  caller(0);
  other.join();
  EXPECT_EQ(sums[0], 200L * 999 * 1000 / 2);
  EXPECT_EQ(sums[1], 200L * 999 * 1000 / 2);
}

TEST(RunInParts, ExceptionOfARunReachesTheCallerAfterTheOthers) {
  std::atomic<int> running{0};
  std::atomic<int> ran{0};
  auto throwing = [&running, &ran](std::size_t part, std::size_t, std::size_t) {
    ++running;
    ++ran;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    --running;
    if (part % 2 == 1) throw std::runtime_error("odd part");
  };
  for (int round = 0; round < 50; ++round) {
    ran = 0;
    EXPECT_THROW(run_in_parts(8, 1, 8, 2, throwing), std::runtime_error);
    EXPECT_EQ(running.load(), 0);
    EXPECT_GE(ran.load(), 2);
  }
  // The helper is still there and sound afterwards.
  const Seen seen = run_and_record(6, 1, 2, 2);
  EXPECT_EQ(seen.item_hits, std::vector<int>(6, 1));
}

}  // namespace
}  // namespace kestrel::icp
