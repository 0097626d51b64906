#include "core/plain_floats.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace kestrel::core {

namespace {

// The six characters every locale counts as white space. Other control characters and bytes
// above 127 are never taken for either white space or a field: the scan is unsure of them.
bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_plain_printable(char c) {
  return c > ' ' && c < 0x7f;
}

// Where a plain decimal number starting at `s` ends: [+-]digits[.digits][(e|E)[+-]digits] with
// at least one digit before the exponent. nullptr when `s` does not start with one.
const char* plain_number_end(const char* s) {
  const char* p = s;
  if (*p == '+' || *p == '-') ++p;
  const char* whole = p;
  while (is_digit(*p)) ++p;
  bool has_digits = p != whole;
  if (*p == '.') {
    const char* fraction = ++p;
    while (is_digit(*p)) ++p;
    has_digits = has_digits || p != fraction;
  }
  if (!has_digits) return nullptr;
  if (*p == 'e' || *p == 'E') {
    ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!is_digit(*p)) return nullptr;
    while (is_digit(*p)) ++p;
  }
  return p;
}

// A character sscanf's "%f" can start a number with ('.' being the locale's decimal point).
bool may_start_number(char c) {
  return is_digit(c) || (c != '\0' && std::strchr("+-.iInN", c) != nullptr);
}

// Reads one number after optional white space into `value`; returns where it ends, or nullptr
// when unsure. The number must end at white space or the end of the text: "%f" would stop
// elsewhere in ways only sscanf knows ("1e", "1.2.3", "4,5").
template <typename T>
const char* scan_one(const char* p, T& value) {
  while (is_blank(*p)) ++p;
  const char* end = plain_number_end(p);
  if (!end || !(is_blank(*end) || *end == '\0')) return nullptr;
  // from_chars takes no '+'; it rounds correctly, as strtof (behind "%f") does, and refuses
  // what overflows or underflows, which then goes to sscanf.
  const char* from = *p == '+' ? p + 1 : p;
  const std::from_chars_result r = std::from_chars(from, end, value);
  if (r.ec != std::errc() || r.ptr != end) return nullptr;
  return end;
}

template <typename T>
PlainScan scan_plain(const char* text, T (&out)[3]) {
  const char* p = text;
  while (is_blank(*p)) ++p;
  if (*p == '\0' || (is_plain_printable(*p) && !may_start_number(*p))) return PlainScan::kNone;
  T v[3];
  for (T& x : v) {
    p = scan_one(p, x);
    if (!p) return PlainScan::kUnsure;
  }
  for (int k = 0; k < 3; ++k) out[k] = v[k];
  return PlainScan::kThree;
}

}  // namespace

bool plain_decimal_locale() {
  const char* point = std::localeconv()->decimal_point;
  return point[0] == '.' && point[1] == '\0';
}

PlainScan scan_plain_floats(const char* text, float (&out)[3]) {
  return scan_plain(text, out);
}

PlainScan scan_plain_floats(const char* text, double (&out)[3]) {
  return scan_plain(text, out);
}

const char* number_with_trailing_characters(const char* text, int count) {
  const char* p = text;
  for (int k = 0; k < count; ++k) {
    while (is_blank(*p)) ++p;
    const char* digits = p + (*p == '+' || *p == '-');
    if (*digits == '.') ++digits;
    // Only a field that starts as a plain number counts: words, "inf" and "nan" are sscanf's.
    if (!is_digit(*digits)) return nullptr;
    char* end = nullptr;
    std::strtod(p, &end);
    if (end == p) return nullptr;
    if (!(is_blank(*end) || *end == '\0')) return p;
    p = end;
  }
  return nullptr;
}

const char* skip_plain_fields(const char* text, int count) {
  const char* p = text;
  for (int k = 0; k < count; ++k) {
    while (is_blank(*p)) ++p;
    const char* start = p;
    while (is_plain_printable(*p)) ++p;
    if (p == start || !(is_blank(*p) || *p == '\0')) return nullptr;
  }
  return p;
}

}  // namespace kestrel::core
