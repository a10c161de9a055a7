// The wrapper against the C header it wraps: the same description of every engine, the same outputs
// and resolved shapes for the same call in every memory kind (by Run, and by Enqueue, Event and Wait),
// and session options that reach the session as the C options would.
#include <cuda_runtime_api.h>

#include <array>
#include <cstring>

#include "emulator_support.h"
#include "wrapper_support.h"

namespace inferlet_test {
namespace {

using inferlet::Engine;
using inferlet::Session;
using inferlet::SessionOptions;

class WrapperDescribe : public WrapperTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(WrapperDescribe, IsTheCHeadersDescription) {
  EngineHandle c_engine = LoadEngine(GetParam());
  ASSERT_TRUE(c_engine);
  const Engine engine = LoadWrapped(GetParam());
  int32_t count = 0, profiles = 0;
  ASSERT_TRUE(Ok(inferlet_engine_tensor_count(c_engine.get(), &count)));
  ASSERT_TRUE(Ok(inferlet_engine_profile_count(c_engine.get(), &profiles)));
  EXPECT_EQ(engine.ProfileCount(), profiles);

  const std::vector<inferlet::TensorInfo> tensors = engine.Tensors();
  ASSERT_EQ(tensors.size(), static_cast<size_t>(count));
  for (int32_t t = 0; t < count; ++t) {
    inferlet_tensor_info c{};
    ASSERT_TRUE(Ok(inferlet_engine_tensor_info(c_engine.get(), t, &c)));
    const inferlet::TensorInfo& info = tensors[static_cast<size_t>(t)];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(info.name, c.name);
    EXPECT_EQ(info.is_input, c.is_input != 0);
    EXPECT_EQ(info.dtype, c.dtype);
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(info.on_host, c.on_host != 0);
    EXPECT_EQ(info.item_size, c.item_size);
    EXPECT_EQ(ShapeText(info.shape.c_shape()), ShapeText(c.shape));
    for (int32_t p = 0; p < profiles; ++p) {
      int32_t format = -1;
      ASSERT_TRUE(Ok(inferlet_engine_tensor_format(c_engine.get(), t, p, &format)));
      EXPECT_EQ(engine.TensorFormat(t, p), format) << "profile " << p;
      const inferlet::ShapeRange resolved = engine.ResolvedShapes(p, t);
      const inferlet::Shape* resolved_points[] = {&resolved.min, &resolved.opt, &resolved.max};
      for (int k = 0; k < 3; ++k) {
        inferlet_shape shape{};
        ASSERT_TRUE(Ok(inferlet_engine_profile_resolved_shape(
            c_engine.get(), p, t, static_cast<inferlet_profile_point>(k), &shape)));
        EXPECT_EQ(ShapeText(resolved_points[k]->c_shape()), ShapeText(shape)) << "profile " << p;
      }
      if (!c.is_input) continue;
      const inferlet::ShapeRange range = engine.ProfileShapes(p, t);
      const inferlet_profile_point points[] = {INFERLET_PROFILE_MIN, INFERLET_PROFILE_OPT,
                                               INFERLET_PROFILE_MAX};
      const inferlet::Shape* wrapped[] = {&range.min, &range.opt, &range.max};
      for (int k = 0; k < 3; ++k) {
        inferlet_shape shape{};
        ASSERT_TRUE(Ok(inferlet_engine_profile_shape(c_engine.get(), p, t, points[k], &shape)));
        EXPECT_EQ(ShapeText(wrapped[k]->c_shape()), ShapeText(shape)) << "profile " << p << " point " << k;
      }
    }
  }
  size_t engine_bytes = 0, context_bytes = 0;
  ASSERT_TRUE(Ok(inferlet_engine_device_memory(c_engine.get(), &engine_bytes, &context_bytes)));
  EXPECT_EQ(engine.DeviceMemory().engine_bytes, engine_bytes);
  EXPECT_EQ(engine.DeviceMemory().context_bytes, context_bytes);
  inferlet_engine_properties properties;
  inferlet_engine_properties_init(&properties);
  ASSERT_TRUE(Ok(inferlet_engine_get_properties(c_engine.get(), &properties)));
  const inferlet::EngineProperties wrapped = engine.Properties();
  EXPECT_EQ(wrapped.name, GetParam());
  EXPECT_EQ(wrapped.name, properties.name);
  EXPECT_EQ(wrapped.max_batch_size, properties.max_batch_size);
  EXPECT_EQ(wrapped.refittable, properties.refittable != 0);
  EXPECT_EQ(wrapped.binding_count, properties.binding_count);
  EXPECT_EQ(wrapped.binding_count, count * profiles);
  EXPECT_EQ(wrapped.dynamic_shapes, properties.dynamic_shapes != 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, WrapperDescribe,
                         ::testing::Values("smoke", "two_profiles", "mixed_rank", "mlp", "static_batch",
                                           "varying_width", "layout_per_profile", "host_shape"),
                         [](const auto& info) { return std::string(info.param); });

struct Call {
  std::string name;
  std::string engine;
  int32_t profile;
  std::vector<std::pair<std::string, inferlet_shape>> inputs;
  std::vector<std::pair<std::string, size_t>> outputs;  // floats each holds
};

void PrintTo(const Call& call, std::ostream* out) { *out << call.name; }

std::vector<Call> Calls() {
  return {
      {"smoke", "smoke", 0, {{"in0", Shape({3, 340})}, {"in1", Shape({3, 340})}}, {{"out0", 3 * 338}}},
      {"two_profiles_1",
       "two_profiles",
       1,
       {{"in1", Shape({13, 4, 8})}, {"in0", Shape({13, 4, 8})}},  // in another order than the engine's
       {{"out0", 13 * 32}}},
      {"mixed_rank",
       "mixed_rank",
       0,
       {{"in0", Shape({5, 8})}, {"in1", Shape({5, 4, 8})}},
       {{"out1", 5 * 32}, {"out0", 5 * 8}}},
      {"varying_width_1", "varying_width", 1, {{"signal", Shape({5, 100})}}, {{"smoothed", 5 * 98}}},
  };
}

// One call's tensors in one memory kind, the same values for the C header's call and the wrapper's.
struct CallMemory {
  CallMemory(const Call& call, inferlet_memory memory) {
    for (size_t i = 0; i < call.inputs.size(); ++i) {
      const inferlet_shape& shape = call.inputs[i].second;
      size_t volume = 1;
      for (int k = 0; k < shape.rank; ++k) volume *= static_cast<size_t>(shape.dims[k]);
      tensors.Input(call.inputs[i].first, memory, shape, Pattern(volume, static_cast<int>(i) + 7));
    }
    for (const auto& [name, floats] : call.outputs) tensors.Output(name, memory, floats);
  }

