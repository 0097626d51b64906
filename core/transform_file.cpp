#include "core/transform_file.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kestrel::core {

namespace {

constexpr int kFirstRow = 5;  // lines 1 to 4 carry the file names, counts and time

enum class Row { kOk, kNotFourNumbers, kNotFinite };

// Exactly four numbers separated by blanks, nothing else on the line (a NUL byte inside the
// line also ends the parse early and so refuses it).
Row parse_row(const std::string& line, double (&row)[4]) {
  const char* s = line.c_str();
  const char* end = s + line.size();
  bool finite = true;
  for (double& v : row) {
    char* stop = nullptr;
    v = std::strtod(s, &stop);
    if (stop == s) return Row::kNotFourNumbers;
    finite = finite && std::isfinite(v);
    s = stop;
  }
  while (s < end && std::isspace(static_cast<unsigned char>(*s))) ++s;
  if (s != end) return Row::kNotFourNumbers;
  return finite ? Row::kOk : Row::kNotFinite;
}

bool fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

}  // namespace

bool read_transform_file(const std::string& file, double (&m)[4][4], std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    return fail(error, file + ": is a folder, not a transform file");
  std::ifstream in(file);
  if (!in) return fail(error, file + ": cannot open the transform file");

  double read[4][4];
  std::string line;
  for (int n = 1; n < kFirstRow + 4; ++n) {
    if (!std::getline(in, line))
      return fail(error, file + ": the transform file ends before line " + std::to_string(n) +
                             " (lines 5 to 8 must hold the matrix)");
    if (n < kFirstRow) continue;
    const std::string where = file + ", line " + std::to_string(n) + ": ";
    switch (parse_row(line, read[n - kFirstRow])) {
      case Row::kOk:
        break;
      case Row::kNotFourNumbers:
        return fail(error, where + "expected four numbers (a row of the matrix)");
      case Row::kNotFinite:
        return fail(error, where + "a value is not a finite number");
    }
  }
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m[r][c] = read[r][c];
  return true;
}

}  // namespace kestrel::core
