// The sessions interface through its C++ wrapper (inferlet_sessions.hpp), as its tests use it: what a
// wrapper call threw or answered, sample engines loaded through it, and the smoke engine's call in
// the wrapper's terms.
#ifndef INFERLET_TESTS_SESSIONS_WRAPPER_SUPPORT_H_
#define INFERLET_TESTS_SESSIONS_WRAPPER_SUPPORT_H_

#include <functional>
#include <inferlet_sessions.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "session_support.h"

namespace inferlet_test {

// A failure as the host meets it: the code and what().
struct Thrown {
  inferlet::Code code = inferlet::Code::kOk;
  std::string message;
  bool operator==(const Thrown& other) const { return code == other.code && message == other.message; }
};
void PrintTo(const Thrown& thrown, std::ostream* out);
// What act threw, caught as the std::runtime_error an inferlet::Error is; kOk and "" if it threw nothing.
Thrown ThrownBy(const std::function<void()>& act);
// What a Try... function answered, in the same terms.
Thrown Answered(const inferlet::Status& status);

// A sample or test engine of this build's major, through Engine::Load.
inferlet::Engine LoadWrapped(const std::string& name, int device = 0);

// The smoke engine's call in host memory: in0, in1 [rows, 340] with values from seed, out0 [rows, 338].
struct SmokeCall {
  explicit SmokeCall(int rows, int seed = 1);
  SmokeCall(const SmokeCall&) = delete;  // inputs and outputs point into this one's tensors
  SmokeCall& operator=(const SmokeCall&) = delete;
  Tensor Expected() const;

  int rows;
  Tensor in0, in1, out0;
  std::vector<inferlet::Input> inputs;
  std::vector<inferlet::Output> outputs;
};

// Every case ends with no log function of the wrapper's left installed.
class WrapperTest : public SessionsTest {
 protected:
  void TearDown() override;
};

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_SESSIONS_WRAPPER_SUPPORT_H_
