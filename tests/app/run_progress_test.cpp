// The measure of a run's progress (shares, time left) and the wording of shares and durations.

#include "app/run_progress.h"

#include <gtest/gtest.h>

#include "app_test_support.h"

namespace kestrel::app {
namespace {

using testing::step_at;

// ---- shares and time left ----------------------------------------------------------------

TEST(RunProgress, TrialsCountAsEqualPartsOfTheRun) {
  const RunProgress first = run_progress(step_at(1, 4, 0, 0), 0.1);
  EXPECT_EQ(first.trial_share, 0.0);
  EXPECT_EQ(first.run_share, 0.0);
  const RunProgress half = run_progress(step_at(2, 4, 50, 100), 1.0);
  EXPECT_DOUBLE_EQ(half.trial_share, 0.5);
  EXPECT_DOUBLE_EQ(half.run_share, 0.375);
  // A trial still looking for candidates counts the trials before it as done.
  EXPECT_DOUBLE_EQ(run_progress(step_at(3, 4, 0, 0), 1.0).run_share, 0.5);
}

TEST(RunProgress, TimeLeftScalesTheElapsedTimeByTheShareLeft) {
  const RunProgress p = run_progress(step_at(2, 4, 0, 10), 3.0);
  ASSERT_TRUE(p.left_s.has_value());
  EXPECT_DOUBLE_EQ(*p.left_s, 9.0);  // a quarter took 3 s
  EXPECT_DOUBLE_EQ(p.elapsed_s, 3.0);
}

TEST(RunProgress, NoTimeLeftWithoutAShareOrBeforeHalfASecond) {
  EXPECT_FALSE(run_progress(step_at(1, 4, 0, 0), 10.0).left_s);
  EXPECT_FALSE(run_progress(step_at(2, 4, 5, 10), 0.2).left_s);
}

TEST(RunProgress, OddPointsStayWithinZeroAndOne) {
  EXPECT_EQ(run_progress(step_at(1, 4, 7, 5), 1.0).trial_share, 1.0);
  EXPECT_EQ(run_progress(step_at(9, 4, 0, 0), 1.0).run_share, 1.0);
  EXPECT_EQ(run_progress(step_at(0, 0, 0, 0), -2.0).run_share, 0.0);
  EXPECT_EQ(run_progress(step_at(0, 0, 0, 0), -2.0).elapsed_s, 0.0);
  const RunProgress all = run_progress(step_at(4, 4, 10, 10), 2.0);
  ASSERT_TRUE(all.left_s.has_value());
  EXPECT_EQ(*all.left_s, 0.0);
}

// ---- wording -----------------------------------------------------------------------------

TEST(RunProgress, DurationsReadAsSecondsClockTimesOrDays) {
  const std::pair<double, const char*> cases[] = {
      {-1, "0.0 s"},     {0.04, "0.0 s"},  {4.25, "4.2 s"},           {59.94, "59.9 s"},
      {59.97, "1:00"},   {185, "3:05"},    {3599.4, "59:59"},         {3599.6, "1:00:00"},
      {7633, "2:07:13"}, {86400, "1 day"}, {3 * 86400 + 7, "3 days"}, {400 * 86400.0, ">1 year"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(duration_text(seconds), text) << seconds;
}

TEST(RunProgress, SharesShowTwoDigitsWhenSmall) {
  const std::pair<double, const char*> cases[] = {
      {0, "0.0%"},         {0.375, "37.5%"}, {1, "100.0%"},
      {2, "100.0%"},       {0.001, "0.1%"},  {0.00099, "0.099%"},
      {4.2e-5, "0.0042%"}, {1e-4, "0.010%"}, {1e-9, "<0.000001%"},
  };
  for (const auto& [share, text] : cases) EXPECT_EQ(percent_text(share), text) << share;
}

}  // namespace
}  // namespace kestrel::app
