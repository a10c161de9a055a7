// A session's stream against a host's: inputs another stream produces and outputs another stream
// consumes are right only when the orderings are queued (strict mode defers the producer's copy and
// nothing else waits for it); the memory functions that let a host without a CUDA runtime allocate, copy
// and tell memory apart.
#include <cudaemu.h>

#include <cstring>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

constexpr size_t kFloats = 32;  // static_batch: in0 and out0 are (4, 8)
constexpr size_t kBytes = kFloats * sizeof(float);

class StreamOrderOnEmulator : public SessionsTest {
 protected:
  void SetUp() override {
    SessionsTest::SetUp();
    cudaemu_set_strict(1);
    ASSERT_EQ(cudaStreamCreateWithFlags(&producer_, cudaStreamNonBlocking), cudaSuccess);
    ASSERT_EQ(cudaStreamCreateWithFlags(&consumer_, cudaStreamNonBlocking), cudaSuccess);
  }
  void TearDown() override {
    EXPECT_EQ(cudaStreamDestroy(producer_), cudaSuccess);
    EXPECT_EQ(cudaStreamDestroy(consumer_), cudaSuccess);
    SessionsTest::TearDown();
  }

  static void* Allocate(inferlet_memory kind, size_t bytes) {
    void* data = nullptr;
    EXPECT_TRUE(Ok(inferlet_memory_allocate(0, kind, bytes, &data)));
    return data;
  }

  cudaStream_t producer_ = nullptr, consumer_ = nullptr;
};

INFERLET_EMULATOR_TEST_F(StreamOrderOnEmulator, ProducersAndConsumersSeeTheCallsDataOnlyWhenOrdered) {
  EngineHandle engine = LoadEngine("static_batch");
  ASSERT_TRUE(engine);
  const Tensor input = Pattern(kFloats, 3);
  const struct {
    bool session_waits, consumer_waits;
    Tensor expected;  // what the consumer reads
  } cases[] = {
      {true, true, ReluReference(input, kFloats)},
      {true, false, Tensor(kFloats, 0.0f)},  // the consumer reads before the call ran
      {false, true, Tensor(kFloats, 0.0f)},  // the call read the input before it was written
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "session waits " << c.session_waits << ", consumer waits "
                                    << c.consumer_waits);
    SessionHandle session = NewSession(engine.get());
    ASSERT_TRUE(session);
    void* source = Allocate(INFERLET_MEMORY_PINNED, kBytes);
    void* device_in = Allocate(INFERLET_MEMORY_DEVICE, kBytes);
    void* device_out = Allocate(INFERLET_MEMORY_DEVICE, kBytes);
    void* read_back = Allocate(INFERLET_MEMORY_PINNED, kBytes);
    std::memcpy(source, input.data(), kBytes);
    ASSERT_EQ(cudaMemcpyAsync(device_in, source, kBytes, cudaMemcpyHostToDevice, producer_), cudaSuccess);
    if (c.session_waits) ASSERT_TRUE(Ok(inferlet_session_wait_stream(session.get(), producer_)));

    inferlet_tensor in{"in0", INFERLET_MEMORY_DEVICE, device_in, kBytes, Shape({4, 8})};
    inferlet_tensor out{"out0", INFERLET_MEMORY_DEVICE, device_out, kBytes, {}};
    ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), &in, 1, &out, 1)));
    if (c.consumer_waits) ASSERT_TRUE(Ok(inferlet_session_order_stream(session.get(), consumer_)));
    ASSERT_EQ(cudaMemcpyAsync(read_back, device_out, kBytes, cudaMemcpyDeviceToHost, consumer_), cudaSuccess);
    ASSERT_EQ(cudaStreamSynchronize(consumer_), cudaSuccess);
    const auto* floats = static_cast<const float*>(read_back);
    EXPECT_TRUE(Matches(Tensor(floats, floats + kFloats), c.expected));

    ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
    for (void* memory : {source, read_back})
      EXPECT_TRUE(Ok(inferlet_memory_free(0, INFERLET_MEMORY_PINNED, memory)));
    for (void* memory : {device_in, device_out})
      EXPECT_TRUE(Ok(inferlet_memory_free(0, INFERLET_MEMORY_DEVICE, memory)));
  }
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

