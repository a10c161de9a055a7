// Shape tensors (TensorRT 10 and 11): inputs TensorRT reads from host memory, given in host or pinned
// memory and copied by the session before enqueue returns, checked against the profile's values, part
// of a graph's key. On the shape_tensor test engine: in0 [-1, 6] reshaped to the int32 shape tensor
// 'shape' (out0, values [2, 3] to [6, 4]) and to the int64 'shape64' (out1, [1, 6] to [4, 6]).
#include <trt_standin.h>

#include <cstring>
#include <string>
#include <vector>

#include "emulator_support.h"
#include "session_support.h"
#include "wrapper_support.h"

namespace inferlet_test {
namespace {

// Integer values in host or pinned memory, released with the object.
template <typename Value>
class HostValues {
 public:
  HostValues(inferlet_memory memory, std::vector<Value> values) : memory_(memory), count_(values.size()) {
    const size_t bytes = count_ * sizeof(Value);
    if (memory == INFERLET_MEMORY_HOST) {
      data_ = std::malloc(bytes);
    } else {
      EXPECT_EQ(cudaMallocHost(&data_, bytes), cudaSuccess);
    }
    Set(values);
  }
  ~HostValues() {
    if (memory_ == INFERLET_MEMORY_HOST) {
      std::free(data_);
    } else {
      (void)cudaFreeHost(data_);
    }
  }
  HostValues(const HostValues&) = delete;
  HostValues& operator=(const HostValues&) = delete;

  void Set(const std::vector<Value>& values) { std::memcpy(data_, values.data(), count_ * sizeof(Value)); }
  inferlet_tensor Tensor(const char* name, inferlet_memory as) const {
    return {name, as, data_, count_ * sizeof(Value), Shape({static_cast<int64_t>(count_)})};
  }
  inferlet_tensor Tensor(const char* name) const { return Tensor(name, memory_); }

 private:
  inferlet_memory memory_;
  size_t count_;
  void* data_ = nullptr;
};

// A shape_tensor call: in0 [rows, 6] in `memory`; out0 is in0 reshaped to the int32 shape tensor's
// values, out1 to the int64 one's ([rows, 6]), both in `memory` and holding the most the profile allows
// (24 floats); the values in `values_memory`.
class ReshapeCall {
 public:
  ReshapeCall(inferlet_memory memory, inferlet_memory values_memory, int rows, std::vector<int32_t> shape)
      : shape_(values_memory, std::move(shape)),
        shape64_(values_memory, {rows, 6}),
        in0_(Pattern(static_cast<size_t>(rows) * 6, rows)) {
    tensors_.Input("in0", memory, Shape({rows, 6}), in0_);
    tensors_.Output("out0", memory, 24);
    tensors_.Output("out1", memory, 24);
    inputs_ = {tensors_.inputs()[0], shape_.Tensor("shape"), shape64_.Tensor("shape64")};
  }
  Answer Run(inferlet_session* session) {
    return Take(inferlet_session_run(session, inputs_.data(), 3, tensors_.outputs(), 2));
  }
  Answer Enqueue(inferlet_session* session) {
    return Take(inferlet_session_enqueue(session, inputs_.data(), 3, tensors_.outputs(), 2));
  }
  // Both outputs hold in0's values, in the shapes given.
  ::testing::AssertionResult Right(const std::string& out0_shape) const {
    if (ShapeText(tensors_.output(0).shape) != out0_shape) {
      return ::testing::AssertionFailure()
             << "out0 " << ShapeText(tensors_.output(0).shape) << ", not " << out0_shape;
    }
    const ::testing::AssertionResult out0 = Matches(tensors_.Read(0), in0_);
    return out0 ? Matches(tensors_.Read(1), in0_) : out0;
  }
  HostValues<int32_t>& shape() { return shape_; }
  HostValues<int64_t>& shape64() { return shape64_; }
  std::vector<inferlet_tensor>& inputs() { return inputs_; }
  CallTensors& tensors() { return tensors_; }

