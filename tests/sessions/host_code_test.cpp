// Version-compatible engines (TensorRT 10 and later) hold host code: inferlet_engine_load_with_config
// loads them only with allow_host_code set, and the refusal names that option. The config itself is
// read as far as its struct_size reaches.
#include <cstddef>
#include <cstring>

#include "wrapper_support.h"

namespace inferlet_test {
namespace {

// What the stand-in TensorRT logs for the engine without the allowance, which the status carries.
constexpr char kRefusedLine[] =
    " bytes as an engine (TensorRT: deserializeCudaEngine: engine 'version_compatible' is version compatible "
    "and "
    "holds host code, which this runtime is not allowed to run: call "
    "IRuntime::setEngineHostCodeAllowed(true) "
    "before deserializing it)";

const std::string kTrt = std::to_string(INFERLET_TRT_MAJOR);

inferlet_engine_config ConfigAllowing(int32_t allow_host_code) {
  inferlet_engine_config config;
  inferlet_engine_config_init(&config);
  config.allow_host_code = allow_host_code;
  return config;
}

class HostCodeTest : public SessionsTest {
 protected:
  void SetUp() override {
    SessionsTest::SetUp();
    if (INFERLET_TRT_MAJOR < 10) GTEST_SKIP() << "TensorRT " << kTrt << " has no version-compatible engines";
    bytes_ = ReadEngine("version_compatible");
    ASSERT_FALSE(bytes_.empty());
  }
  std::string bytes_;
};

TEST_F(HostCodeTest, WithoutTheOptInTheEngineIsRefusedNamingIt) {
  const Answer refused{INFERLET_ENGINE_REFUSED, "TensorRT " + kTrt + " could not deserialize the " +
                                                    std::to_string(bytes_.size()) + kRefusedLine +
                                                    HostCodeHint()};
  const inferlet_engine_config not_allowed = ConfigAllowing(0);
  struct Way {
    const char* what;
    const inferlet_engine_config* config;
  };
  const Way ways[] = {{"allow_host_code 0", &not_allowed}, {"the default config", nullptr}};
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    LogRecorder log(INFERLET_LOG_ERROR);
    inferlet_engine* engine = nullptr;
    EXPECT_EQ(Take(inferlet_engine_load_with_config(bytes_.data(), bytes_.size(), way.config, &engine)),
              refused);
    EXPECT_EQ(engine, nullptr);
    // TensorRT's own line says why.
    ASSERT_EQ(log.Texts(INFERLET_LOG_ERROR).size(), 1u);
    EXPECT_NE(log.Texts(INFERLET_LOG_ERROR)[0].find("setEngineHostCodeAllowed(true)"), std::string::npos);
  }
  inferlet_engine* engine = nullptr;
  EXPECT_EQ(Take(inferlet_engine_load(bytes_.data(), bytes_.size(), 0, &engine)), refused);
  EXPECT_EQ(engine, nullptr);
}

TEST_F(HostCodeTest, WithTheOptInTheEngineLoadsAndRuns) {
  const inferlet_engine_config config = ConfigAllowing(1);
  inferlet_engine* loaded = nullptr;
  ASSERT_TRUE(Ok(inferlet_engine_load_with_config(bytes_.data(), bytes_.size(), &config, &loaded)));
  EngineHandle engine(loaded);
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  CallTensors tensors;
  tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({2, 4}), {0, 1, 2, 3, -1, -2, 0.5f, 10});
  tensors.Output("out0", INFERLET_MEMORY_HOST, 8);
  ASSERT_TRUE(Ok(inferlet_session_run(session.get(), tensors.inputs(), tensors.input_count(),
                                      tensors.outputs(), tensors.output_count())));
  EXPECT_EQ(ShapeText(tensors.output(0).shape), "[2, 4]");
  EXPECT_EQ(tensors.Read(0), (Tensor{1, 3, 5, 7, -1, -3, 2, 21}));  // out0 = 2 * in0 + 1
}

