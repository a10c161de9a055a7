// The log through a std::function: the lines at or below its threshold with their levels, the
// function kept by the wrapper while it is installed and released once replaced, and functions that
// throw or replace themselves while they run, which the library never notices.
#include "emulator_support.h"
#include "wrapper_support.h"

namespace inferlet_test {
namespace {

using inferlet::LogLevel;
using Line = std::pair<LogLevel, std::string>;

class WrapperLogOnEmulator : public WrapperTest {};

INFERLET_EMULATOR_TEST_F(WrapperLogOnEmulator, TheFunctionGetsTheLinesAtOrBelowItsThreshold) {
  std::vector<Line> lines;
  auto record = [&lines](LogLevel level, std::string_view text) { lines.emplace_back(level, text); };
  const std::string garbage(32, 'x');
  {
    SCOPED_TRACE("the default threshold: errors and warnings");
    inferlet::SetLog(record);
    inferlet::Session session(LoadWrapped("smoke"));
    inferlet::Engine refused;
    EXPECT_FALSE(inferlet::Engine::TryLoad(garbage.data(), garbage.size(), 0, &refused).ok());
    EXPECT_THAT(
        lines, ::testing::ElementsAre(Line{
                   LogLevel::kError, "deserializeCudaEngine: magic tag does not match: not an engine file"}));
  }
  {
    SCOPED_TRACE("info");
    lines.clear();
    inferlet::SetLog(record, LogLevel::kInfo);
    inferlet::Session session(LoadWrapped("smoke"));
    EXPECT_THAT(
        lines,
        ::testing::ElementsAre(
            Line{LogLevel::kInfo,
                 "engine 'smoke' loaded on device 0: 3 tensors, 1 profile, 12 bytes of device memory, 13824 "
                 "bytes per execution context"},
            Line{LogLevel::kInfo,
                 "session on profile 0 of engine 'smoke': 54544 bytes of device memory "
                 "(execution context 13824, buffers 40720)"}));
  }
  {
    SCOPED_TRACE("verbose");
    lines.clear();
    inferlet::SetLog(record, LogLevel::kVerbose);
    LoadWrapped("smoke");
    EXPECT_THAT(lines, ::testing::Contains(::testing::Field(&Line::first, LogLevel::kVerbose)))
        << "TensorRT's successes";
  }
}

// The host's function may be a temporary: the wrapper holds it until another replaces it.
TEST_F(WrapperTest, TheWrapperKeepsTheFunctionUntilAnotherReplacesIt) {
  const auto token = std::make_shared<int>(0);
  int calls = 0;
  inferlet::SetLog([token, &calls](LogLevel, std::string_view) { ++calls; }, LogLevel::kVerbose);
  EXPECT_EQ(token.use_count(), 2);
  LoadWrapped("smoke");
  EXPECT_GT(calls, 0);

  int other_calls = 0;
  inferlet::SetLog([&other_calls](LogLevel, std::string_view) { ++other_calls; }, LogLevel::kVerbose);
  EXPECT_EQ(token.use_count(), 1) << "the replaced function was not released";
  const int calls_before = calls;
  LoadWrapped("smoke");
  EXPECT_EQ(calls, calls_before);
  EXPECT_GT(other_calls, 0);

  inferlet::SetLog(nullptr);
  const int other_calls_before = other_calls;
  LoadWrapped("smoke");
  EXPECT_EQ(other_calls, other_calls_before);
}

TEST_F(WrapperTest, AFunctionThatThrowsOrReplacesItselfLeavesTheLibraryAlone) {
  int thrown = 0;
  inferlet::SetLog(
      [&thrown](LogLevel, std::string_view) {
        ++thrown;
        throw std::runtime_error("the host's own failure");
      },
      LogLevel::kVerbose);
  inferlet::Engine engine;
  EXPECT_EQ(ThrownBy([&] { engine = LoadWrapped("smoke"); }), Thrown{});
  EXPECT_TRUE(engine);
  EXPECT_GT(thrown, 1) << "called again after it threw";

  // Replaced from inside itself: the call it is in still holds it, and nothing deadlocks.
  const auto token = std::make_shared<int>(0);
  int calls = 0;
  long uses_while_running = 0;
  inferlet::SetLog(
      [held = token, &token, &calls, &uses_while_running](LogLevel, std::string_view) {
        ++calls;
        inferlet::SetLog(nullptr);
        uses_while_running = token.use_count();
        ++*held;
      },
      LogLevel::kVerbose);
  inferlet::Session session(engine);
  SmokeCall call(1);
  session.Run(call.inputs, call.outputs);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(uses_while_running, 2);
  EXPECT_EQ(*token, 1);
  EXPECT_EQ(token.use_count(), 1) << "released once its call returned";
  EXPECT_TRUE(Matches(call.out0, call.Expected()));
}

}  // namespace
}  // namespace inferlet_test
