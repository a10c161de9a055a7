// The command line: defaults, values, and the exit status of a bad one.
#include "options.h"

#include <gtest/gtest.h>

#include <vector>

#include "exit_codes.h"

namespace inferlet_run {
namespace {

int Parse(std::vector<const char*> args, Options* o) {
  args.insert(args.begin(), "inferlet-run");
  return ParseCommandLine(static_cast<int>(args.size()), args.data(), o);
}

TEST(CommandLine, DefaultsNeedOnlyAnEngine) {
  Options o;
  ASSERT_EQ(Parse({"--engine", "e.engine"}, &o), -1);
  EXPECT_EQ(o.engine, "e.engine");
  EXPECT_EQ(o.trt, 0);
  EXPECT_EQ(o.profile, 0);
  EXPECT_EQ(o.batch, 0);
  EXPECT_FALSE(o.cuda_graph);
  EXPECT_EQ(o.iterations, 100);
  EXPECT_EQ(o.warmup, 5);
  EXPECT_EQ(o.fill, FillMode::kRandom);
  EXPECT_FALSE(o.json);
}

TEST(CommandLine, EveryOptionReachesItsField) {
  Options o;
  ASSERT_EQ(
      Parse({"--engine", "e",        "--trt",     "7",           "--lib",   "l.so",         "--profile",
             "1",        "--batch",  "3",         "--device",    "2",       "--cuda-graph", "--iterations",
             "9",        "--warmup", "0",         "--duration",  "0.5",     "--fill",       "zeros",
             "--seed",   "77",       "--input",   "in0=a.npy",   "--input", "in1=b.npy",    "--save-outputs",
             "out",      "--shape",  "1:in0=4x8", "--item-size", "in1=2",   "--json"},
            &o),
      -1);
  EXPECT_EQ(o.trt, 7);
  EXPECT_EQ(o.lib, "l.so");
  EXPECT_EQ(o.profile, 1);
  EXPECT_EQ(o.batch, 3);
  EXPECT_EQ(o.device, 2);
  EXPECT_TRUE(o.cuda_graph);
  EXPECT_EQ(o.iterations, 9);
  EXPECT_EQ(o.warmup, 0);
  EXPECT_DOUBLE_EQ(o.duration_s, 0.5);
  EXPECT_EQ(o.fill, FillMode::kZeros);
  EXPECT_EQ(o.seed, 77u);
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"in0=a.npy", "in1=b.npy"}));
  EXPECT_EQ(o.save_outputs, "out");
  EXPECT_EQ(o.shapes, std::vector<std::string>{"1:in0=4x8"});
  EXPECT_EQ(o.item_sizes, std::vector<std::string>{"in1=2"});
  EXPECT_TRUE(o.json);
}

TEST(CommandLine, BadCommandLinesEndWithTheUsageStatus) {
  const std::vector<std::vector<const char*>> bad = {
      {},                                 // no engine
      {"--engine", "e", "--trt", "9"},    // no such deliverable
      {"--engine", "e", "--bogus"},       // unknown flag
      {"--engine", "e", "--batch", "0"},  // a call needs a sample
      {"--engine", "e", "--iterations", "0"},
      {"--engine", "e", "--warmup", "-1"},
      {"--engine", "e", "--profile", "-1"},
      {"--engine", "e", "--fill", "ones"},
      {"--engine", "e", "--batch", "many"},
      {"--engine", "e", "stray"},
  };
  for (const auto& args : bad) {
    Options o;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int rc = Parse(args, &o);
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, kExitUsage) << (args.empty() ? "(none)" : args.back());
    EXPECT_FALSE(err.empty()) << "no reason given for " << (args.empty() ? "(none)" : args.back());
  }
}

TEST(CommandLine, HelpEndsSuccessfullyAndListsTheExitStatuses) {
  Options o;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"--help"}, &o), 0);
  const std::string help = testing::internal::GetCapturedStdout();
  EXPECT_NE(help.find("--engine FILE"), std::string::npos);
  EXPECT_NE(help.find("--cuda-graph"), std::string::npos);
  EXPECT_NE(help.find("Exit status: 0 success, 1 the library refused"), std::string::npos) << help;
}

}  // namespace
}  // namespace inferlet_run
