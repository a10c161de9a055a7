// Calls on every sample, in each memory kind, against the values the reference nets compute; shapes
// that vary more than the batch; a session whose shapes change from call to call; tensors listed in
// any order; host inputs the host reuses as soon as enqueue returns.
#include <cuda_runtime_api.h>

#include <cstring>

#include "session_support.h"

namespace inferlet_test {
namespace {

struct TensorShape {
  std::string name;
  inferlet_shape shape;
};

struct RoundTrip {
  std::string label;
  std::string engine;
  int profile;
  std::vector<TensorShape> inputs;
  std::vector<TensorShape> outputs;  // the shapes the call must resolve
  std::function<std::vector<Tensor>(const std::vector<Tensor>&)> reference;
};

void PrintTo(const RoundTrip& trip, std::ostream* out) { *out << trip.label; }

size_t Volume(const inferlet_shape& shape) {
  size_t count = 1;
  for (int k = 0; k < shape.rank; ++k) count *= static_cast<size_t>(shape.dims[k]);
  return count;
}

std::vector<RoundTrip> RoundTrips() {
  auto two_profiles = [](int batch) {
    return [batch](const std::vector<Tensor>& in) {
      return std::vector<Tensor>{TwoProfilesReference(in[0], in[1], batch)};
    };
  };
  auto smoothed = [](int rows, int width) {
    return [rows, width](const std::vector<Tensor>& in) {
      return std::vector<Tensor>{SmoothedReference(in[0], rows, width)};
    };
  };
  return {
      {"smoke",
       "smoke",
       0,
       {{"in0", Shape({3, 340})}, {"in1", Shape({3, 340})}},
       {{"out0", Shape({3, 338})}},
       [](const std::vector<Tensor>& in) { return std::vector<Tensor>{SmokeReference(in[0], in[1], 3)}; }},
      {"two_profiles_0",
       "two_profiles",
       0,
       {{"in0", Shape({2, 4, 8})}, {"in1", Shape({2, 4, 8})}},
       {{"out0", Shape({2, 4, 8})}},
       two_profiles(2)},
      {"two_profiles_1",
       "two_profiles",
       1,
       {{"in0", Shape({13, 4, 8})}, {"in1", Shape({13, 4, 8})}},
       {{"out0", Shape({13, 4, 8})}},
       two_profiles(13)},
      {"mixed_rank",
       "mixed_rank",
       0,
       {{"in0", Shape({5, 8})}, {"in1", Shape({5, 4, 8})}},
       {{"out0", Shape({5, 8})}, {"out1", Shape({5, 4, 8})}},
       [](const std::vector<Tensor>& in) {
         return std::vector<Tensor>{ReluReference(in[0], 40), HalfReference(in[1], 160)};
       }},
      {"mlp",
       "mlp",
       0,
       {{"x", Shape({7, 16})}},
       {{"y", Shape({7, 4})}},
       [](const std::vector<Tensor>& in) { return std::vector<Tensor>{MlpReference(in[0], 7)}; }},
      {"static_batch",
       "static_batch",
       0,
       {{"in0", Shape({4, 8})}},
       {{"out0", Shape({4, 8})}},
       [](const std::vector<Tensor>& in) { return std::vector<Tensor>{ReluReference(in[0], 32)}; }},
      {"varying_width_0",
       "varying_width",
       0,
       {{"signal", Shape({3, 20})}},
       {{"smoothed", Shape({3, 18})}},
       smoothed(3, 20)},
      {"varying_width_1",
       "varying_width",
       1,
       {{"signal", Shape({5, 100})}},
       {{"smoothed", Shape({5, 98})}},
       smoothed(5, 100)},
  };
}

// Fills tensors for trip in the kinds given (one per input, then one per output) with inputs from
// seed, and returns what the outputs must hold.
std::vector<Tensor> Prepare(const RoundTrip& trip, const std::vector<inferlet_memory>& kinds, int seed,
                            CallTensors& tensors) {
  std::vector<Tensor> inputs;
  for (size_t i = 0; i < trip.inputs.size(); ++i) {
    inputs.push_back(Pattern(Volume(trip.inputs[i].shape), seed + static_cast<int>(i)));
    tensors.Input(trip.inputs[i].name, kinds[i], trip.inputs[i].shape, inputs.back());
  }
  for (size_t j = 0; j < trip.outputs.size(); ++j) {
    tensors.Output(trip.outputs[j].name, kinds[trip.inputs.size() + j], Volume(trip.outputs[j].shape));
  }
  return trip.reference(inputs);
}

void ExpectOutputs(const RoundTrip& trip, const CallTensors& tensors, const std::vector<Tensor>& expected) {
  for (size_t j = 0; j < trip.outputs.size(); ++j) {
    EXPECT_EQ(ShapeText(tensors.output(j).shape), ShapeText(trip.outputs[j].shape)) << trip.outputs[j].name;
    EXPECT_TRUE(Matches(tensors.Read(j), expected[j])) << trip.outputs[j].name;
  }
}

class SessionsRoundTrip : public SessionsTest,
                          public ::testing::WithParamInterface<std::tuple<RoundTrip, inferlet_memory>> {};

TEST_P(SessionsRoundTrip, OutputsAreTheReferenceValuesAndShapes) {
  const auto& [trip, memory] = GetParam();
  EngineHandle engine = LoadEngine(trip.engine);
  ASSERT_TRUE(engine);
  SessionHandle session =
      NewSession(engine.get(), [&](inferlet_session_options& o) { o.profile = trip.profile; });
  ASSERT_TRUE(session);
  CallTensors tensors;
  const std::vector<Tensor> expected = Prepare(
      trip, std::vector<inferlet_memory>(trip.inputs.size() + trip.outputs.size(), memory), 1, tensors);
  ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), tensors.inputs(), tensors.input_count(),
                                          tensors.outputs(), tensors.output_count())));
  ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
  ExpectOutputs(trip, tensors, expected);
}

