// kestrel-assemble as a command: what it refuses (and that a refusal writes and removes
// nothing), and the files a run leaves in its folder, which a second run may replace.

#include "app/assembler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "../assembly/assembly_scans.h"
#include "scratch_dir.h"

namespace kestrel::app {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

struct Outcome {
  int status;
  std::string out, err;
};

std::string slurp(FILE* f) {
  std::string text;
  std::rewind(f);
  for (int ch; (ch = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(ch));
  std::fclose(f);
  return text;
}

Outcome assemble(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"kestrel-assemble"};
  for (const auto& a : args) argv.push_back(a.c_str());
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  Outcome o;
  o.status = assemble_main(static_cast<int>(argv.size()), argv.data(), out, err);
  o.out = slurp(out);
  o.err = slurp(err);
  return o;
}

// Two overlapping bunny scans, thinned and moved, as .xyz files in `dir`.
std::vector<std::string> two_scans(const ScratchDir& dir) {
  std::mt19937 rng(5);
  std::vector<std::string> files;
  for (const char* name : {"bun000", "bun045"}) {
    const testing::TestScan s = testing::bunny_scan(name, 8, rng);
    std::ofstream out(dir.file(std::string(name) + ".xyz"));
    out.precision(9);
    for (const core::Point3D& p : s.points) out << p.x << " " << p.y << " " << p.z << "\n";
    files.push_back(dir.file(std::string(name) + ".xyz"));
  }
  return files;
}

std::vector<std::string> listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Assembler, RefusesBadInputAndWritesNothing) {
  ScratchDir dir;
  std::string grid;
  for (int i = 0; i < 64; ++i) grid += std::to_string(i % 8) + " " + std::to_string(i / 8) + " 0\n";
  const std::string a = dir.write("a.xyz", grid);
  fs::create_directories(dir.file("foreign"));
  const std::string foreign = dir.write("foreign/notes.txt", "mine");
  const std::string plain = dir.write("plain.txt", "a file");
  const struct {
    std::vector<std::string> args;
    const char* says;
  } table[] = {
      {{a}, "two or more point files"},
      {{a, dir.file("missing.xyz")}, "missing.xyz"},
      {{a, a}, "given twice"},
      {{"--threads", "3", a, a}, "--threads takes 1 or 2"},
      {{"--max-seconds", "-1", a, a}, "--max-seconds takes a positive number"},
      {{"--frobnicate", a, a}, "Unknown option"},
      {{"--out"}, "Unknown option or missing value"},
      {{"--out", dir.file("foreign"), a, dir.write("b.xyz", "0 0 0\n")}, "points; a scan needs"},
  };
  for (const auto& row : table) {
    const Outcome o = assemble(row.args);
    EXPECT_EQ(o.status, 1) << row.says;
    EXPECT_NE(o.err.find(row.says), std::string::npos) << o.err;
  }
  const std::vector<std::string> scans = two_scans(dir);
  for (const std::string& out : {dir.file("foreign"), plain}) {
    const Outcome o = assemble({"--out", out, scans[0], scans[1]});
    EXPECT_EQ(o.status, 1) << out;
    EXPECT_NE(o.err.find("Refused"), std::string::npos) << o.err;
  }
  EXPECT_EQ(listing(dir.file("foreign")), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(ScratchDir::read(foreign), "mine");
  EXPECT_EQ(ScratchDir::read(plain), "a file");
}

TEST(Assembler, WritesItsFilesAndMayReplaceThem) {
  ScratchDir dir;
  const std::vector<std::string> scans = two_scans(dir);
  const std::string out = dir.file("new/folder");
  const Outcome first = assemble({"--quiet", "--out", out, scans[0], scans[1]});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(listing(out),
            (std::vector<std::string>{"bun000.tfm", "bun045.tfm", "merged.ply", "poses.json"}));
  const std::string poses = ScratchDir::read(out + "/poses.json");
  EXPECT_NE(poses.find("\"reference\": \"" + scans[0] + "\""), std::string::npos);
  EXPECT_NE(poses.find("\"verdict\": \"confident\", \"used\": true"), std::string::npos);
  // results.tfm's layout: the scan onto the first file, the matrix on lines 5 to 8.
  const std::string tfm = ScratchDir::read(out + "/bun045.tfm");
  EXPECT_EQ(tfm.rfind("files: " + scans[1] + " ---> " + scans[0] + "\n", 0), 0u) << tfm;
  EXPECT_NE(tfm.find("\n0 0 0 1\n\nUnits: mm\n"), std::string::npos) << tfm;
  const std::string ply = ScratchDir::read(out + "/merged.ply");
  EXPECT_EQ(ply.rfind("ply\nformat binary_little_endian 1.0\n", 0), 0u);
  EXPECT_NE(ply.find("property int scan\n"), std::string::npos);

  // The folder now holds only the command's own files: a second run may write there, and its
  // JSON summary is the record of poses.json.
  const Outcome second = assemble({"--json", "--threads", "1", "--out", out, scans[0], scans[1]});
  ASSERT_EQ(second.status, 0) << second.err;
  const auto without_time = [](const std::string& s) { return s.substr(0, s.find("\"time_s\"")); };
  EXPECT_EQ(without_time(second.out), without_time(poses));
  EXPECT_EQ(ScratchDir::read(out + "/poses.json"), second.out);
}

}  // namespace
}  // namespace kestrel::app
