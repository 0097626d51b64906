#include "core/plain_floats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace kestrel::core {
namespace {

// What sscanf's "%f %f %f" makes of a line: its count and the floats it converted.
struct Reference {
  int count = 0;
  float v[3] = {0, 0, 0};
};

Reference sscanf_reading(const char* text) {
  Reference r;
  r.count = std::sscanf(text, "%f %f %f", &r.v[0], &r.v[1], &r.v[2]);
  return r;
}

bool same_bits(float a, float b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The quick reading answers only where sscanf agrees: three numbers with the same bits, or no
// three numbers at all.
void expect_agrees_with_sscanf(const std::string& line, PlainScan expected) {
  float v[3] = {-7, -7, -7};
  const PlainScan scan = scan_plain_floats(line.c_str(), v);
  const Reference ref = sscanf_reading(line.c_str());
  EXPECT_EQ(scan, expected) << '"' << line << '"';
  if (scan == PlainScan::kThree) {
    ASSERT_EQ(ref.count, 3) << '"' << line << '"';
    for (int k = 0; k < 3; ++k)
      EXPECT_TRUE(same_bits(v[k], ref.v[k]))
          << '"' << line << "\" number " << k << ": " << v[k] << " against " << ref.v[k];
  }
  if (scan == PlainScan::kNone) EXPECT_NE(ref.count, 3) << '"' << line << '"';
}

// ---- a table of tricky lines -----------------------------------------------------------------

TEST(PlainFloats, TrickyLinesAgreeWithSscanfOrAreLeftToIt) {
  const struct {
    const char* line;
    PlainScan expected;
  } cases[] = {
      {"1 2 3", PlainScan::kThree},
      {"  -1.5\t+2.25e3 .5\r\n", PlainScan::kThree},
      {"5. -0 1e-3 and words after", PlainScan::kThree},
      {"1.e5 0.0000001 3E+2", PlainScan::kThree},
      {"\v1\f2\r3", PlainScan::kThree},
      {"007 -000.000 00e0", PlainScan::kThree},
      {"16777217 16777219 0.1", PlainScan::kThree},  // halfway cases round to even
      {"1.00000005960464477539062500000001 1.000000059604644775390625 -0.3", PlainScan::kThree},
      {"3.4028234e38 -3.4028234e38 1.17549435e-38", PlainScan::kThree},
      {"1e-40 -1.4e-45 2e-45", PlainScan::kThree},  // subnormals
      {"0e999999999999 1 2", PlainScan::kThree},
      {"", PlainScan::kNone},
      {"\n", PlainScan::kNone},
      {"   \t ", PlainScan::kNone},
      {"hello 1 2 3", PlainScan::kNone},
      {"# 1 2 3", PlainScan::kNone},
      {"x1 2 3", PlainScan::kNone},
      {"1e40 1 2", PlainScan::kUnsure},  // overflows: sscanf gives inf
      {"1e-60 1 2", PlainScan::kUnsure},
      {"3.4028236e38 0 0", PlainScan::kUnsure},
      {"0x1p3 1 2", PlainScan::kUnsure},
      {"inf 1 2", PlainScan::kUnsure},
      {"-INFINITY 1 2", PlainScan::kUnsure},
      {"nan 1 2", PlainScan::kUnsure},
      {"NaN(123) 1 2", PlainScan::kUnsure},
      {"1,2,3", PlainScan::kUnsure},
      {"1 2,5 3", PlainScan::kUnsure},
      {"1e 2 3", PlainScan::kUnsure},
      {"1e+ 2 3", PlainScan::kUnsure},
      {"1.2.3 4 5", PlainScan::kUnsure},
      {"1 2", PlainScan::kUnsure},
      {"1 2 3x", PlainScan::kUnsure},
      {"1 2 3;", PlainScan::kUnsure},
      {"+-1 2 3", PlainScan::kUnsure},
      {"- 1 2 3", PlainScan::kUnsure},
      {". 1 2 3", PlainScan::kUnsure},
      {"\x01 1 2 3", PlainScan::kUnsure},
      {"\xa0 1 2 3", PlainScan::kUnsure},
      {"1\xa0 2 3", PlainScan::kUnsure},
      {"\xef\xbc\x91 2 3", PlainScan::kUnsure},
  };
  for (const auto& c : cases) expect_agrees_with_sscanf(c.line, c.expected);
}

// ---- many generated numbers ------------------------------------------------------------------

// A plain decimal of random shape: sign, digit counts either side of the point, exponent.
std::string random_decimal(std::mt19937& rng) {
  const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<>(lo, hi)(rng); };
  std::string s;
  if (pick(0, 3) == 0) s += pick(0, 1) ? '-' : '+';
  const int whole = pick(0, 12), fraction = pick(whole == 0 ? 1 : 0, 20);
  for (int k = 0; k < whole; ++k) s += static_cast<char>('0' + pick(0, 9));
  if (fraction > 0 || pick(0, 4) == 0) s += '.';
  for (int k = 0; k < fraction; ++k) s += static_cast<char>('0' + pick(0, 9));
  if (pick(0, 2) == 0) s += (pick(0, 1) ? "e" : "E") + std::to_string(pick(-50, 45));
  return s;
}

TEST(PlainFloats, GeneratedDecimalsGiveSscanfsBits) {
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  int three = 0;
  constexpr int kLines = 20000;
  for (int i = 0; i < kLines; ++i) {
    const std::string line =
        random_decimal(rng) + " " + random_decimal(rng) + "\t" + random_decimal(rng) + "\n";
    float v[3];
    const PlainScan scan = scan_plain_floats(line.c_str(), v);
    if (scan == PlainScan::kUnsure) continue;  // out of float range: left to sscanf
    ASSERT_EQ(scan, PlainScan::kThree) << line << " (seed " << seed << ")";
    const Reference ref = sscanf_reading(line.c_str());
    ASSERT_EQ(ref.count, 3) << line << " (seed " << seed << ")";
    for (int k = 0; k < 3; ++k)
      ASSERT_TRUE(same_bits(v[k], ref.v[k])) << line << " (seed " << seed << ")";
    ++three;
  }
  EXPECT_GT(three, kLines / 2);  // the quick reading does answer for ordinary numbers
}

// ---- fields before the numbers ---------------------------------------------------------------

TEST(PlainFloats, SkipsFieldsAsPercentStarSDoes) {
  const char* text = " a\tb7 1 2 3";
  EXPECT_EQ(skip_plain_fields(text, 2), text + 5);
  const char* one = "ab";
  EXPECT_EQ(skip_plain_fields(one, 1), one + 2);
  EXPECT_EQ(skip_plain_fields("a", 2), nullptr);  // a missing field: sscanf decides
  EXPECT_EQ(skip_plain_fields("", 1), nullptr);
  EXPECT_EQ(skip_plain_fields("a\x01z b 1 2 3", 2), nullptr);
  EXPECT_EQ(skip_plain_fields("\xc3\xa9 b 1 2 3", 2), nullptr);
}

TEST(PlainFloats, TheCLocaleWritesAPoint) {
  EXPECT_TRUE(plain_decimal_locale());
}

}  // namespace
}  // namespace kestrel::core
