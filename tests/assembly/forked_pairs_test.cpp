// Pairs run in two processes come back whole and in order, also when the forked copy dies part
// way: the pairs it did not send are run by the caller.

#include "assembly/forked_pairs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace kestrel::assembly {
namespace {

// A record that carries its pair in every field, as a pair job's would carry its results.
PairRecord made_up(size_t a, size_t b) {
  PairRecord r;
  r.a = a;
  r.b = b;
  r.verdict = (a + b) % 3 == 0 ? "confident" : "uncertain";
  for (size_t i = 0; i < 4; ++i)
    for (size_t j = 0; j < 4; ++j) r.motion[i][j] = 100.0 * a + b + 0.125 * (4 * i + j);
  r.fine_share = 0.01 * static_cast<double>(a + b);
  r.snug = (a * b) % 2 == 1;
  r.seconds = 0.5;
  return r;
}

struct ForkCase {
  const char* name;
  size_t scans;
  size_t copy_dies_at;  // the copy ends itself on the pair with this b (0: never)
};

class ForkedPairs : public ::testing::TestWithParam<ForkCase> {};

TEST_P(ForkedPairs, EveryRecordComesBackInOrder) {
  const ForkCase& c = GetParam();
  std::vector<std::pair<size_t, size_t>> todo;
  for (size_t a = 0; a < c.scans; ++a)
    for (size_t b = a + 1; b < c.scans; ++b) todo.push_back({a, b});
  const pid_t parent = ::getpid();
  const auto run = [&](size_t a, size_t b) {
    if (c.copy_dies_at != 0 && b == c.copy_dies_at && ::getpid() != parent) ::_exit(9);
    return made_up(a, b);
  };
  size_t last = 0;
  const auto records =
      run_pairs_in_two_processes(todo, run, [&last](size_t done) { last = std::max(last, done); });
  ASSERT_TRUE(records.has_value());
  ASSERT_EQ(records->size(), todo.size());
  EXPECT_EQ(last, todo.size());
  for (size_t k = 0; k < todo.size(); ++k) {
    const PairRecord& got = (*records)[k];
    const PairRecord want = made_up(todo[k].first, todo[k].second);
    EXPECT_EQ(got.a, want.a);
    EXPECT_EQ(got.b, want.b);
    EXPECT_EQ(got.verdict, want.verdict);
    EXPECT_EQ(got.motion, want.motion);
    EXPECT_EQ(got.fine_share, want.fine_share);
    EXPECT_EQ(got.snug, want.snug);
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, ForkedPairs,
                         ::testing::Values(ForkCase{"one_pair", 2, 0}, ForkCase{"three_pairs", 3, 0},
                                           ForkCase{"ten_scans", 10, 0},
                                           ForkCase{"copy_dies_part_way", 10, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// Pairs are handed out to whichever process is free: while one runs a long pair, the other runs
// the rest (each record says which process ran it).
TEST(ForkedPairs, AFreeProcessTakesTheNextPair) {
  std::vector<std::pair<size_t, size_t>> todo;
  for (size_t a = 0; a < 8; ++a)
    for (size_t b = a + 1; b < 8; ++b) todo.push_back({a, b});
  const pid_t parent = ::getpid();
  const auto run = [&](size_t a, size_t b) {
    if (a == 0 && b == 1) ::usleep(600000);
    PairRecord r = made_up(a, b);
    r.seconds = ::getpid() == parent ? 0 : 1;
    return r;
  };
  const auto records = run_pairs_in_two_processes(todo, run, {});
  ASSERT_TRUE(records.has_value());
  size_t by_copy = 0;
  for (const PairRecord& r : *records) by_copy += r.seconds == 1;
  const size_t most = std::max(by_copy, todo.size() - by_copy);
  EXPECT_GE(most, todo.size() - 3) << by_copy << " of " << todo.size() << " run by the copy";
}

}  // namespace
}  // namespace kestrel::assembly
