#include "app/assembler.h"

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "app/assembly_files.h"
#include "app/interrupt_watch.h"
#include "app/run_progress.h"
#include "app/terminal_progress.h"
#include "assembly/assemble.h"
#include "core/point_file.h"

namespace kestrel::app {

namespace {

constexpr const char* kUsage =
    "Usage: kestrel-assemble [options] FILE...\n"
    "Assembles two or more scans of one object into one model, in the coordinates of the first\n"
    "FILE. Every pair worth trying is registered in any pose and judged; the confident pairs\n"
    "form a pose graph that rejects wrong pairs; every placed scan is then refined against all\n"
    "the others. A scan that no confident pair ties to the first is reported and left out.\n"
    "Files: any point format the programs read (.obj .vrt .pct .txt .xyz .ply).\n"
    "\n"
    "Options:\n"
    "  --out DIR          output folder (default: assembly); created when missing, refused when\n"
    "                     it holds files that kestrel-assemble did not write\n"
    "  --threads N        1 or 2 (default 2); the same result either way\n"
    "  --max-seconds S    pairs not begun after S seconds are skipped (default: no limit)\n"
    "  --quiet            no progress line and no summary\n"
    "  --json             the summary as poses.json's record on standard output\n"
    "  -h, --help         this text\n"
    "\n"
    "Outputs in DIR: poses.json (each scan: placed, matrix into the first file's coordinates,\n"
    "residual_mm, pairs; each pair: verdict, used), STEM.tfm per placed scan (the layout of\n"
    "results.tfm) and merged.ply (binary, the placed scans with a per-point scan index).\n"
    "Exit status: 0 every scan placed, 3 some not placed, 1 bad input or unwritable output.\n";

// Scans smaller than this give a search too little to go on.
constexpr size_t kMinScanPoints = 50;

struct Settings {
  std::vector<std::string> files;
  std::string out = "assembly";
  assembly::AssemblyOptions options;
  bool quiet = false, json = false, help = false;
};

bool number_arg(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0';
}

// False with the reason on a word the command does not know or a value that does not fit.
bool parse(int argc, const char* const* argv, Settings& s, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    double v = 0;
    if (arg == "-h" || arg == "--help") {
      s.help = true;
    } else if (arg == "--quiet") {
      s.quiet = true;
    } else if (arg == "--json") {
      s.json = true;
    } else if (arg == "--out" && has_value) {
      s.out = argv[++i];
    } else if (arg == "--threads" && has_value) {
      if (!number_arg(argv[++i], v) || (v != 1 && v != 2))
        return error = "--threads takes 1 or 2, not " + std::string(argv[i]) + ".", false;
      s.options.threads = static_cast<int>(v);
    } else if (arg == "--max-seconds" && has_value) {
      if (!number_arg(argv[++i], v) || !(v > 0))
        return error = "--max-seconds takes a positive number, not " + std::string(argv[i]) + ".",
               false;
      s.options.max_seconds = v;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return error = "Unknown option or missing value: " + arg + " (see --help).", false;
    } else {
      s.files.push_back(arg);
    }
  }
  if (!s.help && s.files.size() < 2)
    return error = "kestrel-assemble needs two or more point files (see --help).", false;
  return true;
}

bool read_scans(const std::vector<std::string>& files, std::vector<core::PointSet>& scans,
                std::string& error) {
  for (size_t i = 0; i < files.size(); ++i)
    for (size_t k = 0; k < i; ++k)
      if (files[k] == files[i]) return error = files[i] + " is given twice.", false;
  scans.resize(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    core::FaceList faces;
    if (!core::parse_point_file(files[i], scans[i], faces, false, &error)) return false;
    if (scans[i].size() < kMinScanPoints)
      return error = files[i] + ": " + std::to_string(scans[i].size()) +
                     " points; a scan needs at least " + std::to_string(kMinScanPoints) + ".",
             false;
  }
  return true;
}

void progress_line(FILE* err, const assembly::AssemblyProgress& at) {
  std::string line = "\rpairs " + std::to_string(at.pairs_done) + "/" +
                     std::to_string(at.pairs_total) + ", " + duration_text(at.elapsed_s);
  if (at.pairs_done > 0 && at.pairs_done < at.pairs_total) {
    const double left = at.elapsed_s / static_cast<double>(at.pairs_done) *
                        static_cast<double>(at.pairs_total - at.pairs_done);
    line += ", about " + duration_text(left) + " left";
  }
  std::fprintf(err, "%s\033[K", line.c_str());
  std::fflush(err);
}

void print_summary(FILE* out, const Settings& s, const assembly::AssemblyResult& r) {
  for (size_t i = 0; i < s.files.size(); ++i) {
    const assembly::ScanPlacement& p = r.scans[i];
    if (p.placed)
      std::fprintf(out, "%s: placed, residual %.3g, %zu pairs\n", s.files[i].c_str(), p.residual,
                   p.pairs);
    else
      std::fprintf(out, "%s: NOT PLACED (no confident pair ties it to %s)\n", s.files[i].c_str(),
                   s.files[0].c_str());
  }
  std::fprintf(out, "%zu of %zu scans placed in %.2f s%s; written to %s\n", r.placed(),
               r.scans.size(), r.time_s, r.stopped ? " (stopped early)" : "", s.out.c_str());
}

}  // namespace

int assemble_main(int argc, const char* const* argv, FILE* out, FILE* err) {
  Settings s;
  std::string error;
  if (!parse(argc, argv, s, error)) return std::fprintf(err, "%s\n", error.c_str()), 1;
  if (s.help) return std::fputs(kUsage, out), 0;
  std::vector<core::PointSet> scans;
  if (!read_scans(s.files, scans, error) || !prepare_output_folder(s.out, &error))
    return std::fprintf(err, "%s\n", error.c_str()), 1;
  std::vector<const core::PointSet*> pointers;
  for (const core::PointSet& scan : scans) pointers.push_back(&scan);

  InterruptWatch watch;
  assembly::AssemblyHooks hooks;
  hooks.should_stop = [&watch] { return watch.interrupted(); };
  const bool show = !s.quiet && is_terminal(err);
  if (show)
    hooks.on_progress = [err](const assembly::AssemblyProgress& at) { progress_line(err, at); };
  const assembly::AssemblyResult result = assembly::assemble(pointers, s.options, hooks);
  if (show) std::fprintf(err, "\r\033[K");
  if (!write_assembly_files(s.out, result, s.files, pointers, &error))
    return std::fprintf(err, "%s\n", error.c_str()), 1;
  if (s.json) {
    std::ostringstream text;
    write_poses_json(text, result, s.files, results_file_names(s.files));
    std::fputs(text.str().c_str(), out);
  } else if (!s.quiet) {
    print_summary(out, s, result);
  }
  return result.placed() == result.scans.size() ? 0 : 3;
}

}  // namespace kestrel::app
