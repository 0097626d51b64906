#include "app/number_text.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace kestrel::app {

std::string number_text(double value, double allowed) {
  std::string text;
  for (int digits = 6; digits <= 17; ++digits) {
    std::ostringstream out;
    out.precision(digits);
    out << value;
    text = out.str();
    if (!(std::fabs(std::strtod(text.c_str(), nullptr) - value) > allowed)) break;
  }
  return text;
}

}  // namespace kestrel::app