 private:
  HostValues<int32_t> shape_;
  HostValues<int64_t> shape64_;
  Tensor in0_;
  CallTensors tensors_;
  std::vector<inferlet_tensor> inputs_;
};

struct ShapeTensorKind {
  inferlet_memory memory;         // in0's and the outputs'
  inferlet_memory values_memory;  // the shape tensors'
  bool graphs;
};

std::string ShapeTensorKindName(const ::testing::TestParamInfo<ShapeTensorKind>& info) {
  return std::string(MemoryName(info.param.memory)) + "ValuesIn" + MemoryName(info.param.values_memory) +
         (info.param.graphs ? "Graphs" : "Plain");
}

class ShapeTensorOnEmulator : public SessionsTest, public ::testing::WithParamInterface<ShapeTensorKind> {
 protected:
  void SetUp() override {
    SessionsTest::SetUp();
    if (INFERLET_TRT_MAJOR < 10)
      GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " refuses shape tensors";
  }
};

// Consecutive calls with the same extents but other values give other shapes; with graphs they never
// share a graph, and calls whose values are the same do, though the host rewrote its buffer once the
// first was enqueued (the session copied the values).
INFERLET_EMULATOR_TEST_P(ShapeTensorOnEmulator, TheValuesShapeTheOutputsAndKeyTheirGraphs) {
  const ShapeTensorKind kind = GetParam();
  EngineHandle engine = LoadEngine("shape_tensor");
  SessionHandle session =
      NewSession(engine.get(), [&](inferlet_session_options& o) { o.cuda_graphs = kind.graphs; });
  ASSERT_TRUE(session);
  ReshapeCall call(kind.memory, kind.values_memory, 2, {3, 4});
  ASSERT_EQ(call.Enqueue(session.get()), Answer{});
  call.shape().Set({4, 3});  // the host's buffer is free once enqueue returned
  ASSERT_EQ(Take(inferlet_session_wait(session.get())), Answer{});
  EXPECT_TRUE(call.Right("[3, 4]"));
  struct Step {
    std::vector<int32_t> values;
    const char* out0;
    size_t captures, launches;  // after the step, with graphs
  };
  // A graph replays only after a call of its own key (the context is configured for the last one): a
  // change of values runs plainly once, and each value set replays its own graph after that.
  const Step steps[] = {{{3, 4}, "[3, 4]", 1, 1}, {{4, 3}, "[4, 3]", 2, 1}, {{4, 3}, "[4, 3]", 2, 2},
                        {{3, 4}, "[3, 4]", 2, 2}, {{3, 4}, "[3, 4]", 2, 3}, {{4, 3}, "[4, 3]", 2, 3},
                        {{4, 3}, "[4, 3]", 2, 4}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.out0);
    call.shape().Set(step.values);
    ASSERT_EQ(call.Run(session.get()), Answer{});
    EXPECT_TRUE(call.Right(step.out0));
    EXPECT_EQ(cudaemu_call_count("cudaStreamBeginCapture"), kind.graphs ? step.captures : 0u);
    EXPECT_EQ(cudaemu_call_count("cudaGraphLaunch"), kind.graphs ? step.launches : 0u);
  }
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(
    Kinds, ShapeTensorOnEmulator,
    ::testing::Values(ShapeTensorKind{INFERLET_MEMORY_HOST, INFERLET_MEMORY_HOST, false},
                      ShapeTensorKind{INFERLET_MEMORY_PINNED, INFERLET_MEMORY_PINNED, false},
                      ShapeTensorKind{INFERLET_MEMORY_DEVICE, INFERLET_MEMORY_HOST, false},
                      ShapeTensorKind{INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED, true},
                      ShapeTensorKind{INFERLET_MEMORY_PINNED, INFERLET_MEMORY_HOST, true},
                      ShapeTensorKind{INFERLET_MEMORY_DEVICE, INFERLET_MEMORY_PINNED, true}),
    ShapeTensorKindName);

class ShapeTensorRefusalsOnEmulator : public SessionsTest {
 protected:
  void SetUp() override {
    SessionsTest::SetUp();
    if (INFERLET_TRT_MAJOR < 10)
      GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " refuses shape tensors";
  }
};

// Refused by a call and by resolve_shapes before anything runs: a shape tensor in device memory, values
// outside the profile's (32- and 64-bit). Within them, resolve_shapes reads the values.
INFERLET_EMULATOR_TEST_F(ShapeTensorRefusalsOnEmulator, DeviceMemoryAndValuesOutsideTheProfile) {
  EngineHandle engine = LoadEngine("shape_tensor");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  ReshapeCall call(INFERLET_MEMORY_DEVICE, INFERLET_MEMORY_PINNED, 2, {3, 4});
  const auto both = [&] {
    const Answer run = call.Run(session.get());
    const Answer resolved = Take(
        inferlet_session_resolve_shapes(session.get(), call.inputs().data(), 3, call.tensors().outputs(), 2));
    EXPECT_EQ(run, resolved);
    return run;
  };
  call.inputs()[1] = call.shape().Tensor("shape", INFERLET_MEMORY_DEVICE);
  EXPECT_EQ(both(),
            (Answer{INFERLET_INVALID_ARGUMENT,
                    "input 'shape' is a shape tensor, which TensorRT reads from host memory: give it in "
                    "INFERLET_MEMORY_HOST or INFERLET_MEMORY_PINNED, not INFERLET_MEMORY_DEVICE"}));
  call.inputs()[1] = call.shape().Tensor("shape");
  call.shape().Set({2, 6});
  EXPECT_EQ(both(),
            (Answer{INFERLET_SHAPE_OUT_OF_PROFILE,
                    "input 'shape' values [2, 6] are outside the range of profile 0: [2, 3] to [6, 4]"}));
  call.shape().Set({3, 4});
  call.shape64().Set({5, 6});
  EXPECT_EQ(both(),
            (Answer{INFERLET_SHAPE_OUT_OF_PROFILE,
                    "input 'shape64' values [5, 6] are outside the range of profile 0: [1, 6] to [4, 6]"}));
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 0);
  EXPECT_EQ(ShapeText(call.tensors().output(0).shape), "[-7]");
  call.shape64().Set({2, 6});
  ASSERT_EQ(Take(inferlet_session_resolve_shapes(session.get(), call.inputs().data(), 3,
                                                 call.tensors().outputs(), 2)),
            Answer{});
  EXPECT_EQ(ShapeText(call.tensors().output(0).shape), "[3, 4]");
  EXPECT_EQ(ShapeText(call.tensors().output(1).shape), "[2, 6]");
  // A profile's resolved shapes take its shape tensors at their values there (once no session holds it).
  session.reset();
  inferlet_shape largest{};
  ASSERT_TRUE(Ok(inferlet_engine_profile_resolved_shape(engine.get(), 0, 3, INFERLET_PROFILE_MAX, &largest)));
  EXPECT_EQ(ShapeText(largest), "[6, 4]");
}

// A profile's values at each point, as the engine was built with them (32-bit ones widened), and every
// refusal with its words; only the capacity refusal writes the count.
INFERLET_EMULATOR_TEST_F(ShapeTensorRefusalsOnEmulator, ProfileValuesAtEachPointAndTheirRefusals) {
  EngineHandle engine = LoadEngine("shape_tensor");
  struct Asked {
    int32_t tensor;
    inferlet_profile_point point;
    std::vector<int64_t> values;
  };
  const Asked asked[] = {
      {1, INFERLET_PROFILE_MIN, {2, 3}}, {1, INFERLET_PROFILE_OPT, {3, 4}}, {1, INFERLET_PROFILE_MAX, {6, 4}},
      {2, INFERLET_PROFILE_MIN, {1, 6}}, {2, INFERLET_PROFILE_OPT, {2, 6}}, {2, INFERLET_PROFILE_MAX, {4, 6}},
  };
  for (const Asked& ask : asked) {
    SCOPED_TRACE(std::to_string(ask.tensor) + " at " + std::to_string(ask.point));
    std::vector<int64_t> values(3, -9);
    size_t count = 7;
    ASSERT_EQ(Take(inferlet_engine_profile_tensor_values(engine.get(), 0, ask.tensor, ask.point,
                                                         values.data(), 3, &count)),
              Answer{});
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(std::vector<int64_t>(values.begin(), values.begin() + 2), ask.values);
    EXPECT_EQ(values[2], -9);
  }
  struct Refused {
    const char* what;
    int32_t profile, tensor, point;
    size_t capacity;
    bool null_values;
    size_t count;  // after the call, from 7
    const char* message;
  };
  const Refused refused[] = {
      {"capacity 0", 0, 1, INFERLET_PROFILE_MAX, 0, true, 2,
       "capacity 0 is too small: shape tensor 'shape' has 2 values"},
      {"capacity 1", 0, 2, INFERLET_PROFILE_MIN, 1, false, 2,
       "capacity 1 is too small: shape tensor 'shape64' has 2 values"},
      {"null values", 0, 1, INFERLET_PROFILE_MIN, 2, true, 7, "values is null"},
      {"an input in device memory", 0, 0, INFERLET_PROFILE_MIN, 2, false, 7,
       "input 'in0' is no shape tensor: only a shape tensor input has values in a profile"},
      {"an output", 0, 3, INFERLET_PROFILE_MIN, 2, false, 7,
       "tensor 'out0' is an output: only a shape tensor input has values in a profile"},
      {"profile", 1, 1, INFERLET_PROFILE_MIN, 2, false, 7,
       "profile 1 is out of range: the engine has 1 profile(s)"},
      {"tensor", 0, 5, INFERLET_PROFILE_MIN, 2, false, 7,
       "tensor index 5 is out of range: the engine has 5 tensors"},
      {"point", 0, 1, 3, 2, false, 7, "profile point 3 is not INFERLET_PROFILE_MIN, _OPT or _MAX"},
  };
  for (const Refused& refusal : refused) {
    SCOPED_TRACE(refusal.what);
    std::vector<int64_t> values(2, -9);
    size_t count = 7;
    EXPECT_EQ(
        Take(inferlet_engine_profile_tensor_values(
            engine.get(), refusal.profile, refusal.tensor, static_cast<inferlet_profile_point>(refusal.point),
            refusal.null_values ? nullptr : values.data(), refusal.capacity, &count)),
        (Answer{INFERLET_INVALID_ARGUMENT, refusal.message}));
    EXPECT_EQ(count, refusal.count);
    EXPECT_EQ(values, std::vector<int64_t>(2, -9));
  }
  int64_t value = 0;
  size_t count = 0;
  EXPECT_EQ(
      Take(inferlet_engine_profile_tensor_values(nullptr, 0, 1, INFERLET_PROFILE_MIN, &value, 1, &count)),
      (Answer{INFERLET_INVALID_ARGUMENT, "engine is null"}));
  EXPECT_EQ(Take(inferlet_engine_profile_tensor_values(engine.get(), 0, 1, INFERLET_PROFILE_MIN, &value, 1,
                                                       nullptr)),
            (Answer{INFERLET_INVALID_ARGUMENT, "count is null"}));
}

// The libraries for 7 and 8 serve no shape tensors: an input TensorRT reads from host memory has no values
// there, and the message says why.
class ShapeTensorBeforeTensorRT10OnEmulator : public SessionsTest {
 protected:
  void SetUp() override {
    SessionsTest::SetUp();
    if (INFERLET_TRT_MAJOR >= 10)
      GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " serves shape tensors";
  }
};

INFERLET_EMULATOR_TEST_F(ShapeTensorBeforeTensorRT10OnEmulator, ProfileValuesAreRefusedInWords) {
  EngineHandle engine = LoadEngine("shape_tensor_int32");
  int64_t values[2] = {-9, -9};
  size_t count = 7;
  EXPECT_EQ(Take(inferlet_engine_profile_tensor_values(engine.get(), 0, 1, INFERLET_PROFILE_OPT, values, 2,
                                                       &count)),
            (Answer{INFERLET_INVALID_ARGUMENT,
                    "input 'shape' is a shape tensor, which the library for TensorRT " +
                        std::to_string(INFERLET_TRT_MAJOR) +
                        " does not serve: shape tensors are served from TensorRT 10 on"}));
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(values[0], -9);
}

class WrapperShapeTensorOnEmulator : public WrapperTest {
 protected:
  void SetUp() override {
    WrapperTest::SetUp();
    if (INFERLET_TRT_MAJOR < 10)
      GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " refuses shape tensors";
  }
};

// Through the wrapper: the values as any input range, in host memory; in device memory refused.
INFERLET_EMULATOR_TEST_F(WrapperShapeTensorOnEmulator, ValuesAreAnInputLikeAnyOther) {
  inferlet::Engine engine = LoadWrapped("shape_tensor");
  inferlet::Session session(engine, {});
  const Tensor in0 = Pattern(18, 3);
  std::vector<int32_t> shape{6, 3};
  std::vector<int64_t> shape64{3, 6};
  Tensor out0(18), out1(18);
  std::vector<inferlet::Input> inputs{{"in0", in0, {3, 6}}, {"shape", shape, {2}}, {"shape64", shape64, {2}}};
  std::vector<inferlet::Output> outputs{{"out0", out0}, {"out1", out1}};
  session.ResolveShapes(inputs, outputs);
  EXPECT_EQ(outputs[0].shape.rank(), 2);
  EXPECT_EQ(outputs[0].shape[0], 6);
  EXPECT_FALSE(outputs[0].data_dependent);
  EXPECT_EQ(outputs[0].max_bytes, 72u);
  session.Run(inputs, outputs);
  EXPECT_EQ(outputs[0].shape[1], 3);
  const inferlet::ValueRange values = engine.ProfileValues(0, 1);
  EXPECT_EQ(values.min, (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(values.opt, (std::vector<int64_t>{3, 4}));
  EXPECT_EQ(values.max, (std::vector<int64_t>{6, 4}));
  EXPECT_EQ(engine.ProfileValues(0, 2).opt, (std::vector<int64_t>{2, 6}));
  EXPECT_EQ(ThrownBy([&] { engine.ProfileValues(0, 0); }),
            (Thrown{inferlet::Code::kInvalidArgument,
                    "input 'in0' is no shape tensor: only a shape tensor input has values in a profile"}));
  EXPECT_TRUE(Matches(out0, in0));
  EXPECT_TRUE(Matches(out1, in0));
  inputs[1].memory = inferlet::Memory::kDevice;
  EXPECT_EQ(ThrownBy([&] { session.Run(inputs, outputs); }),
            (Thrown{inferlet::Code::kInvalidArgument,
                    "input 'shape' is a shape tensor, which TensorRT reads from host memory: give it in "
                    "INFERLET_MEMORY_HOST or INFERLET_MEMORY_PINNED, not INFERLET_MEMORY_DEVICE"}));
}

}  // namespace
}  // namespace inferlet_test
