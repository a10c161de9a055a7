// The sessions interface as its tests use it, through its C header alone: answers as (code, message),
// engines and sessions that release themselves, the log callback's messages, and the host memory of a
// call in any of the three memory kinds.
#ifndef INFERLET_TESTS_SESSIONS_SESSION_SUPPORT_H_
#define INFERLET_TESTS_SESSIONS_SESSION_SUPPORT_H_

#include <cuda_runtime_api.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <inferlet_sessions.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reference_nets.h"
#include "session_handles.h"
#include "test_support.h"

namespace inferlet_test {

// What a function of the interface answered; the status itself is released.
struct Answer {
  inferlet_code code = INFERLET_OK;
  std::string message;
  bool operator==(const Answer& other) const { return code == other.code && message == other.message; }
};
Answer Take(inferlet_status* status);
void PrintTo(const Answer& answer, std::ostream* out);
// Success, or a failure that shows the status's message.
::testing::AssertionResult Ok(inferlet_status* status);

// A sample or test engine of this build's major on device; null (with a test failure) if refused.
EngineHandle LoadEngine(const std::string& name, int device = 0);
// What a refusal of engine bytes ends with on TensorRT `major` when host code was not allowed: 10 and
// later name the option that lets a version-compatible engine in.
std::string HostCodeHint(int major = INFERLET_TRT_MAJOR);
// A session with default options but for those set by adjust; null (with a failure) if refused.
SessionHandle NewSession(inferlet_engine* engine,
                         const std::function<void(inferlet_session_options&)>& adjust = nullptr);
Answer TryNewSession(inferlet_engine* engine, const inferlet_session_options& options,
                     SessionHandle* session);

inferlet_shape Shape(std::initializer_list<int64_t> dims);
std::string ShapeText(const inferlet_shape& shape);

// What the log callback received since it was installed (every level), in order.
struct LogLine {
  inferlet_log_level level;
  std::string text;
};
class LogRecorder {
 public:
  explicit LogRecorder(inferlet_log_level threshold = INFERLET_LOG_VERBOSE);
  ~LogRecorder();  // uninstalls the callback
  std::vector<LogLine> Lines() const;
  std::vector<std::string> Texts(inferlet_log_level level) const;  // of exactly that level
};

// The tensors of one call, each in host memory of the kind asked for, freed with the object.
class CallTensors {
 public:
  CallTensors() = default;
  ~CallTensors();
  CallTensors(const CallTensors&) = delete;
  CallTensors& operator=(const CallTensors&) = delete;

  void Input(const std::string& name, inferlet_memory memory, const inferlet_shape& shape,
             const Tensor& values);
  void Output(const std::string& name, inferlet_memory memory, size_t floats);

  inferlet_tensor* inputs() { return inputs_.data(); }
  size_t input_count() const { return inputs_.size(); }
  inferlet_tensor* outputs() { return outputs_.data(); }
  const inferlet_tensor& output(size_t j) const { return outputs_.at(j); }
  size_t output_count() const { return outputs_.size(); }

  Tensor Read(size_t output) const;           // the first bytes of output as its shape says, as floats
  void Overwrite(size_t input, float value);  // the host's copy of an input, e.g. after enqueue

 private:
  struct Memory {
    inferlet_memory memory;
    void* data;
  };
  void* Allocate(inferlet_memory memory, size_t bytes);

  std::vector<inferlet_tensor> inputs_, outputs_;
  std::deque<std::string> names_;  // where the tensors' names point: a deque keeps them in place
  std::vector<Memory> memory_;
};

// Every case starts on a fresh platform and ends with nothing left on the device, no violation,
// nothing TensorRT released with work queued, and no two contexts queued on one profile.
class SessionsTest : public FreshPlatformTest {
 protected:
  void TearDown() override;
};

// The memory kinds by name, for parameterized cases.
const char* MemoryName(inferlet_memory memory);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_SESSIONS_SESSION_SUPPORT_H_
