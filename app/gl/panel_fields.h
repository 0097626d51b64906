#pragma once
// The number fields of the panel: typed text is applied when the field is left (or Enter is
// pressed), with a step button on each side like a spinner; a value that is clamped or refused
// is said on the status line (field_input.h).

#include <string>
#include <vector>

#include "app/field_input.h"
#include "app/gl/panel_controls.h"

namespace kestrel::app {

// Draws `label` and the field `id` ("##name"; its rectangle is noted as "name"), with "-" and
// "+" at its right end that step by `step`. Returns whether `value` changed.
bool number_field(GlSession& s, std::vector<WidgetRect>& rects, const char* label, const char* id,
                  const FieldSpec& spec, double& value, double step);

// The same for a float or a whole number held in the run parameters.
bool float_field(GlSession& s, std::vector<WidgetRect>& rects, const char* label, const char* id,
                 const FieldSpec& spec, float& value, double step);
template <typename Int>
bool whole_field(GlSession& s, std::vector<WidgetRect>& rects, const char* label, const char* id,
                 const FieldSpec& spec, Int& value) {
  auto v = static_cast<double>(value);
  if (!number_field(s, rects, label, id, spec, v, 1)) return false;
  value = static_cast<Int>(v);
  return true;
}

// A field's spec from the option `name` of the table: the panel's limits where the option has
// them, else the range the command line accepts.
FieldSpec option_field(const std::string& label, const std::string& name);

}  // namespace kestrel::app
