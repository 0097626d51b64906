// The bad-input table of the headless aligner: each input, its exit status, the message, and
// that nothing is written when the run fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/aligner.h"
#include "app/command_line.h"
#include "app/model_actions.h"
#include "app/run_actions.h"
#include "app_test_support.h"

namespace kestrel::app {
namespace {

using testing::grid_vrt;
using testing::ScratchDir;
using testing::written;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome align(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"kestrel-align"};
  for (const auto& a : args) argv.push_back(a.c_str());
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  Outcome o;
  // Model loads report on the process's own error stream; take that in too.
  ::testing::internal::CaptureStderr();
  o.status = align_main(static_cast<int>(argv.size()), argv.data(), out, err);
  o.err = ::testing::internal::GetCapturedStderr();
  for (auto [f, text] : {std::pair{out, &o.out}, std::pair{err, &o.err}}) {
    std::rewind(f);
    int ch;
    while ((ch = std::fgetc(f)) != EOF) text->push_back(static_cast<char>(ch));
    std::fclose(f);
  }
  return o;
}

const std::string kHead = "files: q ---> p\npoints: p: 1 q: 1\ntime: 0 sec\n\n";

TEST(BadInput, AlignerTable) {
  ScratchDir dir;
  const std::string p = dir.write("p.vrt", grid_vrt(20, 1.0));
  const std::string q = dir.write("q.vrt", grid_vrt(20, 1.0, 2, 1, 0));
  std::filesystem::create_directories(dir.file("folder.vrt"));
  std::filesystem::create_directories(dir.file("folder.tfm"));
  const std::string short_tfm = dir.write("short.tfm", kHead + "1 0 0 0\n0 1 0 0\n0 0 1 0\n");
  const std::string nan_tfm =
      dir.write("nan.tfm", kHead + "1 0 0 0\n0 1 0 nan\n0 0 1 0\n0 0 0 1\n");
  const std::string inf_tfm =
      dir.write("inf.tfm", kHead + "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 inf\n");
  const std::string word_tfm =
      dir.write("word.tfm", kHead + "1 0 0 0\n0 1 0 0\n0 0 one 0\n0 0 0 1\n");
  const std::string out = dir.file("results.tfm");

  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;  // part of what the aligner prints on its error stream
  } rows[] = {
      {{"-l", dir.file("missing.tfm"), p, q}, 1, "missing.tfm: cannot open the transform file"},
      {{"-l", dir.file("folder.tfm"), p, q}, 1, "folder.tfm: is a folder, not a transform file"},
      {{"-l", short_tfm, p, q}, 1, "short.tfm: the transform file ends before line 8"},
      {{"-l", nan_tfm, p, q}, 1, "nan.tfm, line 6: a value is not a finite number"},
      {{"-l", inf_tfm, p, q}, 1, "inf.tfm, line 8: a value is not a finite number"},
      {{"-l", word_tfm, p, q}, 1, "word.tfm, line 7: expected four numbers"},
      {{"--delta", "0", p, q}, 2, "No motion found: "},
      {{"--delta", "0", "--icp", p, q}, 2, "No motion found: "},
      {{dir.file("folder.vrt"), q}, 1, "folder.vrt: is a folder, not a point file"},
      {{p, dir.file("missing.vrt")}, 1, "missing.vrt: cannot open the file for reading"},
      {{"-", p, q}, 1, "Unrecognized option.(-)\n"},
      {{"-xyz", p, q}, 1, "Unrecognized option.(-xyz)\n"},
      // Option values: whole words, numbers of the right kind, in range.
      {{"-o", "0", p, q},
       1,
       "Option -o needs a number from 0.0088 to 1e+06 (got \"0\").\n\n\nUsage"},
      {{"-o", "-1", p, q}, 1, "Option -o needs a number from 0.0088 "},
      {{"-o", "nan", p, q}, 1, "Option -o needs a number from 0.0088 "},
      {{"-o", "0.005", p, q}, 1, "Option -o needs a number from 0.0088 "},
      {{"-m", "7", p, q}, 1, "Option -m needs a whole number from 0 to 2 (got \"7\")."},
      {{"-cut", "nan", p, q}, 1, "Option -cut needs a number from -1e+06 to 1e+06 (got \"nan\")."},
      {{"-w1", "nan", p, q}, 1, "Option -w1 needs a number above 0 and at most 1e+06 "},
      {{"-nd", "nan", p, q}, 1, "Option -nd needs a number from 0 to 1e+06 (got \"nan\")."},
      {{"-y", "-5", p, q}, 1, "Option -y needs a whole number of at least 1 (got \"-5\")."},
      {{"-no", "1e30", "0", "0", p, q}, 1, "Option -no needs a number from -1e+06 to 1e+06 "},
      {{"-i", "4294967297", p, q}, 1, "Option -i needs a whole number of at least 1 "},
      {{"--delta", "nan", p, q},
       1,
       "Option --delta needs a number from -3.40282e+38 to "
       "3.40282e+38 (got \"nan\").\n(see --help)\n"},
      {{"--random-position", "abc", p, q},
       1,
       "Option --random-position needs a whole number from 0 to 1e+09 (got \"abc\").\n(see "
       "--help)\n"},
      {{"--max-seconds", "-1", p, q}, 1, "Option --max-seconds needs a number above 0 "},
      {{"--threads", "3", p, q}, 1, "Option --threads needs a whole number from 1 to 2 (got "},
      // The any-pose search sets its own trials, threshold and base sizes.
      {{"-t", "0.3", "--any-pose", p, q}, 1, "Option -t does not act with --any-pose"},
      {{"-q", "40", "--any-pose", p, q}, 1, "Option -q does not act with --any-pose"},
      {{"--any-pose", "-y", "3", p, q}, 1, "Option -y does not act with --any-pose"},
      // Stopped before its first candidate: nothing found, nothing written.
      {{"--max-seconds", "1e-6", p, q}, 2, "No motion found: 1 trial, no candidate motion\n"},
      {{"--ransac", "--max-seconds", "1e-6", p, q}, 2, "No motion found: 1 trial, no candidate"},
      {{"--any-pose", "--max-seconds", "1e-6", p, q}, 2, "No motion found: 0 trials, no candidate"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"--out", out, "--reconstruct", dir.file("both.obj")};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Outcome o = align(args);
    const std::string name = row.args[0] + " " + row.args[1];
    EXPECT_EQ(o.status, row.status) << name << "\n" << o.err;
    EXPECT_NE(o.err.find(row.message), std::string::npos) << name << "\n" << o.err;
    EXPECT_EQ(o.err.find('\0'), std::string::npos) << name;
    EXPECT_FALSE(std::filesystem::exists(out)) << name;
    EXPECT_FALSE(std::filesystem::exists(dir.file("both.obj"))) << name;
  }
}