INFERLET_EMULATOR_TEST_F(StreamOrderOnEmulator, OrderingsAndMemoryRefuseWhatTheyCannotUse) {
  cudaemu_set_device_count(2);
  cudaStream_t other_device = nullptr;
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaStreamCreate(&other_device), cudaSuccess);
  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  EngineHandle engine = LoadEngine("static_batch");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  const std::string null_stream =
      "stream is NULL, whose meaning depends on how the caller was compiled: give cudaStreamLegacy or "
      "cudaStreamPerThread for a default stream";
  const Answer other{INFERLET_INVALID_ARGUMENT, "stream is a stream of device 1, the engine is on device 0"};
  void* data = nullptr;
  float byte_source = 0;
  const struct {
    const char* what;
    inferlet_status* status;
    Answer answer;
  } cases[] = {
      {"wait for NULL",
       inferlet_session_wait_stream(session.get(), nullptr),
       {INFERLET_INVALID_ARGUMENT, null_stream}},
      {"order NULL",
       inferlet_session_order_stream(session.get(), nullptr),
       {INFERLET_INVALID_ARGUMENT, null_stream}},
      {"wait for another device's", inferlet_session_wait_stream(session.get(), other_device), other},
      {"order another device's", inferlet_session_order_stream(session.get(), other_device), other},
      {"copy on NULL",
       inferlet_memory_copy(0, &data, &byte_source, 1, nullptr),
       {INFERLET_INVALID_ARGUMENT, null_stream}},
      {"no session",
       inferlet_session_wait_stream(nullptr, cudaStreamLegacy),
       {INFERLET_INVALID_ARGUMENT, "session is null"}},
      {"host memory",
       inferlet_memory_allocate(0, INFERLET_MEMORY_HOST, 8, &data),
       {INFERLET_INVALID_ARGUMENT,
        "memory kind 0 is not one the library allocates: INFERLET_MEMORY_DEVICE or INFERLET_MEMORY_PINNED"}},
      {"no device",
       inferlet_memory_allocate(-1, INFERLET_MEMORY_DEVICE, 8, &data),
       {INFERLET_INVALID_ARGUMENT, "device -1 is not a CUDA device"}},
      {"too much",
       inferlet_memory_allocate(0, INFERLET_MEMORY_DEVICE, size_t{1} << 62, &data),
       {INFERLET_OUT_OF_MEMORY, ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Answer answer = Take(c.status);
    EXPECT_EQ(answer.code, c.answer.code);
    if (!c.answer.message.empty()) EXPECT_EQ(answer.message, c.answer.message);
  }
  EXPECT_EQ(data, nullptr);
  // The special handles are taken, each the calling thread's default stream of the engine's device.
  EXPECT_TRUE(Ok(inferlet_session_wait_stream(session.get(), cudaStreamLegacy)));
  EXPECT_TRUE(Ok(inferlet_session_order_stream(session.get(), cudaStreamPerThread)));
  ASSERT_EQ(cudaStreamDestroy(other_device), cudaSuccess);
}

INFERLET_EMULATOR_TEST_F(StreamOrderOnEmulator, MemoryIsAllocatedCopiedDescribedAndFreed) {
  const Tensor values = Pattern(kFloats, 5);
  void* pinned = Allocate(INFERLET_MEMORY_PINNED, kBytes);
  void* device = Allocate(INFERLET_MEMORY_DEVICE, kBytes);
  void* empty = Allocate(INFERLET_MEMORY_DEVICE, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(cudaemu_live_device_allocations(), 2u);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 1u);

  Tensor host(kFloats, -1.0f);
  ASSERT_TRUE(Ok(inferlet_memory_copy(0, device, values.data(), kBytes, cudaStreamLegacy)));
  ASSERT_TRUE(Ok(inferlet_memory_copy(0, pinned, device, kBytes, producer_)));
  ASSERT_TRUE(Ok(inferlet_memory_copy(0, host.data(), pinned, kBytes, cudaStreamPerThread)));
  EXPECT_TRUE(Matches(host, values));

  const struct {
    const char* what;
    const void* data;
    inferlet_memory kind;
    int device;
  } described[] = {
      {"device", device, INFERLET_MEMORY_DEVICE, 0},
      {"inside device memory", static_cast<char*>(device) + 4, INFERLET_MEMORY_DEVICE, 0},
      {"pinned", pinned, INFERLET_MEMORY_PINNED, 0},
      {"pageable", host.data(), INFERLET_MEMORY_HOST, -1},
  };
  for (const auto& d : described) {
    SCOPED_TRACE(d.what);
    inferlet_memory kind = INFERLET_MEMORY_HOST;
    int owner = 7;
    ASSERT_TRUE(Ok(inferlet_memory_describe(d.data, &kind, &owner)));
    EXPECT_EQ(kind, d.kind);
    EXPECT_EQ(owner, d.device);
  }
  EXPECT_TRUE(Ok(inferlet_memory_free(0, INFERLET_MEMORY_PINNED, pinned)));
  EXPECT_TRUE(Ok(inferlet_memory_free(0, INFERLET_MEMORY_DEVICE, device)));
  EXPECT_TRUE(Ok(inferlet_memory_free(0, INFERLET_MEMORY_DEVICE, empty)));
  EXPECT_TRUE(Ok(inferlet_memory_free(0, INFERLET_MEMORY_DEVICE, nullptr)));
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
}

}  // namespace
}  // namespace inferlet_test