INSTANTIATE_TEST_SUITE_P(Samples, SessionsRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(RoundTrips()),
                                            ::testing::Values(INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED,
                                                              INFERLET_MEMORY_DEVICE)),
                         [](const auto& info) {
                           return std::get<0>(info.param).label + "_" + MemoryName(std::get<1>(info.param));
                         });

const RoundTrip& Trip(const std::string& label) {
  static const std::vector<RoundTrip> trips = RoundTrips();
  for (const RoundTrip& trip : trips) {
    if (trip.label == label) return trip;
  }
  throw std::invalid_argument(label);
}

TEST_F(SessionsTest, EachTensorMayBeInAnotherMemoryKind) {
  const RoundTrip& trip = Trip("mixed_rank");
  EngineHandle engine = LoadEngine(trip.engine);
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  CallTensors tensors;
  const std::vector<Tensor> expected = Prepare(
      trip, {INFERLET_MEMORY_HOST, INFERLET_MEMORY_DEVICE, INFERLET_MEMORY_PINNED, INFERLET_MEMORY_HOST}, 3,
      tensors);
  ASSERT_TRUE(Ok(inferlet_session_run(session.get(), tensors.inputs(), tensors.input_count(),
                                      tensors.outputs(), tensors.output_count())));
  ExpectOutputs(trip, tensors, expected);
}

TEST_F(SessionsTest, ShapesMayChangeFromCallToCall) {
  EngineHandle engine = LoadEngine("varying_width");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  for (const auto& [rows, width] : std::vector<std::pair<int, int>>{{1, 8}, {4, 32}, {2, 9}, {4, 32}}) {
    RoundTrip trip{"",
                   "varying_width",
                   0,
                   {{"signal", Shape({rows, width})}},
                   {{"smoothed", Shape({rows, width - 2})}},
                   [rows = rows, width = width](const std::vector<Tensor>& in) {
                     return std::vector<Tensor>{SmoothedReference(in[0], rows, width)};
                   }};
    CallTensors tensors;
    const std::vector<Tensor> expected =
        Prepare(trip, {INFERLET_MEMORY_HOST, INFERLET_MEMORY_HOST}, rows * width, tensors);
    ASSERT_TRUE(Ok(inferlet_session_run(session.get(), tensors.inputs(), 1, tensors.outputs(), 1)));
    ExpectOutputs(trip, tensors, expected);
  }
}