  std::vector<inferlet::Input> WrappedInputs() {
    std::vector<inferlet::Input> inputs;
    for (size_t i = 0; i < tensors.input_count(); ++i) {
      const inferlet_tensor& c = tensors.inputs()[i];
      inputs.emplace_back(c.name, c.data, c.bytes, inferlet::Shape(c.shape),
                          static_cast<inferlet::Memory>(c.memory));
    }
    return inputs;
  }
  std::vector<inferlet::Output> WrappedOutputs() {
    std::vector<inferlet::Output> outputs;
    for (size_t j = 0; j < tensors.output_count(); ++j) {
      const inferlet_tensor& c = tensors.output(j);
      outputs.emplace_back(c.name, c.data, c.bytes, static_cast<inferlet::Memory>(c.memory));
    }
    return outputs;
  }
  // The outputs' values as the wrapper's call resolved their shapes.
  std::vector<Tensor> Read(const std::vector<inferlet::Output>& outputs) {
    std::vector<Tensor> values;
    for (size_t j = 0; j < outputs.size(); ++j) {
      tensors.outputs()[j].shape = outputs[j].shape.c_shape();
      values.push_back(tensors.Read(j));
    }
    return values;
  }

  CallTensors tensors;
};

class WrapperRoundTrip : public WrapperTest,
                         public ::testing::WithParamInterface<std::tuple<Call, inferlet_memory>> {};

TEST_P(WrapperRoundTrip, GivesTheCHeadersOutputsAndShapes) {
  const auto& [call, memory] = GetParam();
  // Through the C header.
  CallMemory c_call(call, memory);
  std::vector<Tensor> expected;
  {
    EngineHandle engine = LoadEngine(call.engine);
    SessionHandle session =
        NewSession(engine.get(), [&](inferlet_session_options& o) { o.profile = call.profile; });
    ASSERT_TRUE(session);
    CallTensors& t = c_call.tensors;
    ASSERT_TRUE(
        Ok(inferlet_session_run(session.get(), t.inputs(), t.input_count(), t.outputs(), t.output_count())));
    for (size_t j = 0; j < t.output_count(); ++j) expected.push_back(t.Read(j));
  }
  SessionOptions options;
  options.profile = call.profile;
  Session session(LoadWrapped(call.engine), options);
  {
    SCOPED_TRACE("ResolveShapes, then Run");
    CallMemory wrapped(call, memory);
    std::vector<inferlet::Output> outputs = wrapped.WrappedOutputs();
    session.ResolveShapes(wrapped.WrappedInputs(), outputs);
    for (size_t j = 0; j < outputs.size(); ++j)
      EXPECT_EQ(ShapeText(outputs[j].shape.c_shape()), ShapeText(c_call.tensors.output(j).shape));
    for (inferlet::Output& output : outputs) output.shape = inferlet::Shape{};
    session.Run(wrapped.WrappedInputs(), outputs);
    for (size_t j = 0; j < outputs.size(); ++j)
      EXPECT_EQ(ShapeText(outputs[j].shape.c_shape()), ShapeText(c_call.tensors.output(j).shape));
    EXPECT_EQ(wrapped.Read(outputs), expected);
  }
  {
    SCOPED_TRACE("Enqueue, Event, Wait");
    CallMemory wrapped(call, memory);
    std::vector<inferlet::Output> outputs = wrapped.WrappedOutputs();
    const inferlet::Status enqueued = session.TryEnqueue(wrapped.WrappedInputs(), outputs);
    ASSERT_TRUE(enqueued.ok()) << enqueued.message();
    EXPECT_EQ(enqueued.code(), inferlet::Code::kOk);
    EXPECT_STREQ(enqueued.message(), "");
    for (size_t j = 0; j < outputs.size(); ++j)  // written by the enqueue
      EXPECT_EQ(ShapeText(outputs[j].shape.c_shape()), ShapeText(c_call.tensors.output(j).shape));
    ASSERT_EQ(cudaEventSynchronize(static_cast<cudaEvent_t>(session.Event())), cudaSuccess);
    session.Wait();
    EXPECT_EQ(wrapped.Read(outputs), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, WrapperRoundTrip,
                         ::testing::Combine(::testing::ValuesIn(Calls()),
                                            ::testing::Values(INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED,
                                                              INFERLET_MEMORY_DEVICE)),
                         [](const auto& info) {
                           return std::get<0>(info.param).name + "_" + MemoryName(std::get<1>(info.param));
                         });

// Ranges of elements as tensors: their bytes, not their element counts, and a C array as well as a
// container.
TEST_F(WrapperTest, RangesGiveTheirBytes) {
  Session session(LoadWrapped("mixed_rank"));
  const std::vector<float> in0 = Pattern(2 * 8, 1);
  const Tensor in1 = Pattern(2 * 4 * 8, 2);
  float out0[2 * 8] = {};
  std::array<float, 2 * 4 * 8> out1{};
  std::vector<inferlet::Output> outputs{{"out0", out0}, {"out1", out1}};
  EXPECT_EQ(outputs[0].bytes, sizeof out0);
  EXPECT_EQ(outputs[1].bytes, sizeof out1);
  session.Run({{"in0", in0, {2, 8}}, {"in1", in1, {2, 4, 8}}}, outputs);
  EXPECT_TRUE(Matches(Tensor(out0, out0 + 16), ReluReference(in0, 16)));
  EXPECT_TRUE(Matches(Tensor(out1.begin(), out1.end()), HalfReference(in1, 64)));
  EXPECT_EQ(outputs[1].shape, (inferlet::Shape{2, 4, 8})) << outputs[1].shape;
}

TEST_F(WrapperTest, SessionOptionsDefaultToTheCHeadersDefaults) {
  const SessionOptions options;
  inferlet_session_options c;
  std::memset(&c, 0x5a, sizeof c);
  inferlet_session_options_init(&c);
  EXPECT_EQ(options.profile, c.profile);
  EXPECT_EQ(options.cuda_graphs, c.cuda_graphs != 0);
  EXPECT_EQ(options.graph_cache_size, c.graph_cache_size);
  EXPECT_EQ(options.stream, c.stream);
  EXPECT_EQ(options.phase_timing, c.phase_timing != 0);
}

class WrapperOptionsOnEmulator : public WrapperTest {};

// Each option changes what the session does as the C option does: the profile its calls may use, the
// graphs it keeps, the stream its work goes to.
INFERLET_EMULATOR_TEST_F(WrapperOptionsOnEmulator, EachOptionReachesTheSession) {
  {
    SCOPED_TRACE("profile");
    Engine engine = LoadWrapped("smoke");
    SessionOptions options;
    options.profile = 1;
    EXPECT_EQ(ThrownBy([&] { Session(engine, options); }).code, inferlet::Code::kInvalidArgument);
    Engine two_profiles = LoadWrapped("two_profiles");
    Session session(two_profiles, options);
    Tensor in(13 * 32, 1.0f), out(13 * 32);
    std::vector<inferlet::Output> outputs{{"out0", out}};
    session.Run({{"in0", in, {13, 4, 8}}, {"in1", in, {13, 4, 8}}}, outputs);  // past profile 0's batch 4
    EXPECT_TRUE(Matches(out, TwoProfilesReference(in, in, 13)));
  }
  {
    SCOPED_TRACE("cuda_graphs and graph_cache_size");
    Engine engine = LoadWrapped("smoke");
    SessionOptions options;
    options.cuda_graphs = true;
    options.graph_cache_size = 1;
    Session session(engine, options);
    for (int rows : {2, 2, 3, 3, 2}) {
      SmokeCall call(rows);
      session.Run(call.inputs, call.outputs);
      EXPECT_TRUE(Matches(call.out0, call.Expected()));
    }
    EXPECT_EQ(cudaemu_live_graph_execs(), 1u) << "one graph kept";
    EXPECT_EQ(cudaemu_call_count("cudaGraphLaunch"), 2u) << "each shape's second call";
  }
  {
    SCOPED_TRACE("stream");
    cudaStream_t stream = nullptr;
    ASSERT_EQ(cudaStreamCreate(&stream), cudaSuccess);
    {
      SessionOptions options;
      options.stream = stream;
      Session session(LoadWrapped("smoke"), options);
      EXPECT_EQ(cudaemu_live_streams(), 1u) << "no stream of its own";
      SmokeCall call(2);
      session.Run(call.inputs, call.outputs);
      EXPECT_TRUE(Matches(call.out0, call.Expected()));
    }
    EXPECT_EQ(cudaStreamDestroy(stream), cudaSuccess) << "the session released the host's stream";
  }
  {
    SCOPED_TRACE("phase_timing");
    Engine engine = LoadWrapped("smoke");
    {
      Session untimed(engine);  // profile 0 is free again once it goes
      EXPECT_EQ(ThrownBy([&] { untimed.LastPhaseTimes(); }).code, inferlet::Code::kInvalidArgument);
    }
    SessionOptions options;
    options.phase_timing = true;
    Session session(engine, options);
    EXPECT_EQ(ThrownBy([&] { session.LastPhaseTimes(); }).code, inferlet::Code::kNotRunning);
    const size_t events_before = cudaemu_call_count("cudaEventRecord");
    SmokeCall call(2);
    session.Run(call.inputs, call.outputs);
    EXPECT_GE(cudaemu_call_count("cudaEventRecord") - events_before, 4u) << "the four phase marks";
    const inferlet::PhaseTimes times = session.LastPhaseTimes();
    EXPECT_GE(times.host_to_device_ms, 0.0f);
    EXPECT_GE(times.compute_ms, 0.0f);
    EXPECT_GE(times.device_to_host_ms, 0.0f);
    EXPECT_EQ(times.graph_replay, 0);
  }
  {
    SCOPED_TRACE("memory_kinds");
    Engine engine = LoadWrapped("two_profiles");
    SessionOptions options;
    options.profile = 1;
    options.memory_kinds = {inferlet::Memory::kPinned, inferlet::Memory::kDevice};
    const size_t pinned_before = cudaemu_live_pinned_allocations();
    Session session(engine, options);
    EXPECT_EQ(cudaemu_live_pinned_allocations() - pinned_before, 1u) << "the stand-in context's, no staging";
    EXPECT_EQ(session.DeviceMemory(), 2048u + 3 * 2048u)
        << "profile 1's context memory and three buffers of [16, 4, 8] floats";
    Tensor in(2 * 32, 1.0f), out(2 * 32);
    std::vector<inferlet::Output> outputs{{"out0", out}};
    EXPECT_EQ(
        ThrownBy([&] {
          session.Run({{"in0", in, {2, 4, 8}}, {"in1", in, {2, 4, 8}}}, outputs);
        }),
        (Thrown{inferlet::Code::kInvalidArgument,
                "input 'in0' is in INFERLET_MEMORY_HOST, which the session's memory_kinds leave out: it "
                "was made for INFERLET_MEMORY_PINNED and INFERLET_MEMORY_DEVICE"}));
  }
}

// The library's own memory and orderings, for hosts without a CUDA runtime: a call from device buffers
// to a device buffer, read back with CopyMemory on the session's stream, and nothing left behind.
INFERLET_EMULATOR_TEST_F(WrapperOptionsOnEmulator, DeviceBuffersCarryACallWithoutACudaRuntimeOfTheHosts) {
  const Engine engine = LoadWrapped("static_batch");
  Session session(engine);
  const size_t session_allocations = cudaemu_live_device_allocations();
  const std::vector<float> in = Pattern(32, 4);
  inferlet::DeviceBuffer input(0, inferlet::Memory::kDevice, 128);
  inferlet::DeviceBuffer output(0, inferlet::Memory::kDevice, 128);
  inferlet::DeviceBuffer moved = std::move(output);
  EXPECT_EQ(output.data(), nullptr);
  EXPECT_EQ(cudaemu_live_device_allocations(), session_allocations + 2);
  inferlet::CopyMemory(0, input.data(), in.data(), 128, session.Stream());
  std::vector<inferlet::Output> outputs = {{"out0", moved.data(), 128, inferlet::Memory::kDevice}};
  session.WaitStream(cudaStreamLegacy);
  session.Run({{"in0", input.data(), 128, {4, 8}, inferlet::Memory::kDevice}}, outputs);
  session.OrderStream(cudaStreamPerThread);
  std::vector<float> out(32);
  inferlet::CopyMemory(0, out.data(), moved.data(), 128, session.Stream());
  EXPECT_TRUE(Matches(out, ReluReference(in, 32)));
  EXPECT_EQ(ThrownBy([&] { session.OrderStream(nullptr); }).code, inferlet::Code::kInvalidArgument);
  EXPECT_EQ(ThrownBy([] { inferlet::DeviceBuffer(0, inferlet::Memory::kHost, 8); }).code,
            inferlet::Code::kInvalidArgument);
  input.Reset();
  moved = inferlet::DeviceBuffer();
  EXPECT_EQ(cudaemu_live_device_allocations(), session_allocations);
}

}  // namespace
}  // namespace inferlet_test
