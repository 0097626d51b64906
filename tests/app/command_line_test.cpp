#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestrel::app {
namespace {

// Runs the parser over `args` (program name first) and captures what it writes to its stream.
struct Parsed {
  ParseOutcome outcome;
  std::string text;
  core::RunParameters params;
  std::vector<std::string> positional;
};

Parsed parse(std::vector<const char*> args, core::RunParameters params = {}) {
  Parsed p{ParseOutcome::kContinue, "", params, {}};
  FILE* f = std::tmpfile();
  p.outcome =
      parse_command_line(static_cast<int>(args.size()), args.data(), p.params, f, &p.positional);
  std::rewind(f);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) p.text.append(buf, n);
  std::fclose(f);
  return p;
}

const char kUsage[] =
    "\n\nUsage: kestrel set1(.obj,.vrt,.pct,.txt) set2(.obj,.vrt,.pct,.txt)\n"
    "      [-w1 do_scale -w2 scale_tol -e epsilon -t thr]\n"
    "      [-q base_max_len -no noise_level outl1 outl2 -cut cut_y -y num_try -s sample]\n"
    "      [-m margin -dd min_draw_dist -sh shear]\n"
    "      [-o overlap_estimation]\n"
    "      [-l trans_file]\n"
    "      [-i isamp]\n"
    "      [-nd norm_diff]\n"
    "      [-c -r -d]\n\n"
    "-r:\tdo test with periodic patterns\n"
    "-d:\tset debug to ON\n"
    "-c:\tno centering\n";

// ---- options ---------------------------------------------------------------------------------

TEST(CommandLine, HelpPrintsTheUsageAndEndsWithSuccess) {
  const Parsed p = parse({"kestrel", "-h"});
  EXPECT_EQ(p.outcome, ParseOutcome::kExitSuccess);
  EXPECT_EQ(p.text, kUsage);
}

TEST(CommandLine, UnknownOptionNamesItAsGivenAndFails) {
  const Parsed p = parse({"kestrel", "-x"});
  EXPECT_EQ(p.outcome, ParseOutcome::kExitFailure);
  EXPECT_EQ(p.text, "Unrecognized option.(-x)\n");
  EXPECT_EQ(parse({"kestrel", "-"}).text, "Unrecognized option.(-)\n");  // no NUL byte
  EXPECT_EQ(parse({"kestrel", "-xyz"}).text, "Unrecognized option.(-xyz)\n");
}

TEST(CommandLine, StoresValuesAndSkipsStrayWords) {
  const Parsed p =
      parse({"kestrel", "scan.vrt", "-no", "0.3", "1",   "2",  "-o",    "0.7", "-i", "500",  "-m",
             "2",       "-d",       "-r",  "-e",  "2.5", "-l", "m.tfm", "-y",  "7",  "other"});
  ASSERT_EQ(p.outcome, ParseOutcome::kContinue);
  EXPECT_FLOAT_EQ(p.params.noise_level, 0.3f);
  EXPECT_EQ(p.params.outl1, 1);
  EXPECT_EQ(p.params.outl2, 2);
  EXPECT_FLOAT_EQ(p.params.overlap_estimation, 0.7f);
  EXPECT_EQ(p.params.isamp, 500u);
  EXPECT_EQ(p.params.margin, 2);
  EXPECT_TRUE(p.params.debug);
  EXPECT_TRUE(p.params.periodic_test);
  EXPECT_EQ(p.params.epsilon, 2.5);
  EXPECT_EQ(p.params.trans_file, "m.tfm");
  EXPECT_EQ(p.params.num_try, 7);
  EXPECT_EQ(p.positional, (std::vector<std::string>{"scan.vrt", "other"}));
}

TEST(CommandLine, CentringTogglesAndResetsScale) {
  Parsed p = parse({"kestrel", "-c", "-c"});
  EXPECT_TRUE(p.params.centering);
  p = parse({"kestrel", "-w1", "3", "-c"});
  EXPECT_FALSE(p.params.centering);
  derive_parameters(p.params);
  EXPECT_EQ(p.params.do_scale, 1.0f);
}

