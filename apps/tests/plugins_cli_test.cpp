// inferlet-run --plugins: the test engine custom_plugin, whose one layer is the plugin ScaleOffset (out0 =
// 3 * in0 + 0.5, the values its creator gives), through either interface and inspect on every major once
// the stand-in's test plugin library is given; without it the failure names the missing creator; a
// library that is none is refused with its reason. Which library: the sessions library takes one with
// IPluginRegistry::loadLibrary's entry points on 10 and later; the legacy path (the tool's own dlopen)
// and 7 and 8 one that registers itself when it is loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "npy.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::Describe;
using inferlet_run_test::EnginePath;
using inferlet_run_test::ExpectFailure;
using inferlet_run_test::kBuiltMajors;
using inferlet_run_test::RunTool;
using inferlet_run_test::TempDir;
using inferlet_run_test::ToolResult;

std::string PluginLibrary(int major, const std::string& kind) {
  return std::string(INFERLET_BUILD_DIR) + "/trt" + std::to_string(major) + "/plugins/libtest_plugin_" +
         kind + ".so";
}

// The library a run of the interface takes on that major.
std::string ScaleOffsetLibrary(int major, bool sessions) {
  return PluginLibrary(major, sessions && major >= 10 ? "entry" : "static");
}

const char* ApiName(bool sessions) { return sessions ? "sessions" : "legacy"; }

// TensorRT's refusal of the engine without its plugin, as the sessions library that reads it words it.
std::string MissingPlugin() {
  return "not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: no plugin creator "
         "'ScaleOffset' version '1' in namespace '' is registered (layers[0], output 'out0'): load the "
         "plugin "
         "library that registers it before deserializing the engine)";
}

// Every major, both interfaces, with --trt and with the engine choosing the major: the saved output is
// 3 * in0 + 0.5, element for element.
TEST(Plugins, EngineRunsThroughEitherInterfaceOnceItsLibraryIsGiven) {
  TempDir dir;
  NpyArray in0;
  in0.descr = "<f4";
  in0.shape = {2, 4};
  const std::vector<float> values = {0, 1, 2, 3, -1, -2, 0.25f, 10};
  in0.data.assign(reinterpret_cast<const char*>(values.data()),
                  reinterpret_cast<const char*>(values.data() + values.size()));
  WriteNpy(dir.File("in0.npy"), in0);
  for (int major : kBuiltMajors) {
    for (bool sessions : {false, true}) {
      for (bool trt : {false, true}) {
        SCOPED_TRACE("trt" + std::to_string(major) + " --api " + ApiName(sessions) + (trt ? " --trt" : ""));
        const std::string out =
            dir.File("out" + std::to_string(major) + ApiName(sessions) + (trt ? "t" : ""));
        std::vector<std::string> args = {"--engine",       EnginePath("custom_plugin", major),
                                         "--api",          ApiName(sessions),
                                         "--plugins",      ScaleOffsetLibrary(major, sessions),
                                         "--input",        "in0=" + dir.File("in0.npy"),
                                         "--save-outputs", out,
                                         "--iterations",   "1",
                                         "--warmup",       "0"};
        if (trt) args.insert(args.end(), {"--trt", std::to_string(major)});
        const ToolResult r = RunTool(args);
        ASSERT_EQ(r.exit_code, 0) << Describe(r);
        const NpyArray saved = ReadNpy(out + "/out0.npy");
        EXPECT_EQ(saved.shape, (std::vector<size_t>{2, 4}));
        ASSERT_EQ(saved.data.size(), values.size() * sizeof(float));
        std::vector<float> result(values.size());
        std::memcpy(result.data(), saved.data.data(), saved.data.size());
        EXPECT_EQ(result, (std::vector<float>{0.5f, 3.5f, 6.5f, 9.5f, -2.5f, -5.5f, 1.25f, 30.5f}));
      }
    }
  }
}

TEST(Plugins, InspectListsTheEngineOnceItsLibraryIsGiven) {
  for (int major : kBuiltMajors) {
    SCOPED_TRACE("trt" + std::to_string(major));
    const ToolResult r = RunTool(
        {"inspect", EnginePath("custom_plugin", major), "--plugins", ScaleOffsetLibrary(major, true)});
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_NE(r.out.find("custom_plugin"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("out0"), std::string::npos) << r.out;
  }
}

// Without the library the engine is refused naming the creator it needs: alone with --trt, among every
// major's reasons without.
TEST(Plugins, WithoutItsLibraryTheFailureNamesTheMissingPlugin) {
  for (int major : kBuiltMajors) {
    const std::string engine = EnginePath("custom_plugin", major);
    const std::string hint = inferlet_run_test::HostCodeHint(std::vector<int>{major});
    for (bool sessions : {false, true}) {
      SCOPED_TRACE("trt" + std::to_string(major) + " --api " + ApiName(sessions));
      ExpectFailure({"--engine", engine, "--api", ApiName(sessions), "--trt", std::to_string(major)},
                    kExitInput, "cannot read engine file '" + engine + "': " + MissingPlugin() + hint);
      const ToolResult r = RunTool({"--engine", engine, "--api", ApiName(sessions)});
      EXPECT_EQ(r.exit_code, kExitInput) << Describe(r);
      EXPECT_NE(r.err.find("; TensorRT " + std::to_string(major) + ": " + MissingPlugin()), std::string::npos)
          << Describe(r);
    }
    ExpectFailure({"inspect", engine, "--trt", std::to_string(major)}, kExitInput,
                  "cannot read engine file '" + engine + "': " + MissingPlugin() + hint);
  }
}

// A library that cannot be loaded, and one that registers nothing: refused before the engine is read,
// with the reason of the dynamic loader or of TensorRT.
TEST(Plugins, WhatIsNoPluginLibraryIsRefusedWithItsReason) {
  for (int major : kBuiltMajors) {
    SCOPED_TRACE("trt" + std::to_string(major));
    const std::string trt = std::to_string(major);
    const std::string engine = EnginePath("custom_plugin", major);
    const std::string missing = PluginLibrary(major, "nothing_here");
    const std::string cannot_open = missing + ": cannot open shared object file: No such file or directory";
    const std::string dlopen_refusal = "cannot load plugin library '" + missing + "': " + cannot_open;
    const std::string sessions_refusal =
        major >= 10 ? "TensorRT " + trt + " could not load plugin library '" + missing +
                          "' (TensorRT: loadLibrary: cannot load plugin library '" + missing +
                          "': " + cannot_open + ")"
                    : dlopen_refusal;
    ExpectFailure({"--engine", engine, "--trt", trt, "--plugins", missing}, kExitLibrary, dlopen_refusal);
    ExpectFailure({"--engine", engine, "--trt", trt, "--api", "sessions", "--plugins", missing}, kExitLibrary,
                  sessions_refusal);
    ExpectFailure({"inspect", engine, "--trt", trt, "--plugins", missing}, kExitLibrary, sessions_refusal);
    const std::string empty = PluginLibrary(major, "empty");
    ExpectFailure(
        {"--engine", engine, "--trt", trt, "--api", "sessions", "--plugins", empty}, kExitLibrary,
        "plugin library '" + empty + "' registered no plugin creator with TensorRT " + trt +
            (major >= 10 ? ": its getCreators (or getPluginCreators) handed out no creator"
                         : ": a plugin library for TensorRT 7 and 8 registers its creators when it is "
                           "loaded (REGISTER_TENSORRT_PLUGIN), the first time only"));
  }
}

}  // namespace
}  // namespace inferlet_run
