#include "app/field_input.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrel::app {

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Limits as the message writes them: short, without trailing zeros.
std::string limit_text(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

}  // namespace

std::string field_text(const FieldSpec& spec, double value) {
  char buffer[48];
  if (spec.whole)
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  else if (value != 0 && std::fabs(value) < 0.001)
    std::snprintf(buffer, sizeof buffer, "%.3g", value);
  else
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
  return buffer;
}

FieldEdit apply_field_text(const FieldSpec& spec, const std::string& text, double& value) {
  FieldEdit edit;
  const std::string word = trimmed(text);
  const std::string kept = "; kept " + field_text(spec, value);
  if (word.empty()) {
    edit.message = spec.label + ": the field was empty" + kept;
    return edit;
  }
  char* end = nullptr;
  errno = 0;
  const double typed = std::strtod(word.c_str(), &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(typed)) {
    edit.message = spec.label + ": \"" + word + "\" is not a number" + kept;
    return edit;
  }
  if (spec.whole && typed != std::floor(typed)) {
    edit.message = spec.label + ": " + word + " is not a whole number" + kept;
    return edit;
  }
  double taken = typed;
  if (typed < spec.lo || typed > spec.hi) {
    const bool low = typed < spec.lo;
    taken = low ? spec.lo : spec.hi;
    edit.message = spec.label + ": " + word + " is " + (low ? "below" : "above") + " the limit " +
                   limit_text(taken) + "; set to " + field_text(spec, taken);
  }
  edit.changed = taken != value;
  value = taken;
  return edit;
}

}  // namespace kestrel::app
