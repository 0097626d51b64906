#include "python/align_keywords.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <stdexcept>

#include "app/align_models.h"
#include "app/command_line.h"

namespace py = pybind11;

namespace kestrel::python {

namespace {

struct Keyword {
  const char* name;    // the Python keyword
  const char* option;  // the aligner's option it stands for
};

// The options that change what a headless run returns; those that only fill stored fields,
// print, name output files or change only what is written (-w1) have no keyword, and neither
// has -s, whose count loading P always derives anew.
constexpr Keyword kKeywords[] = {
    {"overlap", "-o"},
    {"delta", "--delta"},
    {"icp", "--icp"},
    {"ransac", "--ransac"},
    {"random_positions", "--random-position"},
    {"noise", "--noise"},
    {"noise_level", "-no"},
    {"num_try", "-y"},
    {"thr", "-t"},
    {"base_max_len", "-q"},
    {"norm_diff", "-nd"},
    {"isamp", "-i"},
    {"margin", "-m"},
    {"cut_y", "-cut"},
    {"centering", "-c"},
    {"scale_tol", "-w2"},
    {"trans_file", "-l"},
    {"any_pose", "--any-pose"},
};

const app::RunOption* table_row(const char* option) {
  for (const app::RunOption& row : app::run_options())
    if (std::string(option) == row.name) return &row;
  return nullptr;
}

const Keyword* find_keyword(const std::string& name) {
  for (const Keyword& k : kKeywords)
    if (name == k.name) return &k;
  return nullptr;
}

const char* keyword_of(const char* option) {
  for (const Keyword& k : kKeywords)
    if (std::string(option) == k.option) return k.name;
  return option;
}

[[noreturn]] void wrong_type(const char* function, const std::string& name, const char* wanted,
                             const py::object& value) {
  throw py::type_error(std::string(function) + "(): " + name + " must be " + wanted + ", not " +
                       py::str(py::type::of(value).attr("__name__")).cast<std::string>());
}

std::string number_text(const char* function, const std::string& name, const py::object& value) {
  if (PyBool_Check(value.ptr()) || PyUnicode_Check(value.ptr()))
    wrong_type(function, name, "a number", value);
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    wrong_type(function, name, "a number", value);
  }
  if (!std::isfinite(v))
    throw py::value_error(name + " must be finite, not " + py::repr(value).cast<std::string>());
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string whole_number_text(const char* function, const std::string& name,
                              const py::object& value, const app::RunOption& row) {
  if (PyBool_Check(value.ptr())) wrong_type(function, name, "a whole number", value);
  PyObject* index = PyNumber_Index(value.ptr());
  if (!index) {
    PyErr_Clear();
    wrong_type(function, name, "a whole number", value);
  }
  const long long v = PyLong_AsLongLong(index);
  Py_DECREF(index);
  // The whole numbers the option table's range holds, so the message names the bounds the
  // aligner would apply.
  const app::ValueRange& range = row.range;
  const auto lo =
      static_cast<long long>(range.lo_open ? std::floor(range.lo) + 1 : std::ceil(range.lo));
  const auto hi = static_cast<long long>(std::floor(range.hi));
  if ((v == -1 && PyErr_Occurred()) || v < lo || v > hi) {
    PyErr_Clear();
    throw py::value_error(name + " must be a whole number from " + std::to_string(lo) + " to " +
                          std::to_string(hi));
  }
  return std::to_string(v);
}

std::string text_value(const char* function, const std::string& name, const py::object& value) {
  py::object path = value;
  if (!PyUnicode_Check(value.ptr())) {
    if (!py::hasattr(value, "__fspath__")) wrong_type(function, name, "a str or path", value);
    path = py::module_::import("os").attr("fspath")(value);
    if (!PyUnicode_Check(path.ptr())) wrong_type(function, name, "a str or path", value);
  }
  return path.cast<std::string>();
}

// The default of a flag field, so that a keyword can say the value it wants and the toggle is
// given only when that differs.
bool flag_default(const app::RunOption& row) {
  core::RunParameters params;
  app::AlignOptions align;
  return *static_cast<bool*>(row.field(params, align, 0));
}

// Appends what the command line would hold for `name` = `value`.
void append_arguments(const char* function, const std::string& name, const py::object& value,
                      const app::RunOption& row, std::vector<std::string>& args) {
  switch (row.kind) {
    case app::OptionKind::kSet:
    case app::OptionKind::kToggle: {
      if (!PyBool_Check(value.ptr())) wrong_type(function, name, "True or False", value);
      const bool wanted = value.ptr() == Py_True;
      const bool given = row.kind == app::OptionKind::kSet ? wanted : wanted != flag_default(row);
      if (given) args.emplace_back(row.name);
      return;
    }
    case app::OptionKind::kFloat:
    case app::OptionKind::kClampedFloat:
    case app::OptionKind::kDouble:
      args.insert(args.end(), {row.name, number_text(function, name, value)});
      return;
    case app::OptionKind::kThreeFloats: {
      // The keyword sets the first field; the others keep their defaults.
      core::RunParameters params;
      app::AlignOptions align;
      args.insert(args.end(), {row.name, number_text(function, name, value)});
      for (int k = 1; k < 3; ++k) {
        char text[40];
        std::snprintf(text, sizeof text, "%.9g",
                      static_cast<double>(*static_cast<float*>(row.field(params, align, k))));
        args.emplace_back(text);
      }
      return;
    }
    case app::OptionKind::kInt:
      args.insert(args.end(), {row.name, whole_number_text(function, name, value, row)});
      return;
    case app::OptionKind::kText:
      args.insert(args.end(), {row.name, text_value(function, name, value)});
      return;
    case app::OptionKind::kUsage:
    case app::OptionKind::kAlignHelp:
      return;
  }
}

// The parser's messages, caught in memory; its first line says what was wrong.
struct MessageBuffer {
  char* text = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&text, &size);
  ~MessageBuffer() {
    if (file) std::fclose(file);
    std::free(text);
  }
  FILE* out() const { return file ? file : stderr; }
  std::string first_line() {
    if (!file) return "invalid keyword value";
    std::fflush(file);
    const std::string all = text ? std::string(text, size) : std::string();
    return all.substr(0, all.find('\n'));
  }
};

}  // namespace