// The C++ wrapper's EngineOptions reach the same config: refused by default with the C interface's
// message, loaded and run with allow_host_code.
TEST_F(HostCodeTest, TheWrappersEngineOptionsCarryTheOptIn) {
  const inferlet::EngineOptions defaults;
  inferlet_engine_config c;
  std::memset(&c, 0x5a, sizeof c);
  inferlet_engine_config_init(&c);
  EXPECT_EQ(defaults.device, c.device);
  EXPECT_EQ(defaults.allow_host_code, c.allow_host_code != 0);
  try {
    inferlet::Engine::Load(bytes_, defaults);
    ADD_FAILURE() << "loaded without allow_host_code";
  } catch (const inferlet::Error& e) {
    EXPECT_EQ(e.code(), inferlet::Code::kEngineRefused);
    EXPECT_EQ(std::string(e.what()), "TensorRT " + kTrt + " could not deserialize the " +
                                         std::to_string(bytes_.size()) + kRefusedLine + HostCodeHint());
  }
  inferlet::EngineOptions allowed;
  allowed.allow_host_code = true;
  inferlet::Session session(inferlet::Engine::Load(bytes_, allowed));
  const Tensor in0 = {0, 1, 2, 3, -1, -2, 0.5f, 10};
  Tensor out0(8);
  std::vector<inferlet::Output> outputs{{"out0", out0}};
  session.Run({{"in0", in0, {2, 4}}}, outputs);
  EXPECT_EQ(out0, (Tensor{1, 3, 5, 7, -1, -3, 2, 21}));
  EXPECT_EQ(outputs[0].shape, (inferlet::Shape{2, 4})) << outputs[0].shape;
}

// An engine without host code loads either way, and on 7 and 8 (no such engines) the option changes
// nothing.
TEST(EngineConfigTest, AnEngineWithoutHostCodeLoadsEitherWay) {
  const std::string smoke = ReadEngine("smoke");
  for (int32_t allow : {0, 1}) {
    SCOPED_TRACE(allow);
    const inferlet_engine_config config = ConfigAllowing(allow);
    inferlet_engine* engine = nullptr;
    EXPECT_TRUE(Ok(inferlet_engine_load_with_config(smoke.data(), smoke.size(), &config, &engine)));
    inferlet_engine_release(engine);
  }
}

// A config as a host of another version lays it out: struct_size bytes of this header's config, then
// zeros, then `tail` (a newer host's fields this library does not know).
struct HostEngineConfig {
  inferlet_engine_config config;
  unsigned char tail[16];
};

TEST(EngineConfigTest, IsReadAsFarAsItsStructSizeReaches) {
  const std::string smoke = ReadEngine("smoke");
  const size_t full = sizeof(inferlet_engine_config);
  const size_t version2 = offsetof(inferlet_engine_config, allow_host_code) + sizeof(int32_t);
  struct Case {
    const char* what;
    size_t struct_size;
    int32_t device;
    unsigned char tail_byte;
    Answer expected;
  };
  const Case cases[] = {
      {"this header's", full, 0, 0, {}},
      {"version 2's fields exactly", version2, 0, 0, {}},
      {"a newer host's, its unknown fields zero", full + 8, 0, 0, {}},
      {"its device is read",
       full,
       1,
       0,
       {INFERLET_INVALID_ARGUMENT, "device 1 is not a CUDA device: the process sees 1 device(s)"}},
      {"shorter than version 2's",
       version2 - 1,
       0,
       0,
       {INFERLET_INVALID_ARGUMENT, "config.struct_size " + std::to_string(version2 - 1) + " is below the " +
                                       std::to_string(version2) + " bytes of its first version"}},
      {"zero",
       0,
       0,
       0,
       {INFERLET_INVALID_ARGUMENT,
        "config.struct_size 0 is below the " + std::to_string(version2) + " bytes of its first version"}},
      {"a newer host's, an unknown field set",
       full + 8,
       0,
       1,
       {INFERLET_INVALID_ARGUMENT, "config sets fields this library does not know (byte " +
                                       std::to_string(full + 7) + " of " + std::to_string(full + 8) +
                                       "): it knows the first " + std::to_string(full)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostEngineConfig host;
    std::memset(&host, 0, sizeof host);
    inferlet_engine_config_init(&host.config);
    host.config.struct_size = c.struct_size;
    host.config.device = c.device;
    host.tail[full + 7 - sizeof(inferlet_engine_config)] = c.tail_byte;
    inferlet_engine* engine = nullptr;
    EXPECT_EQ(Take(inferlet_engine_load_with_config(smoke.data(), smoke.size(), &host.config, &engine)),
              c.expected);
    EXPECT_EQ(engine != nullptr, c.expected.code == INFERLET_OK);
    inferlet_engine_release(engine);
  }
  inferlet_engine_config config;
  inferlet_engine_config_init(&config);
  EXPECT_EQ(config.struct_size, full);
  EXPECT_EQ(config.device, 0);
  EXPECT_EQ(config.allow_host_code, 0);
  EXPECT_EQ(Take(inferlet_engine_load_with_config(smoke.data(), smoke.size(), &config, nullptr)),
            (Answer{INFERLET_INVALID_ARGUMENT, "engine is null"}));
}

}  // namespace
}  // namespace inferlet_test
