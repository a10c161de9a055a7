// Plugin libraries (inferlet_plugin_library_load): the test engine custom_plugin, whose one layer is the
// plugin "ScaleOffset" version "1" (out0 = 3 * in0 + 0.5, the values its creator gives), is refused
// naming that creator until the stand-in's test plugin library is loaded, then runs; loading it again
// changes nothing; and what is no plugin library is refused with its reason. The library for this
// interface: the one that registers itself when loaded on 7 and 8 (dlopen), the one with
// IPluginRegistry::loadLibrary's entry points from 10 on. The registry is the process's: ctest runs each
// case in a process of its own.
#include <inferlet_sessions.hpp>
#include <iterator>
#include <string>
#include <vector>

#include "wrapper_support.h"

namespace inferlet_test {
namespace {

const std::string kTrt = std::to_string(INFERLET_TRT_MAJOR);

std::string PluginPath(const std::string& kind) {
  return INFERLET_PLUGIN_DIR "/libtest_plugin_" + kind + ".so";
}

// The library that registers ScaleOffset through this interface.
std::string ScaleOffsetLibrary() { return PluginPath(INFERLET_TRT_MAJOR >= 10 ? "entry" : "static"); }

using PluginsTest = SessionsTest;

TEST_F(PluginsTest, EngineLoadsAndRunsOnceItsPluginLibraryIsLoaded) {
  const std::string bytes = ReadEngine("custom_plugin");
  inferlet_engine* engine = nullptr;
  EXPECT_EQ(
      Take(inferlet_engine_load(bytes.data(), bytes.size(), 0, &engine)),
      (Answer{INFERLET_ENGINE_REFUSED,
              "TensorRT " + kTrt + " could not deserialize the " + std::to_string(bytes.size()) +
                  " bytes as an engine (TensorRT: deserializeCudaEngine: no plugin creator 'ScaleOffset' "
                  "version '1' in namespace '' is registered (layers[0], output 'out0'): load the plugin "
                  "library that registers it before deserializing the engine)" +
                  HostCodeHint()}));
  EXPECT_EQ(engine, nullptr);

  const std::string library = ScaleOffsetLibrary();
  {
    LogRecorder log(INFERLET_LOG_INFO);
    ASSERT_TRUE(Ok(inferlet_plugin_library_load(library.c_str())));
    EXPECT_EQ(log.Texts(INFERLET_LOG_INFO),
              std::vector<std::string>{"plugin library '" + library +
                                       "' loaded: 1 plugin creator registered with TensorRT " + kTrt});
  }
  // Again, as the same file under another spelling: already loaded, nothing more is registered.
  const std::string again = INFERLET_PLUGIN_DIR "/./" + library.substr(library.rfind('/') + 1);
  EXPECT_TRUE(Ok(inferlet_plugin_library_load(again.c_str())));
  EXPECT_TRUE(Ok(inferlet_plugin_library_load(library.c_str())));

  EngineHandle loaded = LoadEngine("custom_plugin");
  ASSERT_TRUE(loaded);
  SessionHandle session = NewSession(loaded.get());
  ASSERT_TRUE(session);
  CallTensors tensors;
  tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({2, 4}), {0, 1, 2, 3, -1, -2, 0.25f, 10});
  tensors.Output("out0", INFERLET_MEMORY_HOST, 8);
  ASSERT_TRUE(Ok(inferlet_session_run(session.get(), tensors.inputs(), tensors.input_count(),
                                      tensors.outputs(), tensors.output_count())));
  EXPECT_EQ(ShapeText(tensors.output(0).shape), "[2, 4]");
  EXPECT_EQ(tensors.Read(0), (Tensor{0.5f, 3.5f, 6.5f, 9.5f, -2.5f, -5.5f, 1.25f, 30.5f}));
}

// What is no plugin library for this interface, each refused with its reason; the loading of a good
// one afterwards is not disturbed.
TEST_F(PluginsTest, WhatIsNoPluginLibraryIsRefusedWithItsReason) {
  const std::string missing = PluginPath("nothing_here");
  const std::string cannot_open = missing + ": cannot open shared object file: No such file or directory";
  const std::string empty = PluginPath("empty");
  struct Case {
    const char* what;
    const char* path;
    Answer expected;
  };
  const Case cases[] = {
      {"null", nullptr, {INFERLET_INVALID_ARGUMENT, "path is null"}},
      {"empty path", "", {INFERLET_INVALID_ARGUMENT, "path is empty"}},
      {"a path to nothing", missing.c_str(),
       INFERLET_TRT_MAJOR >= 10 ? Answer{INFERLET_TENSORRT_ERROR,
                                         "TensorRT " + kTrt + " could not load plugin library '" + missing +
                                             "' (TensorRT: loadLibrary: cannot load plugin library '" +
                                             missing + "': " + cannot_open + ")"}
                                : Answer{INFERLET_INVALID_ARGUMENT,
                                         "cannot load plugin library '" + missing + "': " + cannot_open}},
      {"a library that registers nothing",
       empty.c_str(),
       {INFERLET_INVALID_ARGUMENT,
        "plugin library '" + empty + "' registered no plugin creator with TensorRT " + kTrt +
            (INFERLET_TRT_MAJOR >= 10
                 ? ": its getCreators (or getPluginCreators) handed out no creator"
                 : ": a plugin library for TensorRT 7 and 8 registers its creators when it "
                   "is loaded (REGISTER_TENSORRT_PLUGIN), the first time only")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Take(inferlet_plugin_library_load(c.path)), c.expected);
    // The C++ wrapper answers the same.
    if (c.path) {
      const inferlet::Status status = inferlet::TryLoadPluginLibrary(c.path);
      EXPECT_EQ(static_cast<inferlet_code>(status.code()), c.expected.code);
      EXPECT_EQ(status.message(), c.expected.message);
    }
  }
  EXPECT_TRUE(Ok(inferlet_plugin_library_load(ScaleOffsetLibrary().c_str())));
  EXPECT_NO_THROW(inferlet::LoadPluginLibrary(ScaleOffsetLibrary()));
  // On 7 and 8 a library of the other TensorRT is refused before RTLD_GLOBAL would put that TensorRT
  // ahead of this one in the dynamic linker's lookup. (Its static registration has run all the same,
  // bound to whichever getPluginRegistry comes first: this test links this major's libnvinfer, so this
  // one, where its creator's name is taken already.)
  if (INFERLET_TRT_MAJOR < 10) {
    const std::string other = INFERLET_PLUGIN_DIR "/../../trt" +
                              std::string(INFERLET_TRT_MAJOR == 8 ? "7" : "8") +
                              "/plugins/libtest_plugin_static.so";
    EXPECT_EQ(Take(inferlet_plugin_library_load(other.c_str())),
              (Answer{INFERLET_INVALID_ARGUMENT,
                      "plugin library '" + other + "' links another TensorRT than this library's TensorRT " +
                          kTrt + ": its getPluginRegistry is not this one's"}));
  }
}

// From 10 on, a library that only registers itself when it is loaded is no library loadLibrary takes:
// it exports none of its entry points (its creators are registered all the same, by its loading).
TEST_F(PluginsTest, OnTensorRt10AndLaterALibraryWithoutTheEntryPointsIsRefused) {
  if (INFERLET_TRT_MAJOR < 10) GTEST_SKIP() << "TensorRT " << kTrt << " has no loadLibrary";
  const std::string library = PluginPath("static");
  EXPECT_EQ(
      Take(inferlet_plugin_library_load(library.c_str())),
      (Answer{INFERLET_TENSORRT_ERROR, "TensorRT " + kTrt + " could not load plugin library '" + library +
                                           "' (TensorRT: loadLibrary: plugin library '" + library +
                                           "' exports neither getCreators nor getPluginCreators: it is no "
                                           "plugin library TensorRT can load)"}));
  try {
    inferlet::LoadPluginLibrary(library);
    ADD_FAILURE() << "loaded";
  } catch (const inferlet::Error& error) {
    EXPECT_EQ(error.code(), inferlet::Code::kTensorRtError);
  }
}

}  // namespace
}  // namespace inferlet_test
