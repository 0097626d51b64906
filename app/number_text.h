#pragma once
// Numbers of the results file as short as they may be: the six significant digits a stream
// writes by default, and more only where six would move the value by more than a caller allows
// (a translation of millions of millimetres, a rotation applied to such coordinates).

#include <string>

namespace kestrel::app {

// `value` as an output stream writes it by default (general notation), with the fewest
// significant digits from 6 up to 17 that keep it within `allowed` of itself.
std::string number_text(double value, double allowed);

}  // namespace kestrel::app