// ---- outputs that are not the aligner's to replace, results that are no motion ---------------

// Every `period`-th line of an example scan from line `first` on (1-based): a scan of a few
// points that still looks like the bunny.
std::string scan_lines(const std::string& name, int period, int first) {
  std::istringstream in(ScratchDir::read(std::string(KESTREL_EXAMPLES_DIR) + "/" + name));
  std::string line, out;
  for (int n = 1; std::getline(in, line); ++n)
    if (n % period == first) out += line + "\n";
  return out;
}

// What a row may not change: each file of the folder, by its kind, mode, inode and bytes.
std::string folder_state(const ScratchDir& dir) {
  std::vector<std::string> rows;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    struct stat st;
    const std::string path = entry.path().string();
    lstat(path.c_str(), &st);
    rows.push_back(entry.path().filename().string() + " " + std::to_string(st.st_mode) + " " +
                   std::to_string(st.st_ino) + " " +
                   (S_ISREG(st.st_mode) ? ScratchDir::read(path) : std::string()));
  }
  std::sort(rows.begin(), rows.end());
  std::string all;
  for (const std::string& row : rows) all += row + "\n";
  return all;
}

// Each row ends before anything is written, with its status and message on the error stream and
// in the JSON's "error"; no file of the folder is created, changed or replaced, and the targets
// that are not regular files stay what they were. Outputs are refused before the run starts.
TEST(BadInput, AlignerTableOfOutputsAndResultsThatAreNoMotion) {
  ScratchDir dir;
  const std::string p = dir.write("p.vrt", grid_vrt(20, 1.0));
  const std::string q = dir.write("q.vrt", grid_vrt(20, 1.0, 2, 1, 0));
  const std::string kept = dir.write("kept.tfm", kHead + "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n");
  ASSERT_EQ(chmod(kept.c_str(), 0600), 0);
  std::filesystem::create_directory(dir.file("folder"));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
  std::filesystem::create_symlink("p.vrt", dir.file("link_to_p"));
  std::filesystem::create_symlink("missing.tfm", dir.file("dangling"));
  const bool device = mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  if (device)
    std::filesystem::create_symlink("null", dir.file("link_to_null"));
  else
    std::printf("device targets skipped: mknod needs root\n");
  const std::string p11 = dir.write("p11.vrt", scan_lines("bun000.vrt", 4000, 1));
  const std::string q11 = dir.write("q11.vrt", scan_lines("bun045.vrt", 4000, 1));
  const std::string p12 = dir.write("p12.vrt", scan_lines("bun000.vrt", 3333, 7));
  const std::string q12 = dir.write("q12.vrt", scan_lines("bun045.vrt", 3333, 7));
  const std::string p16 = dir.write("p16.vrt", scan_lines("bun000.vrt", 2500, 1));
  const std::string q16 = dir.write("q16.vrt", scan_lines("bun045.vrt", 2500, 1));
  const std::string fortran = dir.write("d.vrt", grid_vrt(20, 1.0) + "1.5 2.5 3.5D+02\n");

  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
    bool needs_device = false;
  } rows[] = {
      {{"--out", dir.file("fifo"), p, q}, 1, "fifo: cannot write the file (it is a FIFO"},
      {{"--reconstruct", dir.file("folder"), p, q}, 1, "(it is a folder; only a regular file"},
      {{"--out", dir.file("dangling"), p, q}, 1, "(a symbolic link to a missing file)"},
      {{"--out", dir.file("null"), p, q}, 1, "null: cannot write the file (it is a device", true},
      {{"--matrix", dir.file("link_to_null"), p, q}, 1, "(it is a device", true},
      {{"--out", p, p, q}, 1, "Refused: --out " + p + " is the input file " + p},
      {{"--matrix", q, p, q}, 1, "is the input file " + q + "; an output may not replace"},
      {{"--out", dir.file("link_to_p"), p, q}, 1, "link_to_p is the input file " + p},
      {{"-l", kept, "--out", kept, p, q}, 1, "--out " + kept + " is the input file " + kept},
      {{"--matrix", dir.file("./kept.tfm"), p, q}, 1, "names the file of --out too"},
      {{fortran, q}, 1, "d.vrt: line 401: \"3.5D+02\" is not a number"},
      {{p11, q11}, 2, "No motion found: Model P has 11 points, too few for a registration"},
      {{p12, q12}, 2, "No motion found: the best motion is not a rotation (it stretches Q by"},
      {{"--icp", p16, q16}, 2, "No motion found: ICP failed to refine the motion"},
      {{"--any-pose", "--delta", "0", p, q}, 2, "No motion found: "},
  };
  const std::string before = folder_state(dir);
  for (const auto& row : rows) {
    if (row.needs_device && !device) continue;
    std::vector<std::string> args = {"--json", "--out", kept};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Outcome o = align(args);
    const std::string name = row.args[0] + " " + row.args[1];
    EXPECT_EQ(o.status, row.status) << name << "\n" << o.err;
    EXPECT_NE(o.err.find(row.message), std::string::npos) << name << "\n" << o.err;
    const std::string last = o.out.substr(o.out.rfind("\n{") + 1);
    EXPECT_NE(last.find("\"error\":\""), std::string::npos) << name << "\n" << last;
    EXPECT_EQ(last.find("\"matrix\""), std::string::npos) << name << "\n" << last;
    EXPECT_EQ(folder_state(dir), before) << name;
  }
}