void apply_keywords(const Keywords& keywords, const char* function, app::AppState& state,
                    app::AlignOptions& o) {
  std::vector<std::string> args = {"kestrel-align"};
  for (const auto& [name, value] : keywords) {
    const Keyword* keyword = find_keyword(name);
    if (!keyword)
      throw py::type_error(std::string(function) + "() got an unexpected keyword argument '" +
                           name + "'");
    if (value.is_none()) continue;
    const app::RunOption* row = table_row(keyword->option);
    if (!row) throw std::logic_error(name + " stands for an option the aligner lacks");
    append_arguments(function, name, value, *row, args);
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::vector<std::string> files;
  MessageBuffer messages;
  const app::ParseOutcome outcome =
      app::parse_align_command_line(static_cast<int>(argv.size()), argv.data(), state.params, o,
                                    files, messages.out(), messages.out());
  if (outcome != app::ParseOutcome::kContinue) throw py::value_error(messages.first_line());
  if (const char* option = app::idle_given_option(state.params, o))
    throw py::value_error(std::string(keyword_of(option)) +
                          " does not act with any_pose=True, which takes its trials, threshold "
                          "and base sizes from the scans");
  std::string error;
  if (!app::settle_parameters(state.params, o, &error)) throw py::value_error(error);
}

std::vector<std::string> keyword_names() {
  std::vector<std::string> names;
  for (const Keyword& k : kKeywords) {
    if (!table_row(k.option))
      throw std::logic_error(std::string(k.name) + " stands for " + k.option +
                             ", which the aligner's option table lacks");
    names.emplace_back(k.name);
  }
  return names;
}

}  // namespace kestrel::python