TEST(CommandLine, FAndDeltaAreSeparate) {
  const Parsed p = parse({"kestrel", "-f", "3"});
  EXPECT_EQ(p.params.delta_default, 3.0f);
  EXPECT_FLOAT_EQ(p.params.delta, 0.9f);
}

TEST(CommandLine, RefusesMissingValuesAndZeroIsamp) {
  for (auto args :
       {std::vector<const char*>{"kestrel", "-i", "0"}, std::vector<const char*>{"kestrel", "-o"},
        std::vector<const char*>{"kestrel", "-no", "1", "2"}}) {
    const core::RunParameters before;
    const Parsed p = parse(args);
    EXPECT_EQ(p.outcome, ParseOutcome::kExitFailure) << args[1];
    EXPECT_NE(p.text.find("Usage: kestrel"), std::string::npos);
    EXPECT_EQ(p.params.isamp, before.isamp);
  }
}

// Values are whole words of the right kind within the option's range; anything else ends with
// the reason and the usage, leaving the parameters as they were.
TEST(CommandLine, RefusesValuesThatAreNotNumbersInRange) {
  for (auto args : std::vector<std::vector<const char*>>{{"-o", "0"},
                                                         {"-o", "-1"},
                                                         {"-o", "nan"},
                                                         {"-o", "0.008"},
                                                         {"-o", "1e30"},
                                                         {"-m", "7"},
                                                         {"-m", "-1"},
                                                         {"-cut", "nan"},
                                                         {"-w1", "nan"},
                                                         {"-w1", "0"},
                                                         {"-nd", "nan"},
                                                         {"-nd", "-0.1"},
                                                         {"-y", "-5"},
                                                         {"-y", "0"},
                                                         {"-y", "2.5"},
                                                         {"-i", "4294967297"},
                                                         {"-i", "12abc"},
                                                         {"-i", ""},
                                                         {"-i", " 5"},
                                                         {"-s", "-1"},
                                                         {"-t", "inf"},
                                                         {"-e", "1e999"},
                                                         {"-q", "1e39"},
                                                         {"-dd", "-1"},
                                                         {"-no", "0", "0", "1e30"},
                                                         {"-no", "0.5", "x", "0"}}) {
    args.insert(args.begin(), "kestrel");
    const Parsed p = parse(args);
    EXPECT_EQ(p.outcome, ParseOutcome::kExitFailure) << args[1] << " " << args[2];
    const std::string reason = std::string("Option ") + args[1] + " needs ";
    EXPECT_EQ(p.text.rfind(reason, 0), 0u) << p.text;
    const char* bad = args.size() == 3 ? args[2] : std::strcmp(args[3], "x") == 0 ? "x" : "1e30";
    EXPECT_NE(p.text.find("(got \"" + std::string(bad) + "\")"), std::string::npos) << p.text;
    EXPECT_NE(p.text.find("Usage: kestrel"), std::string::npos);
    EXPECT_EQ(p.params.overlap_estimation, core::RunParameters().overlap_estimation);
  }
  EXPECT_EQ(parse({"kestrel", "-m", "7"})
                .text.rfind("Option -m needs a whole number from 0 to 2 (got \"7\").\n", 0),
            0u);
  EXPECT_EQ(
      parse({"kestrel", "-w1", "0"})
          .text.rfind("Option -w1 needs a number above 0 and at most 1e+06 (got \"0\").\n", 0),
      0u);
}