// A standard output that cannot be written to is a failure, found before the files are written.
TEST(BadInput, LostStandardOutputEndsWithStatusOneAndWritesNothing) {
  ScratchDir dir;
  const std::string p = dir.write("p.vrt", grid_vrt(20, 1.0));
  const std::string q = dir.write("q.vrt", grid_vrt(20, 1.0, 2, 1, 0));
  const std::string command = std::string("'") + KESTREL_ALIGN + "' --json --out '" +
                              dir.file("r.tfm") + "' '" + p + "' '" + q + "' > /dev/full 2> '" +
                              dir.file("err.txt") + "'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(ScratchDir::read(dir.file("err.txt")).find("cannot write to standard output"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.file("r.tfm")));
}

// Inputs that once went wrong and are fine now: an OBJ face index no integer can hold (was
// undefined behaviour), a comment holding three numbers (was a face), a line of the longest
// allowed length (was dropped).
TEST(BadInput, AlignerTakesOddButValidObjLines) {
  ScratchDir dir;
  std::string obj;
  for (int i = 0; i < 20; ++i)
    for (int j = 0; j < 20; ++j)
      obj += "v " + std::to_string(i) + " " + std::to_string(j) + " " +
             std::to_string(0.1 * i + 0.05 * j) + "\n";
  obj += "f 3000000000 1 2\n# 1 2 3\nv 30 30 9" + std::string(1022 - 9, ' ') + "\n";
  const std::string q = dir.write("q.obj", obj);
  const std::string p = dir.write("p.vrt", grid_vrt(20, 1.0));
  const Outcome o = align({"--json", "--out", dir.file("r.tfm"), p, q});
  EXPECT_TRUE(written(o.status)) << o.err;
  EXPECT_NE(o.out.find("\"q_points\":401,"), std::string::npos);  // the long line counts
  EXPECT_TRUE(std::filesystem::exists(dir.file("r.tfm")));
}

