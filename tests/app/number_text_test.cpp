#include "app/number_text.h"

#include <gtest/gtest.h>

namespace kestrel::app {
namespace {

// Six digits as the stream writes them unless they move the value by more than allowed.
TEST(NumberText, SixDigitsOrAsManyAsTheValueNeeds) {
  const struct {
    double value, allowed;
    const char* text;
  } cases[] = {
      {-52.13971234, 2.5e-3, "-52.1397"},
      {0.0025357, 1e-6, "0.0025357"},
      {1, 1e-9, "1"},
      {-0.0, 1e-9, "-0"},
      {2581912.34567, 2.5e-3, "2581912.346"},
      {0.82646573391, 5e-10, "0.826465734"},
      {153.3905, 2.5e-3, "153.391"},
      {153.3905, 2.5e-4, "153.3905"},
      {1.0 / 3, 0, "0.3333333333333333"},
  };
  for (const auto& c : cases) EXPECT_EQ(number_text(c.value, c.allowed), c.text) << c.value;
}

}  // namespace
}  // namespace kestrel::app
