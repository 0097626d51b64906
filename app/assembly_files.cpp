#include "app/assembly_files.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/atomic_file.h"

namespace kestrel::app {

namespace fs = std::filesystem;

namespace {

std::string number(double v) {
  if (!std::isfinite(v)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string matrix_json(const assembly::Matrix4& m) {
  std::string out = "[";
  for (size_t r = 0; r < 4; ++r) {
    out += r ? ", [" : "[";
    for (size_t c = 0; c < 4; ++c) out += (c ? ", " : "") + number(m[r][c]);
    out += "]";
  }
  return out + "]";
}

// The results files that the poses.json in `folder` names, or nothing when there is none.
std::set<std::string> earlier_results(const std::string& folder) {
  std::set<std::string> names;
  std::ifstream in(fs::path(folder) / kPosesFile);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string key = "\"results\": \"";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    const size_t start = at + key.size(), end = text.find('"', start);
    if (end == std::string::npos) continue;
    // Only plain names of results files: a poses.json edited by hand may not reach elsewhere.
    const std::string name = text.substr(start, end - start);
    if (name.find('/') == std::string::npos && name.size() > 4 && name != ".tfm" &&
        name.compare(name.size() - 4, 4, ".tfm") == 0)
      names.insert(name);
  }
  return names;
}

// The results file's text: the layout of results.tfm with the scan as Q and the first file as P.
std::string results_text(const std::string& file, const std::string& reference, size_t points,
                         size_t reference_points, double seconds, const assembly::Matrix4& m) {
  std::ostringstream out;
  out << "files: " << file << " ---> " << reference << "\n";
  out << "points: " << reference << ": " << reference_points << " " << file << ": " << points
      << "\n";
  out << "time: " << seconds << " sec\n\n";
  for (size_t r = 0; r < 4; ++r)
    for (size_t c = 0; c < 4; ++c)
      out << (r == 3 ? std::to_string(static_cast<int>(m[r][c])) : number(m[r][c]))
          << (c < 3 ? " " : "\n");
  out << "\nUnits: mm\n";
  return out.str();
}

template <typename T>
void put(std::ostream& out, T v) {
  out.write(reinterpret_cast<const char*>(&v), sizeof v);  // the host is little-endian
}

void merged_ply(std::ostream& out, const assembly::AssemblyResult& result,
                const std::vector<const core::PointSet*>& scans) {
  size_t count = 0;
  for (size_t i = 0; i < scans.size(); ++i) count += result.scans[i].placed ? scans[i]->size() : 0;
  out << "ply\nformat binary_little_endian 1.0\ncomment kestrel-assemble: placed scans in the "
         "first file's coordinates\nelement vertex "
      << count
      << "\nproperty double x\nproperty double y\nproperty double z\nproperty int scan\n"
         "end_header\n";
  for (size_t i = 0; i < scans.size(); ++i) {
    if (!result.scans[i].placed) continue;
    const assembly::Matrix4& m = result.scans[i].matrix;
    for (const core::Point3D& p : *scans[i]) {
      for (size_t r = 0; r < 3; ++r)
        put(out, m[r][0] * p.x + m[r][1] * p.y + m[r][2] * p.z + m[r][3]);
      put(out, static_cast<int32_t>(i));
    }
  }
}

}  // namespace

std::vector<std::string> results_file_names(const std::vector<std::string>& files) {
  std::map<std::string, int> seen;
  for (const std::string& f : files) seen[fs::path(f).stem().string()] += 1;
  std::vector<std::string> out;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string stem = fs::path(files[i]).stem().string();
    out.push_back(seen[stem] > 1 ? stem + "-" + std::to_string(i + 1) + ".tfm" : stem + ".tfm");
  }
  return out;
}

void write_poses_json(std::ostream& out, const assembly::AssemblyResult& result,
                      const std::vector<std::string>& files,
                      const std::vector<std::string>& results) {
  out << "{\"reference\": " << quoted(files[0]) << ",\n \"scans\": [";
  for (size_t i = 0; i < result.scans.size(); ++i) {
    const assembly::ScanPlacement& s = result.scans[i];
    out << (i ? ",\n  " : "\n  ") << "{\"file\": " << quoted(files[i])
        << ", \"placed\": " << (s.placed ? "true" : "false")
        << ", \"matrix\": " << (s.placed ? matrix_json(s.matrix) : "null")
        << ", \"residual_mm\": " << (s.placed ? number(s.residual) : "null")
        << ", \"pairs\": " << s.pairs;
    if (s.placed) out << ", \"results\": " << quoted(results[i]);
    out << "}";
  }
  out << "],\n \"pairs\": [";
  for (size_t k = 0; k < result.pairs.size(); ++k) {
    const assembly::PairRecord& p = result.pairs[k];
    out << (k ? ",\n  " : "\n  ") << "{\"a\": " << p.a << ", \"b\": " << p.b
        << ", \"verdict\": " << quoted(p.verdict) << ", \"used\": " << (p.used ? "true" : "false");
    if (p.verdict != "not_tried" && p.verdict != "no_match")
      out << ", \"fine_share\": " << number(p.fine_share) << ", \"snug\": " << (p.snug ? "true" : "false")
          << ", \"matrix\": " << matrix_json(p.motion);
    out << "}";
  }
  out << "],\n \"time_s\": " << number(result.time_s) << "}\n";
}

bool prepare_output_folder(const std::string& folder, std::string* error) {
  std::error_code ec;
  if (!fs::exists(folder, ec)) {
    if (!fs::create_directories(folder, ec)) {
      if (error) *error = "Cannot create the output folder " + folder + ": " + ec.message() + ".";
      return false;
    }
    return true;
  }
  if (!fs::is_directory(folder, ec)) {
    if (error) *error = "Refused: --out " + folder + " is not a folder.";
    return false;
  }
  std::set<std::string> own = earlier_results(folder);
  own.insert(kPosesFile);
  own.insert(kMergedFile);
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (own.count(name) && e.is_regular_file(ec)) continue;
    if (error)
      *error = "Refused: the output folder " + folder + " holds " + name +
               ", which kestrel-assemble did not write; name an empty or new folder.";
    return false;
  }
  return true;
}

bool write_assembly_files(const std::string& folder, const assembly::AssemblyResult& result,
                          const std::vector<std::string>& files,
                          const std::vector<const core::PointSet*>& scans, std::string* error) {
  const std::vector<std::string> results = results_file_names(files);
  const std::set<std::string> earlier = earlier_results(folder);
  core::FileBatch batch;
  for (size_t i = 0; i < files.size(); ++i) {
    if (!result.scans[i].placed) continue;
    const std::string text = results_text(files[i], files[0], scans[i]->size(), scans[0]->size(),
                                          result.time_s, result.scans[i].matrix);
    if (!batch.add((fs::path(folder) / results[i]).string(),
                   [text](std::ostream& out) { out << text; }, error))
      return false;
  }
  if (!batch.add((fs::path(folder) / kMergedFile).string(),
                 [&](std::ostream& out) { merged_ply(out, result, scans); }, error) ||
      !batch.add((fs::path(folder) / kPosesFile).string(),
                 [&](std::ostream& out) { write_poses_json(out, result, files, results); },
                 error) ||
      !batch.commit(error))
    return false;
  std::set<std::string> written;
  for (size_t i = 0; i < files.size(); ++i)
    if (result.scans[i].placed) written.insert(results[i]);
  std::error_code ec;
  for (const std::string& name : earlier)
    if (!written.count(name)) fs::remove(fs::path(folder) / name, ec);
  return true;
}

}  // namespace kestrel::app