TEST(CommandLine, AcceptsEveryMeaningfulValue) {
  const Parsed p =
      parse({"kestrel", "-o",  "2",  "-cut",       "-50",  "-w2", "-0.5", "-m",    "0",
             "-s",      "0",   "-i", "2147483647", "-y",   "+3",  "-e",   "1e300", "-t",
             "-1",      "-nd", "0",  "-no",        "-0.5", "0",   "1e6",  "-w1",   "1e-3"});
  ASSERT_EQ(p.outcome, ParseOutcome::kContinue) << p.text;
  EXPECT_EQ(p.params.overlap_estimation, 2.0f);
  EXPECT_EQ(p.params.cut_y, -50.0f);
  EXPECT_EQ(p.params.isamp, 2147483647u);
  EXPECT_EQ(p.params.num_try, 3);
  EXPECT_EQ(p.params.epsilon, 1e300);
  EXPECT_EQ(p.params.outl2, 1e6f);
  EXPECT_FLOAT_EQ(p.params.do_scale, 1e-3f);
  // The smallest overlap still gives a trial count, and the start-up derivation one run.
  Parsed low = parse({"kestrel", "-o", "0.0088"});
  ASSERT_EQ(low.outcome, ParseOutcome::kContinue);
  derive_parameters(low.params);
  EXPECT_GT(low.params.num_try, 1000000);
  low.params.model_extent = 100;
  refresh_parameters(low.params);
  EXPECT_GT(low.params.num_try, 1000000);
}

// The aligner's parser: kestrel's options and its own, from the same table.
TEST(CommandLine, AlignerParserTakesBothKindsOfOptions) {
  const char* args[] = {
      "kestrel-align", "-o",    "0.7",   "--delta",   "12",   "--random-position", "2", "--icp",
      "--out",         "r.tfm", "p.vrt", "--profile", "q.vrt"};
  core::RunParameters params;
  AlignOptions align;
  std::vector<std::string> files;
  FILE* sink = std::tmpfile();
  EXPECT_EQ(parse_align_command_line(13, args, params, align, files, sink, sink),
            ParseOutcome::kContinue);
  EXPECT_FLOAT_EQ(params.overlap_estimation, 0.7f);
  EXPECT_EQ(params.delta, 10.0f);  // held within the panel's limits
  EXPECT_EQ(align.random_positions, 2);
  EXPECT_TRUE(align.icp);
  EXPECT_TRUE(align.profile);
  EXPECT_FALSE(align.ransac);
  EXPECT_EQ(align.out, "r.tfm");
  EXPECT_EQ(files, (std::vector<std::string>{"p.vrt", "q.vrt"}));
  // kestrel itself does not know the aligner's options.
  EXPECT_EQ(parse({"kestrel", "--icp"}).outcome, ParseOutcome::kExitFailure);
  for (const std::vector<const char*>& bad :
       {std::vector<const char*>{"kestrel-align", "--bogus"},
        std::vector<const char*>{"kestrel-align", "--random-position", "-1"},
        std::vector<const char*>{"kestrel-align", "--out"}}) {
    EXPECT_EQ(parse_align_command_line(static_cast<int>(bad.size()), bad.data(), params, align,
                                       files, sink, sink),
              ParseOutcome::kExitFailure)
        << bad[1];
  }
  std::fclose(sink);
}

TEST(CommandLine, PanelLimitsComeFromTheTable) {
  EXPECT_EQ(run_option("-o").lo, 0.1f);
  EXPECT_EQ(run_option("-o").hi, 1.0f);
  EXPECT_EQ(run_option("--delta").lo, 0.0f);
  EXPECT_EQ(run_option("--delta").hi, 10.0f);
}

// ---- derived parameters ----------------------------------------------------------------------

TEST(RunParameters, StartUpDerivationFromDefaults) {
  core::RunParameters params;
  derive_parameters(params);
  EXPECT_FLOAT_EQ(params.thr, 0.605f);
  EXPECT_FLOAT_EQ(params.base_max_len, 140.8f);
  EXPECT_EQ(params.num_try, 4);
}