TEST(BadInput, NoMotionIsReportedInTheJsonToo) {
  ScratchDir dir;
  const std::string p = dir.write("p.vrt", grid_vrt(20, 1.0));
  const Outcome o = align({"--json", "--delta", "0", "--out", dir.file("r.tfm"), p, p});
  EXPECT_EQ(o.status, 2);
  const std::string last = o.out.substr(o.out.rfind("\n{"));
  EXPECT_NE(last.find("\"best_lcp\":0.000000"), std::string::npos) << last;
  EXPECT_NE(last.find("\"error\":\"No motion found: "), std::string::npos) << last;
  EXPECT_EQ(last.find("\"matrix\""), std::string::npos) << last;
}

// A RANSAC run over 400 points has |Q|^3 candidates per trial, far more than a test can wait
// for; the time limit ends it with the best motion found so far, which is written as it stands:
// a stopped run is not refined, even with --icp.
TEST(BadInput, TimeLimitStopsTheRunAndKeepsTheBestMotion) {
  ScratchDir dir;
  const std::string p = dir.write("p.vrt", grid_vrt(20, 1.0));
  const std::string q = dir.write("q.vrt", grid_vrt(20, 1.0, 2, 1, 0));
  const Outcome o = align({"--ransac", "-o", "1", "--max-seconds", "0.5", "--icp", "--json",
                           "--out", dir.file("r.tfm"), p, q});
  EXPECT_TRUE(written(o.status)) << o.err;
  EXPECT_NE(o.out.find("\nRun stopped: time limit of 0.5 s (--max-seconds) reached in trial 1.\n"),
            std::string::npos);
  const std::string last = o.out.substr(o.out.rfind("\n{"));
  EXPECT_NE(last.find("\"trials\":1,\"stopped\":true,"), std::string::npos) << last;
  EXPECT_NE(last.find("\"stop_reason\":\"time limit\",\"matrix\""), std::string::npos) << last;
  EXPECT_NE(last.find("\"coarse_matrix\""), std::string::npos) << last;
  EXPECT_EQ(last.find("\"icp_error\""), std::string::npos) << last;
  EXPECT_EQ(last.find("\"refined_matrix\""), std::string::npos) << last;
  EXPECT_TRUE(std::filesystem::exists(dir.file("r.tfm")));
}

