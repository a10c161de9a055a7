// Shape tensors (TensorRT 10 and 11): inputs TensorRT reads from host memory, given in host or pinned
// memory and copied by the session before enqueue returns, their values part of a graph's key. On the
// host_shape test engine (in0 [-1, 4] on the device, shape int32 [2] in host memory, out0 = relu(in0)).
#include <trt_standin.h>

#include <cstring>
#include <string>
#include <vector>

#include "emulator_support.h"
#include "session_support.h"
#include "wrapper_support.h"

namespace inferlet_test {
namespace {

// int32 values in host or pinned memory, released with the object.
class HostValues {
 public:
  HostValues(inferlet_memory memory, std::vector<int32_t> values) : memory_(memory), count_(values.size()) {
    const size_t bytes = count_ * sizeof(int32_t);
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

  void Set(const std::vector<int32_t>& values) {
    std::memcpy(data_, values.data(), count_ * sizeof(int32_t));
  }
  inferlet_tensor Tensor(const char* name, inferlet_memory as) const {
    return {name, as, data_, count_ * sizeof(int32_t), Shape({static_cast<int64_t>(count_)})};
  }
  inferlet_tensor Tensor(const char* name) const { return Tensor(name, memory_); }

 private:
  inferlet_memory memory_;
  size_t count_;
  void* data_ = nullptr;
};

// A host_shape call: in0 [rows, 4] in `memory`, the shape tensor in `values_memory`, out0 in `memory`.
class HostShapeCall {
 public:
  HostShapeCall(inferlet_memory memory, inferlet_memory values_memory, int rows, int seed)
      : values_(values_memory, {rows, 4}), in0_(Pattern(static_cast<size_t>(rows) * 4, seed)) {
    tensors_.Input("in0", memory, Shape({rows, 4}), in0_);
    tensors_.Output("out0", memory, static_cast<size_t>(rows) * 4);
    inputs_ = {tensors_.inputs()[0], values_.Tensor("shape")};
  }
  Answer Run(inferlet_session* session) {
    return Take(inferlet_session_run(session, inputs_.data(), 2, tensors_.outputs(), 1));
  }
  Answer Enqueue(inferlet_session* session) {
    return Take(inferlet_session_enqueue(session, inputs_.data(), 2, tensors_.outputs(), 1));
  }
  ::testing::AssertionResult Right() const {
    return Matches(tensors_.Read(0), ReluReference(in0_, in0_.size()));
  }
  HostValues& values() { return values_; }
  std::vector<inferlet_tensor>& inputs() { return inputs_; }
  CallTensors& tensors() { return tensors_; }

 private:
  HostValues values_;
  Tensor in0_;
  CallTensors tensors_;
  std::vector<inferlet_tensor> inputs_;
};

struct ShapeTensorKind {
  inferlet_memory memory;         // in0's and out0's
  inferlet_memory values_memory;  // the shape tensor's
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

// Calls with the shape tensor in either host kind compute what they should; with graphs, calls whose
// values differ never share a graph, and those whose values are the same do, though the host rewrote
// its buffer once the first was enqueued (the session copied the values).
INFERLET_EMULATOR_TEST_P(ShapeTensorOnEmulator, CallsRunAndTheValuesKeyTheirGraphs) {
  const ShapeTensorKind kind = GetParam();
  EngineHandle engine = LoadEngine("host_shape");
  SessionHandle session =
      NewSession(engine.get(), [&](inferlet_session_options& o) { o.cuda_graphs = kind.graphs; });
  ASSERT_TRUE(session);
  HostShapeCall call(kind.memory, kind.values_memory, 3, 1);
  ASSERT_EQ(call.Enqueue(session.get()), Answer{});
  call.values().Set({-5, -5});  // the host's buffer is free once enqueue returned
  ASSERT_EQ(Take(inferlet_session_wait(session.get())), Answer{});
  EXPECT_TRUE(call.Right());
  EXPECT_EQ(ShapeText(call.tensors().output(0).shape), "[3, 4]");
  struct Step {
    std::vector<int32_t> values;
    size_t captures, launches;  // after the step, with graphs
  };
  const Step steps[] = {{{3, 4}, 1, 1}, {{1, 2}, 2, 1}, {{1, 2}, 2, 2}, {{3, 4}, 2, 3}};
  for (const Step& step : steps) {
    call.values().Set(step.values);
    ASSERT_EQ(call.Run(session.get()), Answer{});
    EXPECT_TRUE(call.Right());
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

// A shape tensor in device memory is refused by a call and by resolve_shapes, before anything runs.
INFERLET_EMULATOR_TEST_F(ShapeTensorRefusalsOnEmulator, DeviceMemoryIsRefused) {
  EngineHandle engine = LoadEngine("host_shape");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  HostShapeCall call(INFERLET_MEMORY_DEVICE, INFERLET_MEMORY_PINNED, 2, 4);
  call.inputs()[1] = call.values().Tensor("shape", INFERLET_MEMORY_DEVICE);
  const Answer refused{INFERLET_INVALID_ARGUMENT,
                       "input 'shape' is a shape tensor, which TensorRT reads from host memory: give it in "
                       "INFERLET_MEMORY_HOST or INFERLET_MEMORY_PINNED, not INFERLET_MEMORY_DEVICE"};
  EXPECT_EQ(call.Run(session.get()), refused);
  EXPECT_EQ(Take(inferlet_session_resolve_shapes(session.get(), call.inputs().data(), 2,
                                                 call.tensors().outputs(), 1)),
            refused);
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 0);
  EXPECT_EQ(ShapeText(call.tensors().output(0).shape), "[-7]");
  call.inputs()[1] = call.values().Tensor("shape");
  ASSERT_EQ(Take(inferlet_session_resolve_shapes(session.get(), call.inputs().data(), 2,
                                                 call.tensors().outputs(), 1)),
            Answer{});
  EXPECT_EQ(ShapeText(call.tensors().output(0).shape), "[2, 4]");
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
  inferlet::Engine engine = LoadWrapped("host_shape");
  inferlet::Session session(engine, {});
  const Tensor in0 = Pattern(8, 3);
  std::vector<int32_t> values{2, 4};
  Tensor out0(8);
  std::vector<inferlet::Input> inputs{{"in0", in0, {2, 4}}, {"shape", values, {2}}};
  std::vector<inferlet::Output> outputs{{"out0", out0}};
  session.ResolveShapes(inputs, outputs);
  EXPECT_EQ(outputs[0].shape.rank(), 2);
  EXPECT_FALSE(outputs[0].data_dependent);
  EXPECT_EQ(outputs[0].max_bytes, 32u);
  session.Run(inputs, outputs);
  EXPECT_TRUE(Matches(out0, ReluReference(in0, 8)));
  inputs[1].memory = inferlet::Memory::kDevice;
  EXPECT_EQ(ThrownBy([&] { session.Run(inputs, outputs); }),
            (Thrown{inferlet::Code::kInvalidArgument,
                    "input 'shape' is a shape tensor, which TensorRT reads from host memory: give it in "
                    "INFERLET_MEMORY_HOST or INFERLET_MEMORY_PINNED, not INFERLET_MEMORY_DEVICE"}));
}

}  // namespace
}  // namespace inferlet_test
