#pragma once
// Text typed into a number field of the panel: taken when it is a number within the field's
// limits, held at the nearer limit when it lies outside them, refused when it is no number (or
// no whole number where one is needed); each change that is not taken as typed comes back with
// a message for the status line, so a field never changes its value silently.

#include <string>

namespace kestrel::app {

struct FieldSpec {
  std::string label;  // as the panel names it, for messages
  double lo = 0, hi = 0;
  bool whole = false;  // whole numbers only
};

struct FieldEdit {
  bool changed = false;  // `value` now differs from before
  std::string message;   // empty when the text was taken as typed
};

// Applies `text` to `value` under `spec`.
FieldEdit apply_field_text(const FieldSpec& spec, const std::string& text, double& value);

// `value` as the field shows it: whole numbers without decimals, others with three (more when
// they would show as 0).
std::string field_text(const FieldSpec& spec, double value);

}  // namespace kestrel::app
