// Reruns kestrel-align on the bundled scans and compares its console trace (-d) and the results
// file with recorded outputs, so a change inside the engine that moves a single bit of a result
// shows here. Times are the only thing that may differ: the number after each time label is
// masked. To record anew (only after a deliberate change of results), run the test with
// KESTREL_RECORD_GOLDEN=1.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sys/wait.h>
#include <sstream>
#include <string>
#include <vector>

#include "app_test_support.h"

namespace kestrel::app {
namespace {

using testing::ScratchDir;

const std::string kExamples = KESTREL_EXAMPLES_DIR;
const std::string kGolden = std::string(KESTREL_TEST_DATA_DIR) + "/golden";

struct GoldenRun {
  const char* name;
  const char* args;  // EX stands for the examples folder
};

// Each ends in about a second on one core.
const GoldenRun kRuns[] = {
    {"default_plain", "EX/bun000.vrt EX/bun045.vrt"},
    {"default", "-d EX/bun000.vrt EX/bun045.vrt"},
    {"default_bun315", "-d -o 0.8 EX/bun000.vrt EX/bun315.vrt"},
    {"icp", "-d --icp EX/bun000.vrt EX/bun045.vrt"},
    {"random_position", "-d --random-position 1 EX/bun000.vrt EX/bun045.vrt"},
    {"noise", "-d --noise EX/bun000.vrt EX/bun045.vrt"},
    {"normals_off", "-d -nd 10 -o 0.9 EX/bun000.vrt EX/bun045.vrt"},
    {"ransac_small", "-d --ransac -i 100 EX/bun000.vrt EX/bun045.vrt"},
};

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Masks the number after every time label of the trace and of results.tfm, and the examples
// folder, which differs between checkouts.
std::string normalise(const std::string& text) {
  static const std::regex kTime(
      "(Time for selecting quads: |time for getting pairs: |time for getting affine: |"
      "evaluation time: |overall time: |Time: |time: )[-0-9.e+]+");
  return std::regex_replace(replace_all(text, kExamples, "EXAMPLES"), kTime, "$1#");
}

// The trace less its one verdict line, which the recordings predate.
std::string without_verdict(const std::string& trace) {
  const size_t at = trace.find("\nVerdict: ");
  EXPECT_NE(at, std::string::npos) << trace;
  if (at == std::string::npos) return trace;
  EXPECT_EQ(trace.find("\nVerdict: ", at + 1), std::string::npos) << trace;
  const size_t end = trace.find('\n', at + 1);
  return trace.substr(0, at + 1) + (end == std::string::npos ? "" : trace.substr(end + 1));
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class GoldenRuns : public ::testing::TestWithParam<GoldenRun> {};

TEST_P(GoldenRuns, TraceAndResultsMatchTheRecording) {
  const GoldenRun& run = GetParam();
  ScratchDir dir;
  const std::string trace = dir.file("trace.txt"), results = dir.file("results.tfm");
  const std::string command = "cd '" + dir.file("") + "' && '" + KESTREL_ALIGN + "' " +
                              replace_all(run.args, "EX", "'" + kExamples + "'") + " --out '" +
                              results + "' > '" + trace + "' 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && testing::written(WEXITSTATUS(status))) << command;
  const std::string got_trace = without_verdict(normalise(read_file(trace)));
  const std::string got_results = normalise(read_file(results));

  const std::string base = kGolden + "/" + run.name;
  const char* record = std::getenv("KESTREL_RECORD_GOLDEN");
  if (record && std::string(record) == "1") {
    write_file(base + ".trace", got_trace);
    write_file(base + ".tfm", got_results);
    GTEST_SKIP() << "recorded " << base;
  }
  EXPECT_EQ(got_results, read_file(base + ".tfm")) << run.args;
  EXPECT_EQ(got_trace, read_file(base + ".trace")) << run.args;
}

// Standard error on a terminal draws the progress line there and changes nothing in the trace.
TEST(GoldenRunsOnATerminal, TraceMatchesTheRecordingAndTheTerminalGetsTheLine) {
  const GoldenRun& run = kRuns[6];
  ASSERT_EQ(std::string(run.name), "normals_off");
  ScratchDir dir;
  const std::string trace = dir.file("trace.txt"), results = dir.file("results.tfm");
  const std::string command = "cd '" + dir.file("") + "' && '" + KESTREL_ALIGN + "' " +
                              replace_all(run.args, "EX", "'" + kExamples + "'") + " --out '" +
                              results + "' > '" + trace + "'";
  int status = -1;
  const std::string screen = testing::on_terminal(command, dir, &status);
  ASSERT_TRUE(testing::written(status)) << command;
  EXPECT_EQ(without_verdict(normalise(read_file(trace))),
            read_file(kGolden + "/" + run.name + ".trace"));
  EXPECT_EQ(screen.rfind("\rtrial ", 0), 0u) << screen;
  EXPECT_NE(screen.find(" candidates  "), std::string::npos) << screen;
}

INSTANTIATE_TEST_SUITE_P(Aligner, GoldenRuns, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<GoldenRun>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kestrel::app
