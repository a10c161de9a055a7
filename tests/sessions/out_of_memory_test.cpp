// Refusals for want of memory: an engine load or a session creation whose TensorRT allocation (or the
// session's own, of TensorRT 10 and 11's activation memory) fails for want of memory answers
// INFERLET_OUT_OF_MEMORY with the reason, while the same allocation failing otherwise stays a refusal of
// its own kind. Nothing of the failed step stays on the device.
#include <cudaemu.h>

#include <regex>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

class OutOfMemoryOnEmulator : public SessionsTest {
 protected:
  // The last line TensorRT logged at its error level, checked against the form it must have.
  static std::string ErrorLine(const LogRecorder& log, const std::string& form) {
    const std::vector<std::string> lines = log.Texts(INFERLET_LOG_ERROR);
    if (lines.empty()) {
      ADD_FAILURE() << "TensorRT logged no error";
      return "";
    }
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(form))) << lines.back();
    return lines.back();
  }
};

INFERLET_EMULATOR_TEST_F(OutOfMemoryOnEmulator, EngineLoadsThatFindNoMemoryForTheWeights) {
  const std::string bytes = ReadEngine("smoke");
  size_t weights = 0, context_bytes = 0;
  {
    EngineHandle engine = LoadEngine("smoke");
    ASSERT_TRUE(engine);
    ASSERT_TRUE(Ok(inferlet_engine_device_memory(engine.get(), &weights, &context_bytes)));
    ASSERT_GT(weights, 0u);
  }
  size_t free = 0, capacity = 0;
  ASSERT_EQ(cudaMemGetInfo(&free, &capacity), cudaSuccess);
  const std::string refusal = "TensorRT " + std::to_string(INFERLET_TRT_MAJOR) +
                              " could not deserialize the " + std::to_string(bytes.size()) +
                              " bytes as an engine (TensorRT: deserializeCudaEngine: "
                              "cannot allocate " +
                              std::to_string(weights) +
                              " bytes of device memory for the weights: cudaemu_component_malloc failed: ";
  const struct {
    const char* what;
    std::function<void()> arrange;
    Answer answer;
  } cases[] = {
      {"the allocation refused for want of memory",
       [] { cudaemu_fail_call("cudaemu_component_malloc", 1, cudaErrorMemoryAllocation); },
       {INFERLET_OUT_OF_MEMORY, refusal + "out of memory)"}},
      {"a device one byte too small",
       [&] { cudaemu_set_memory_capacity(weights - 1); },
       {INFERLET_OUT_OF_MEMORY, refusal + "out of memory)"}},
      {"the allocation refused otherwise",
       [] { cudaemu_fail_call("cudaemu_component_malloc", 1, cudaErrorInvalidValue); },
       {INFERLET_ENGINE_REFUSED, refusal + "invalid argument)" + HostCodeHint()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    inferlet_engine* engine = nullptr;
    EXPECT_EQ(Take(inferlet_engine_load(bytes.data(), bytes.size(), 0, &engine)), c.answer);
    EXPECT_EQ(engine, nullptr);
    EXPECT_EQ(cudaemu_live_allocations(), 0u);
    cudaemu_set_memory_capacity(capacity);
  }
  EXPECT_EQ(cudaemu_call_count("cudaemu_component_malloc"), 4u) << "one good load, one try per case";
  EngineHandle engine = LoadEngine("smoke");
  EXPECT_TRUE(engine) << "the bytes were never at fault";
}

// TensorRT 7 and 8 take a context's activation memory themselves; on 10 and 11 the session takes its
// profile's with cudaMalloc and hands it over, so that its failure is the session's own.
INFERLET_EMULATOR_TEST_F(OutOfMemoryOnEmulator, SessionsThatFindNoMemoryForTheirContext) {
  EngineHandle engine = LoadEngine("mlp");
  ASSERT_TRUE(engine);
  const bool own_activation_memory = INFERLET_TRT_MAJOR >= 10;
  const struct {
    const char* what;
    const char* api;
    cudaError_t code;
    const char* form;  // TensorRT's line; null where the allocation is the session's
    Answer own;        // the answer where it is the session's
    inferlet_code answer;
  } cases[] = {
      {"activation memory, for want of memory",
       own_activation_memory ? "cudaMalloc" : "cudaemu_component_malloc",
       cudaErrorMemoryAllocation,
       own_activation_memory
           ? nullptr
           : "createExecutionContext: cannot allocate [0-9]+ bytes of device activation memory: "
             "cudaemu_component_malloc failed: out of memory",
       {INFERLET_OUT_OF_MEMORY, "cudaMalloc failed: out of memory (cudaErrorMemoryAllocation)"},
       INFERLET_OUT_OF_MEMORY},
      {"staging memory, for want of memory",
       "cudaMallocHost",
       cudaErrorMemoryAllocation,
       "createExecutionContext: cannot allocate [0-9]+ bytes of staging memory: cudaMallocHost failed: out "
       "of "
       "memory",
       {},
       INFERLET_OUT_OF_MEMORY},
      {"activation memory, otherwise",
       own_activation_memory ? "cudaMalloc" : "cudaemu_component_malloc",
       cudaErrorInvalidValue,
       own_activation_memory
           ? nullptr
           : "createExecutionContext: cannot allocate [0-9]+ bytes of device activation memory: "
             "cudaemu_component_malloc failed: invalid argument",
       {INFERLET_CUDA_ERROR, "cudaMalloc failed: invalid argument (cudaErrorInvalidValue)"},
       INFERLET_TENSORRT_ERROR},
  };
  const DeviceCounts before = DeviceCounts::Now();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LogRecorder log(INFERLET_LOG_ERROR);
    cudaemu_fail_call(c.api, 1, c.code);
    inferlet_session_options options;
    inferlet_session_options_init(&options);
    SessionHandle session;
    const Answer answer = TryNewSession(engine.get(), options, &session);
    EXPECT_FALSE(session);
    if (c.form) {
      EXPECT_EQ(answer, (Answer{c.answer, "TensorRT made no execution context (TensorRT: " +
                                              ErrorLine(log, c.form) + ")"}));
    } else {
      EXPECT_EQ(answer, c.own);
      EXPECT_EQ(log.Texts(INFERLET_LOG_ERROR), std::vector<std::string>{}) << "TensorRT saw nothing amiss";
    }
    EXPECT_EQ(DeviceCounts::Now(), before) << "nothing of the session stays";
  }
  EXPECT_TRUE(NewSession(engine.get())) << "the engine still makes sessions";
}

}  // namespace
}  // namespace inferlet_test
