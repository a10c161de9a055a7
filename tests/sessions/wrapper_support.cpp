#include "wrapper_support.h"

namespace inferlet_test {

void PrintTo(const Thrown& thrown, std::ostream* out) {
  *out << "{code " << static_cast<int>(thrown.code) << ", \"" << thrown.message << "\"}";
}

Thrown ThrownBy(const std::function<void()>& act) {
  try {
    act();
  } catch (const std::runtime_error& failure) {
    const auto* error = dynamic_cast<const inferlet::Error*>(&failure);
    if (!error) ADD_FAILURE() << "a std::runtime_error that is no inferlet::Error: " << failure.what();
    return {error ? error->code() : inferlet::Code::kInternalError, failure.what()};
  }
  return {};
}

Thrown Answered(const inferlet::Status& status) { return {status.code(), status.message()}; }

inferlet::Engine LoadWrapped(const std::string& name, int device) {
  return inferlet::Engine::Load(ReadEngine(name), device);
}

SmokeCall::SmokeCall(int row_count, int seed)
    : rows(row_count),
      in0(Pattern(static_cast<size_t>(rows) * kSmokeInWidth, seed)),
      in1(Pattern(static_cast<size_t>(rows) * kSmokeInWidth, seed + 1)),
      out0(static_cast<size_t>(rows) * kSmokeOutWidth) {
  inputs = {{"in0", in0, {rows, kSmokeInWidth}}, {"in1", in1, {rows, kSmokeInWidth}}};
  outputs = {{"out0", out0}};
}

Tensor SmokeCall::Expected() const { return SmokeReference(in0, in1, rows); }

void WrapperTest::TearDown() {
  inferlet::SetLog(nullptr);
  SessionsTest::TearDown();
}

}  // namespace inferlet_test