TEST(RunParameters, RefreshFollowsExtentAndOverlap) {
  core::RunParameters params;
  refresh_parameters(params);  // nothing loaded yet
  EXPECT_EQ(params.base_max_len, 0);
  EXPECT_EQ(params.num_try, 4);
  EXPECT_FLOAT_EQ(params.thr, 0.55f);

  params.model_extent = 100;
  refresh_parameters(params);
  EXPECT_FLOAT_EQ(params.base_max_len, 110);
  EXPECT_EQ(params.num_try, 86);

  params.overlap_estimation = 1.0f;
  refresh_parameters(params);
  EXPECT_EQ(params.num_try, 4);

  params.overlap_estimation = 2.0f;  // nonsense from the command line: still a sane count
  refresh_parameters(params);
  EXPECT_EQ(params.num_try, 4);

  params.delta = 2;
  params.point_spacing = 0.25f;
  refresh_parameters(params);
  EXPECT_EQ(params.delta_default, 0.5f);
  EXPECT_EQ(params.epsilon, 0.5);
}

TEST(RunParameters, ExplicitValuesSurviveDerivation) {
  Parsed p = parse({"kestrel", "-t", "0.3", "-q", "50", "-y", "9"});
  derive_parameters(p.params);
  EXPECT_FLOAT_EQ(p.params.thr, 0.3f);
  EXPECT_FLOAT_EQ(p.params.base_max_len, 50);
  EXPECT_EQ(p.params.num_try, 9);
}

// The window's refresh recomputes -t, -q and -y whatever was given; a headless run's keeps
// them, and its trials follow a given base length (overlap 0.55 and extent 100: 119 * 80 / 110
// trials, base length 110).
TEST(RunParameters, GivenValuesSurviveTheRefreshOnlyWhenHeadless) {
  struct Case {
    std::vector<const char*> args;
    bool headless;
    float thr, base_max_len;
    int32_t num_try;
  };
  const Case cases[] = {
      {{"kestrel", "-t", "0.3", "-q", "50", "-y", "9"}, false, 0.55f, 110, 86},
      {{"kestrel", "-t", "0.3", "-q", "50", "-y", "9"}, true, 0.3f, 50, 9},
      {{"kestrel", "-q", "50"}, true, 0.55f, 50, 190},
      {{"kestrel", "-t", "-1", "-y", "1"}, true, 0.55f, 110, 1},  // -1: the derived value
      {{"kestrel"}, true, 0.55f, 110, 86},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.args);
    derive_parameters(p.params);
    p.params.headless = c.headless;
    p.params.model_extent = 100;
    refresh_parameters(p.params);
    const std::string name =
        std::to_string(c.args.size()) + " words, headless " + std::to_string(c.headless);
    EXPECT_FLOAT_EQ(p.params.thr, c.thr) << name;
    EXPECT_FLOAT_EQ(p.params.base_max_len, c.base_max_len) << name;
    EXPECT_EQ(p.params.num_try, c.num_try) << name;
  }
}

// ---- transform file --------------------------------------------------------------------------

TEST(TransFile, ABadFileIsRefusedAsAWholeAndDropped) {
  const std::string path =
      (std::filesystem::path(::testing::TempDir()) / "kestrel_trans_test.tfm").string();
  std::ofstream(path) << "files: a ---> b\npoints: x\ntime: 1 sec\n\n"
                      << "1 2 3 4\n5 6 7 8\n9 10\n0 0 0 1\n";
  core::RunParameters params;
  params.trans_file = path;
  params.trans_matrix[0][3] = -1;
  std::string error;
  EXPECT_FALSE(read_trans_file(path, params, &error));
  EXPECT_EQ(error, path + ", line 7: expected four numbers (a row of the matrix)");
  EXPECT_EQ(params.trans_matrix[0][3], -1);  // rows 5 and 6 were good, but nothing is taken
  EXPECT_TRUE(params.trans_file.empty());    // Q is loaded as it is

  std::ofstream(path) << "files: a ---> b\npoints: x\ntime: 1 sec\n\n"
                      << "1 2 3 4\n5 6 7 8\n9 10 11 12\n0 0 0 1\n";
  params.trans_file = path;
  EXPECT_TRUE(read_trans_file(path, params, &error));
  EXPECT_EQ(params.trans_matrix[2][0], 9);
  EXPECT_EQ(params.trans_file, path);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace kestrel::app
