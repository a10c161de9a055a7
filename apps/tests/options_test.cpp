// The command line: defaults, values, and the message and exit status of a bad one.
#include "options.h"

#include <gtest/gtest.h>

#include <vector>

#include "exit_codes.h"
#include "npy.h"

namespace inferlet_run {
namespace {

int Parse(std::vector<const char*> args, Options* o) {
  args.insert(args.begin(), "inferlet-run");
  return ParseCommandLine(static_cast<int>(args.size()), args.data(), o);
}

int ParseInspect(std::vector<const char*> args, InspectOptions* o) {
  args.insert(args.begin(), "inspect");
  return ParseInspectCommandLine(static_cast<int>(args.size()), args.data(), o);
}

TEST(CommandLine, DefaultsNeedOnlyAnEngine) {
  Options o;
  ASSERT_EQ(Parse({"--engine", "e.engine"}, &o), -1);
  EXPECT_EQ(o.engine, "e.engine");
  EXPECT_EQ(o.trt, 0);
  EXPECT_EQ(o.profile, 0);
  EXPECT_EQ(o.batch, 0);
  EXPECT_EQ(o.device, 0);
  EXPECT_FALSE(o.cuda_graph);
  EXPECT_EQ(o.iterations, 100);
  EXPECT_EQ(o.warmup, 5);
  EXPECT_DOUBLE_EQ(o.duration_s, 3.0) << "a minimum duration as trtexec's --duration";
  EXPECT_TRUE(o.percentiles.empty());
  EXPECT_EQ(o.fill, FillMode::kRandom);
  EXPECT_EQ(o.seed, 1u);
  EXPECT_TRUE(o.export_times.empty());
  EXPECT_FALSE(o.json);
  EXPECT_FALSE(o.quiet);
  Options positional;
  ASSERT_EQ(Parse({"e.engine", "--batch", "2"}, &positional), -1) << "the engine as a word, as for inspect";
  EXPECT_EQ(positional.engine, "e.engine");
  EXPECT_EQ(positional.batch, 2);
}

TEST(CommandLine, VersionIsTheProjectsAndEndsSuccessfully) {
  Options o;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"--version"}, &o), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "inferlet-run " INFERLET_TEST_VERSION "\n");
}

TEST(CommandLine, EveryOptionReachesItsField) {
  Options o;
  ASSERT_EQ(Parse({"--engine",
                   "e",
                   "--trt",
                   "7",
                   "--lib",
                   "l.so",
                   "--profile",
                   "1",
                   "--batch",
                   "3",
                   "--device",
                   "2",
                   "--cuda-graph",
                   "--iterations",
                   "9",
                   "--warmup",
                   "0",
                   "--duration",
                   "0.5",
                   "--fill",
                   "zeros",
                   "--seed",
                   "4294967295",
                   "--input",
                   "in0=a.npy",
                   "--input",
                   "in1=b.npy",
                   "--save-outputs",
                   "out",
                   "--shape",
                   "1:in0=4x8",
                   "--item-size",
                   "in1=2",
                   "--percentile",
                   "99.9",
                   "--percentile",
                   "95",
                   "--export-times",
                   "t.json",
                   "--quiet",
                   "--json"},
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
  EXPECT_EQ(o.seed, 4294967295u);
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"in0=a.npy", "in1=b.npy"}));
  EXPECT_EQ(o.save_outputs, "out");
  EXPECT_EQ(o.shapes, std::vector<std::string>{"1:in0=4x8"});
  EXPECT_EQ(o.item_sizes, std::vector<std::string>{"in1=2"});
  EXPECT_EQ(o.percentiles, (std::vector<double>{99.9, 95}));
  EXPECT_EQ(o.export_times, "t.json");
  EXPECT_TRUE(o.quiet);
  EXPECT_TRUE(o.json);
}