// Translation column of a results file (lines 5 to 7).
std::vector<double> translation(const std::string& path) {
  std::istringstream in(ScratchDir::read(path));
  std::string line;
  std::vector<double> t;
  for (int n = 1; n <= 7 && std::getline(in, line); ++n) {
    if (n < 5) continue;
    double r[4] = {};
    std::istringstream(line) >> r[0] >> r[1] >> r[2] >> r[3];
    t.push_back(r[3]);
  }
  return t;
}

// Every results file the aligner writes reads back with -l, however long its file lines.
TEST(BadInput, ResultsFileForLongPathsReadsBackWithL) {
  ScratchDir dir;
  const std::string deep = dir.file(std::string(200, 'd') + "/" + std::string(200, 'e'));
  std::filesystem::create_directories(deep);
  const std::string p = deep + "/p.vrt", q = deep + "/q.vrt";
  std::filesystem::copy_file(dir.write("a.vrt", grid_vrt(20, 1.0)), p);
  std::filesystem::copy_file(dir.write("b.vrt", grid_vrt(20, 1.0, 2, 1, 0)), q);
  ASSERT_GT(p.size() + q.size(), 600u);
  ASSERT_TRUE(written(align({"--out", dir.file("r.tfm"), p, q}).status));

  core::RunParameters params;
  std::string error;
  ASSERT_TRUE(read_trans_file(dir.file("r.tfm"), params, &error)) << error;
  std::istringstream text(ScratchDir::read(dir.file("r.tfm")));
  std::string line;
  for (int n = 1; n <= 8 && std::getline(text, line); ++n) {
    if (n < 5) continue;
    double row[4] = {};
    std::istringstream(line) >> row[0] >> row[1] >> row[2] >> row[3];
    for (int c = 0; c < 4; ++c) EXPECT_EQ(params.trans_matrix[n - 5][c], row[c]) << line;
  }
  const Outcome again = align({"-l", dir.file("r.tfm"), "--out", dir.file("r2.tfm"), p, q});
  EXPECT_TRUE(written(again.status)) << again.err;
}

// The window's run buttons put the reason on the status line; best_lcp stays as the last
// run that found a motion left it.
TEST(BadInput, RunWithoutMotionSaysSoOnTheStatusLine) {
  ScratchDir dir;
  const std::string f = dir.write("p.vrt", grid_vrt(20, 1.0));
  AppState state;
  const ActionHooks hooks;
  ASSERT_TRUE(load_model(state, ModelSide::kP, f, hooks));
  ASSERT_TRUE(load_model(state, ModelSide::kQ, f, hooks));
  state.best_lcp = 0.5f;
  state.params.delta = 0;
  on_start_kestrel(state, hooks);
  EXPECT_EQ(state.status_text.rfind("No motion found: ", 0), 0u) << state.status_text;
  EXPECT_EQ(state.best_lcp, 0.5f);
  state.params.delta = 0.9f;
  on_start_kestrel(state, hooks);
  EXPECT_EQ(state.status_text, "");
}

TEST(BadInput, NoMotionReasonTellsCandidatesFromNone) {
  registration::EngineResult run;
  run.trials = 3;
  EXPECT_EQ(no_motion_reason(run), "No motion found: 3 trials, no candidate motion");
  run.counts.candidates = 1;
  EXPECT_EQ(no_motion_reason(run),
            "No motion found: 3 trials, 1 candidate motion, none put a point of Q within the "
            "tolerance of P (best LCP 0)");
  run.improved = true;
  run.best_lcp = 0.25f;
  EXPECT_EQ(no_motion_reason(run), "");
}

}  // namespace
}  // namespace kestrel::app