// Tensors match the engine's by name in whatever order the host lists them, the order changing from
// call to call of one session: each output's values and shape land in its own entry.
TEST_F(SessionsTest, TensorsMatchByNameInAnyOrder) {
  const RoundTrip& trip = Trip("mixed_rank");
  EngineHandle engine = LoadEngine(trip.engine);
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  CallTensors tensors;
  const std::vector<Tensor> expected =
      Prepare(trip, {INFERLET_MEMORY_HOST, INFERLET_MEMORY_HOST, INFERLET_MEMORY_HOST, INFERLET_MEMORY_HOST},
              4, tensors);
  struct Order {  // entry k of the call is the trip's tensor inputs[k] (outputs[k])
    std::vector<size_t> inputs, outputs;
  };
  const std::vector<Order> orders = {
      {{0, 1}, {0, 1}}, {{1, 0}, {1, 0}}, {{0, 1}, {1, 0}}, {{1, 0}, {0, 1}}, {{0, 1}, {0, 1}}};
  for (const Order& order : orders) {
    SCOPED_TRACE(::testing::PrintToString(order.inputs) + " " + ::testing::PrintToString(order.outputs));
    std::vector<inferlet_tensor> inputs, outputs;
    for (size_t i : order.inputs) inputs.push_back(tensors.inputs()[i]);
    for (size_t j : order.outputs) {
      inferlet_tensor output = tensors.outputs()[j];
      std::memset(output.data, 0xff, output.bytes);  // NaN: what the last call wrote does not pass
      output.shape = Shape({-7});
      outputs.push_back(output);
    }
    ASSERT_TRUE(Ok(
        inferlet_session_run(session.get(), inputs.data(), inputs.size(), outputs.data(), outputs.size())));
    for (size_t k = 0; k < outputs.size(); ++k) tensors.outputs()[order.outputs[k]].shape = outputs[k].shape;
    ExpectOutputs(trip, tensors, expected);
  }
}

// Host inputs are staged before enqueue returns: what the host writes into them afterwards changes
// nothing.
TEST_F(SessionsTest, HostInputsMayBeReusedOnceEnqueueReturns) {
  const RoundTrip& trip = Trip("smoke");
  EngineHandle engine = LoadEngine(trip.engine);
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  CallTensors tensors;
  const std::vector<Tensor> expected =
      Prepare(trip, {INFERLET_MEMORY_HOST, INFERLET_MEMORY_HOST, INFERLET_MEMORY_HOST}, 5, tensors);
  ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), tensors.inputs(), 2, tensors.outputs(), 1)));
  tensors.Overwrite(0, 1000.0f);
  tensors.Overwrite(1, -1000.0f);
  ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
  ExpectOutputs(trip, tensors, expected);
}

// The host's stream: the session's work goes there, and the stream stays the host's.
TEST_F(SessionsTest, ASessionMayRunOnTheHostsStream) {
  cudaStream_t stream = nullptr;
  ASSERT_EQ(cudaStreamCreate(&stream), cudaSuccess);
  {
    const RoundTrip& trip = Trip("two_profiles_1");
    EngineHandle engine = LoadEngine(trip.engine);
    SessionHandle session = NewSession(engine.get(), [&](inferlet_session_options& o) {
      o.profile = 1;
      o.stream = stream;
      o.cuda_graphs = 1;
    });
    ASSERT_TRUE(session);
    CallTensors tensors;
    const std::vector<Tensor> expected =
        Prepare(trip, {INFERLET_MEMORY_PINNED, INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED}, 9, tensors);
    for (int k = 0; k < 2; ++k) {
      ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), tensors.inputs(), 2, tensors.outputs(), 1)));
      ASSERT_EQ(cudaStreamSynchronize(stream), cudaSuccess);  // pinned outputs are complete with the stream
      ExpectOutputs(trip, tensors, expected);
      ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
    }
  }
  EXPECT_EQ(cudaStreamDestroy(stream), cudaSuccess) << "the session released the host's stream";
}

}  // namespace
}  // namespace inferlet_test