TEST(CommandLine, SessionsCompareAndShapesReachTheirFields) {
  Options d;
  ASSERT_EQ(Parse({"--engine", "e"}, &d), -1);
  EXPECT_EQ(d.api, Api::kLegacy);
  EXPECT_EQ(d.sessions, 1);
  EXPECT_DOUBLE_EQ(d.rtol, 1e-5) << "numpy's allclose defaults";
  EXPECT_DOUBLE_EQ(d.atol, 1e-8);
  Options o;
  ASSERT_EQ(Parse({"--engine", "e", "--api", "sessions", "--profiles", "2,0,1", "--compare", "refs", "--rtol",
                   "0.01", "--atol", "0", "--cuda-graph"},
                  &o),
            -1);
  EXPECT_EQ(o.api, Api::kSessions);
  EXPECT_EQ(o.session_profiles, (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(o.sessions, 3) << "one session per listed profile";
  EXPECT_EQ(o.compare, "refs");
  EXPECT_DOUBLE_EQ(o.rtol, 0.01);
  EXPECT_DOUBLE_EQ(o.atol, 0);
  Options s;
  ASSERT_EQ(Parse({"--engine", "e", "--api", "sessions", "--sessions", "4"}, &s), -1);
  EXPECT_EQ(s.sessions, 4);
  EXPECT_TRUE(s.session_profiles.empty()) << "chosen from the engine";
  Options t;
  ASSERT_EQ(Parse({"--engine", "e", "--shapes", "in0=1x2,3x2", "--shapes", "in1=1x2,3x2"}, &t), -1);
  EXPECT_EQ(t.shape_sweep, (std::vector<std::string>{"in0=1x2,3x2", "in1=1x2,3x2"}));
}

TEST(CommandLine, TrtTakesEveryMajorADeliverableIsBuiltFor) {
  for (const char* major : {"7", "8", "10", "11"}) {
    Options o;
    ASSERT_EQ(Parse({"--engine", "e", "--trt", major}, &o), -1);
    EXPECT_EQ(o.trt, std::stoi(major));
    InspectOptions i;
    ASSERT_EQ(ParseInspect({"--trt", major, "e"}, &i), -1);
    EXPECT_EQ(i.trt, std::stoi(major));
  }
}

// Each bad command line is a usage error whose message says, in words, what the flag takes.
TEST(CommandLine, BadCommandLinesSayWhatIsAllowed) {
  const std::vector<std::pair<std::vector<const char*>, std::string>> bad = {
      {{}, "--engine is required"},
      {{"--engine", "e", "--trt", "9"}, "--trt must be " INFERLET_TEST_MAJORS_IN_WORDS ", not '9'"},
      {{"--engine", "e", "--trt", "10.0"}, "--trt must be " INFERLET_TEST_MAJORS_IN_WORDS ", not '10.0'"},
      {{"--engine", "e", "--bogus"}, "unknown option '--bogus'"},
      {{"--engin", "e"}, "unknown option '--engin'"},
      {{"e", "--bogus", "--engine"}, "--engine needs a value"},
      {{"--engine", "e", "stray"}, "unexpected argument 'stray' (the engine is given with --engine)"},
      {{"e", "f"}, "unexpected argument 'f'"},
      {{"--engine", "e", "--batch", "0"}, "--batch must be at least 1"},
      {{"--engine", "e", "--batch", "many"}, "--batch takes a whole number, not 'many'"},
      {{"--engine", "e", "--batch", "1.5"}, "--batch takes a whole number, not '1.5'"},
      {{"--engine", "e", "--batch", "99999999999"}, "--batch must be at most 2147483647"},
      {{"--engine", "e", "--iterations", "0"}, "--iterations must be at least 1"},
      {{"--engine", "e", "--warmup", "-1"}, "--warmup must be at least 0"},
      {{"--engine", "e", "--profile", "-1"}, "--profile must be at least 0"},
      {{"--engine", "e", "--device", "-2"}, "--device must be at least 0"},
      {{"--engine", "e", "--duration", "-1"}, "--duration must be at least 0"},
      {{"--engine", "e", "--duration", "soon"}, "--duration takes a number, not 'soon'"},
      {{"--engine", "e", "--percentile", "101"}, "--percentile must be between 0 and 100"},
      {{"--engine", "e", "--percentile", "-0.5"}, "--percentile must be between 0 and 100"},
      {{"--engine", "e", "--seed", "-1"}, "--seed must be between 0 and 4294967295"},
      {{"--engine", "e", "--seed", "4294967296"}, "--seed must be between 0 and 4294967295"},
      {{"--engine", "e", "--fill", "ones"}, "--fill must be zeros or random, not 'ones'"},
      {{"--engine", "e", "--api", "both"}, "--api must be legacy or sessions, not 'both'"},
      {{"--engine", "e", "--api", "sessions", "--sessions", "0"}, "--sessions must be at least 1"},
      {{"--engine", "e", "--sessions", "2"}, "--sessions needs --api sessions"},
      {{"--engine", "e", "--profiles", "0,1"}, "--profiles needs --api sessions"},
      {{"--engine", "e", "--api", "sessions", "--profiles", "0,,1"},
       "--profiles takes profile numbers separated by commas, such as 0,1, not '0,,1'"},
      {{"--engine", "e", "--api", "sessions", "--profiles", "0,1", "--profile", "1"},
       "give --profile or --profiles, not both"},
      {{"--engine", "e", "--api", "sessions", "--profiles", "0,1", "--sessions", "3"},
       "--profiles lists 2 profile(s) for --sessions 3"},
      {{"--engine", "e", "--api", "sessions", "--item-size", "in0=2"},
       "--item-size configures kestrel_trt_new: the sessions library takes each tensor's own"},
      {{"--engine", "e", "--rtol", "0.1"}, "--rtol needs --compare"},
      {{"--engine", "e", "--compare", "d", "--atol", "-1"}, "--atol must be at least 0"},
      {{"--engine", "e", "--shapes", "in0=1x2", "--input", "in0=a.npy"},
       "--shapes makes up every row's inputs and reports rows: it cannot go with --input"},
      {{"--engine", "e", "--shapes", "in0=1x2", "--compare", "d"},
       "--shapes makes up every row's inputs and reports rows: it cannot go with --compare"},
      {{"--engine", "e", "--api", "sessions", "--sessions", "2", "--shapes", "in0=1x2"},
       "--shapes runs one session for every row: it cannot go with --sessions 2"},
  };
  for (const auto& [args, message] : bad) {
    Options o;
    try {
      Parse(args, &o);
      ADD_FAILURE() << "accepted: " << message;
    } catch (const ToolError& e) {
      EXPECT_EQ(e.code, kExitUsage) << message;
      EXPECT_EQ(e.message, message);
    }
  }
}

TEST(CommandLine, HelpEndsSuccessfullyAndListsTheExitStatusesAndEveryNpyType) {
  Options o;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"--help"}, &o), 0);
  const std::string help = testing::internal::GetCapturedStdout();
  EXPECT_NE(help.find("--engine FILE"), std::string::npos);
  EXPECT_NE(help.find("--cuda-graph"), std::string::npos);
  EXPECT_NE(help.find("--duration SECONDS"), std::string::npos);
  EXPECT_NE(help.find("(default 3;"), std::string::npos) << help;
  EXPECT_NE(help.find("--percentile P"), std::string::npos);
  EXPECT_NE(help.find("--export-times FILE"), std::string::npos);
  EXPECT_NE(help.find("--quiet"), std::string::npos);
  EXPECT_NE(help.find("Usage: inferlet-run ENGINE [OPTIONS]   (or --engine ENGINE)\n"
                      "       inferlet-run inspect ENGINE [OPTIONS]\n"),
            std::string::npos)
      << help;
  EXPECT_NE(help.find("--trt " INFERLET_TEST_MAJOR_CHOICES), std::string::npos) << help;
  EXPECT_NE(help.find("Without --trt and --lib the engine picks the TensorRT major: the sessions library of "
                      "each major\npresent (8, 7, 10, 11, in that order) tries to read it"),
            std::string::npos)
      << help;
  EXPECT_NE(
      help.find("\"cannot read engine file 'F': no TensorRT major of this build (8, 7, 10, 11) reads it: "
                "REASON\""),
      std::string::npos)
      << help;
  EXPECT_NE(help.find("Exit status: 0 success, 1 the library refused"), std::string::npos) << help;
  EXPECT_NE(help.find("6 an output out of tolerance with --compare"), std::string::npos) << help;
  for (const char* option : {"--api legacy|sessions", "--sessions N", "--profiles P,P..", "--compare DIR",
                             "--rtol R", "--atol A", "--shapes NAME=DxD,DxD..", "--allow-host-code"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  EXPECT_NE(help.find("(default 1e-05)"), std::string::npos) << help;
  EXPECT_NE(help.find("(default 1e-08)"), std::string::npos) << help;
  for (const char* descr : {"<f4", "<f2", "|i1", "<i4", "|b1", "|u1", "<i8", "<V2", "<V1"})
    EXPECT_NE(help.find(std::string("(") + descr + ")"), std::string::npos) << descr << help;
  for (const char* type : {"float32", "float16", "int8", "int32", "bool", "uint8", "int64", "bfloat16",
                           "float8_e4m3fn", "float8_e8m0fnu"})
    EXPECT_NE(help.find(type), std::string::npos) << type;
}

TEST(CommandLine, WantsJsonLooksAtTheWordsOnly) {
  const char* with[] = {"inferlet-run", "--batch", "zero", "--json"};
  const char* without[] = {"inferlet-run", "--engine", "e", "--", "--json"};
  EXPECT_TRUE(WantsJson(4, with));
  EXPECT_FALSE(WantsJson(5, without));
}

TEST(InspectCommandLine, TakesTheEngineAndOptionallyTheMajor) {
  InspectOptions o;
  ASSERT_EQ(ParseInspect({"e.engine"}, &o), -1);
  EXPECT_EQ(o.engine, "e.engine");
  EXPECT_EQ(o.trt, 0);
  EXPECT_FALSE(o.json);
  InspectOptions p;
  ASSERT_EQ(ParseInspect({"--trt", "7", "--json", "e.engine"}, &p), -1);
  EXPECT_EQ(p.trt, 7);
  EXPECT_TRUE(p.json);
  try {
    InspectOptions q;
    ParseInspect({"--trt", "6", "e.engine"}, &q);
    ADD_FAILURE() << "accepted --trt 6";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, kExitUsage);
    EXPECT_EQ(e.message, "--trt must be " INFERLET_TEST_MAJORS_IN_WORDS ", not '6'");
  }
  EXPECT_THROW(ParseInspect({}, &o), ToolError);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ParseInspect({"--help"}, &o), 0);
  const std::string help = testing::internal::GetCapturedStdout();
  EXPECT_NE(help.find("min, opt and max"), std::string::npos) << help;
  EXPECT_NE(help.find("sessions library of each major present, TensorRT 8, 7, 10\nand 11 in that order"),
            std::string::npos)
      << help;
}

}  // namespace
}  // namespace inferlet_run

namespace inferlet_run {
namespace {

// --inspector named a library that reading engines no longer needs: refused in words that say so, by
// both commands, rather than as an unknown option; hidden from the help.
TEST(RetiredOption, InspectorIsRefusedInWordsThatSayWhatReadsEngines) {
  const std::string gone =
      "--inspector is gone: the sessions library of each major (libinferlet_sessions<N>.so) reads the "
      "engine; --trt picks the major";
  for (const bool inspect : {false, true}) {
    try {
      Options o;
      InspectOptions i;
      if (inspect)
        ParseInspect({"--inspector", "i.so", "e.engine"}, &i);
      else
        Parse({"e.engine", "--inspector", "i.so"}, &o);
      ADD_FAILURE() << "accepted --inspector";
    } catch (const ToolError& e) {
      EXPECT_EQ(e.code, kExitUsage);
      EXPECT_EQ(e.message, gone);
    }
  }
  testing::internal::CaptureStdout();
  Options o;
  EXPECT_EQ(Parse({"--help"}, &o), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("--inspector"), std::string::npos);
}

}  // namespace
}  // namespace inferlet_run
