// Version-compatible engines (TensorRT 10 and later) hold host code: inferlet_engine_load_with_config
// loads them only with allow_host_code set, and the refusal names that option. How far the config is
// read is versions_test.cpp's.
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

}  // namespace
}  // namespace inferlet_test
