// Graph replays: every launch runs the captured copies and host functions again on the launch stream,
// in capture order, with the addresses and user data captured, under the rules of direct work.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

class ReplayTest : public EmulatorTest {
 protected:
  void SetUp() override {
    EmulatorTest::SetUp();
    ASSERT_EQ(cudaStreamCreate(&stream_), cudaSuccess);
  }
  // Captures what `issue` queues on stream_ and instantiates it.
  template <class F>
  cudaGraphExec_t capture(F issue) {
    cudaGraph_t graph = nullptr;
    cudaGraphExec_t exec = nullptr;
    EXPECT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeGlobal), cudaSuccess);
    issue();
    EXPECT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
    EXPECT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
    EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
    return exec;
  }

  cudaStream_t stream_ = nullptr;
};

enum class Place { Pageable, Pinned, Device };

// 64 bytes of one kind of memory; the emulated device's memory is host memory, so a test may fill
// and read it directly while nothing is queued.
class Buffer {
 public:
  explicit Buffer(Place place) : place_(place) {
    cudaError_t made = cudaSuccess;
    if (place == Place::Pinned) made = cudaMallocHost(&p_, 64);
    if (place == Place::Device) made = cudaMalloc(&p_, 64);
    if (place == Place::Pageable) p_ = host_.data();
    EXPECT_EQ(made, cudaSuccess);
  }
  ~Buffer() {
    if (place_ == Place::Pinned) cudaFreeHost(p_);
    if (place_ == Place::Device) cudaFree(p_);
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  void* get() const { return p_; }
  unsigned char at(int i) const { return static_cast<const unsigned char*>(p_)[i]; }
  void fill(int value) { std::memset(p_, value, 64); }

 private:
  Place place_;
  std::vector<unsigned char> host_ = std::vector<unsigned char>(64, 0);
  void* p_ = nullptr;
};

// One copy node per case, replayed twice with new source bytes each time, in both orderings.
TEST_F(ReplayTest, EveryCopyKindReadsAndWritesTheCapturedAddressesAtEachLaunch) {
  struct Case {
    const char* name;
    cudaMemcpyKind kind;
    Place dst, src;
  };
  const Case cases[] = {
      {"H2D pageable", cudaMemcpyHostToDevice, Place::Device, Place::Pageable},
      {"H2D pinned", cudaMemcpyHostToDevice, Place::Device, Place::Pinned},
      {"D2H pageable", cudaMemcpyDeviceToHost, Place::Pageable, Place::Device},
      {"D2H pinned", cudaMemcpyDeviceToHost, Place::Pinned, Place::Device},
      {"D2D", cudaMemcpyDeviceToDevice, Place::Device, Place::Device},
      {"D2D into pinned", cudaMemcpyDeviceToDevice, Place::Pinned, Place::Device},
      {"H2H pageable to pinned", cudaMemcpyHostToHost, Place::Pinned, Place::Pageable},
      {"H2H pinned to pageable", cudaMemcpyHostToHost, Place::Pageable, Place::Pinned},
      {"default pinned to device", cudaMemcpyDefault, Place::Device, Place::Pinned},
      {"default device to pageable", cudaMemcpyDefault, Place::Pageable, Place::Device},
  };
  for (int strict : {0, 1}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (strict ? " strict" : ""));
      cudaemu_reset();
      cudaemu_set_strict(strict);
      ASSERT_EQ(cudaStreamCreate(&stream_), cudaSuccess);
      Buffer dst(c.dst), src(c.src);
      src.fill(1);
      cudaGraphExec_t exec = capture(
          [&] { EXPECT_EQ(cudaMemcpyAsync(dst.get(), src.get(), 64, c.kind, stream_), cudaSuccess); });
      EXPECT_EQ(dst.at(0), 0) << "capture copies nothing";
      for (int value : {5, 9}) {
        src.fill(value - 1);
        ASSERT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess);
        src.fill(value);  // before the replay ran: the replay reads the address then
        EXPECT_EQ(cudaemu_pending_work(), 1u) << "a launch is queued like any work";
        ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
        EXPECT_EQ(dst.at(0), value);
        EXPECT_EQ(dst.at(63), value);
      }
      EXPECT_EQ(cudaemu_work_executed(), 2u);
      EXPECT_EQ(cudaemu_violations(), 0u);
      EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
    }
  }
}

struct Log {
  std::vector<std::string> entries;
  const unsigned char* watched = nullptr;
};
struct Mark {
  Log* log;
  const char* name;
};
void CUDART_CB record_mark(void* data) {
  auto* mark = static_cast<Mark*>(data);
  mark->log->entries.push_back(std::string(mark->name) + "=" + std::to_string(*mark->log->watched));
}

TEST_F(ReplayTest, HostFunctionsRunWithTheirUserDataInCaptureOrderAtEveryLaunch) {
  Buffer pinned(Place::Pinned);
  Log log;
  log.watched = static_cast<const unsigned char*>(pinned.get());
  Mark first{&log, "first"}, second{&log, "second"};
  cudaGraphExec_t exec = capture([&] {
    EXPECT_EQ(cudaLaunchHostFunc(stream_, record_mark, &first), cudaSuccess);
    EXPECT_EQ(cudaMemsetAsync(pinned.get(), 4, 64, stream_), cudaSuccess);
    EXPECT_EQ(cudaLaunchHostFunc(stream_, record_mark, &second), cudaSuccess);
    EXPECT_EQ(cudaMemsetAsync(pinned.get(), 0, 64, stream_), cudaSuccess);
  });
  for (int i = 0; i < 3; ++i) ASSERT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess);
  EXPECT_TRUE(log.entries.empty());
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  const std::vector<std::string> once = {"first=0", "second=4"};
  EXPECT_EQ(log.entries, (std::vector<std::string>{once[0], once[1], once[0], once[1], once[0], once[1]}));
  EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
}

// "Each launch is ordered behind ... any previous launches of graphExec"; another instantiation of the
// same graph is not.
TEST_F(ReplayTest, LaunchesOfOneExecutableGraphIntoOtherStreamsAreOrdered) {
  cudaStream_t a = nullptr, b = nullptr;
  ASSERT_EQ(cudaStreamCreateWithFlags(&a, cudaStreamNonBlocking), cudaSuccess);
  ASSERT_EQ(cudaStreamCreateWithFlags(&b, cudaStreamNonBlocking), cudaSuccess);
  Buffer pinned(Place::Pinned);
  Log log;
  log.watched = static_cast<const unsigned char*>(pinned.get());
  Mark mark{&log, "run"};
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeGlobal), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(stream_, record_mark, &mark), cudaSuccess);
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  cudaGraphExec_t one = nullptr, another = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&one, graph, 0), cudaSuccess);
  ASSERT_EQ(cudaGraphInstantiate(&another, graph, 0), cudaSuccess);

  ASSERT_EQ(cudaMemsetAsync(pinned.get(), 1, 1, a), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(one, a), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(one, b), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(b), cudaSuccess);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"run=1", "run=1"})) << "b's launch waited for a's";

  ASSERT_EQ(cudaMemsetAsync(pinned.get(), 2, 1, a), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(another, a), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(one, b), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(b), cudaSuccess);
  EXPECT_EQ(log.entries.back(), "run=1") << "another instantiation runs unordered";
  EXPECT_EQ(cudaemu_pending_work(), 2u);
  ASSERT_EQ(cudaStreamSynchronize(a), cudaSuccess);
  EXPECT_EQ(log.entries.back(), "run=2");
  for (auto e : {one, another}) EXPECT_EQ(cudaGraphExecDestroy(e), cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
}

// Bounds are checked again by every replay: memory freed since the last launch is a device fault, and
// nothing after it runs. A side that was device or pinned memory stays so, whatever the copy kind (a
// freed pinned address may be unmapped: written as pageable memory it would crash the process).
TEST_F(ReplayTest, AReplayThatFindsItsMemoryGoneFaultsAndStops) {
  struct Case {
    const char* name;
    cudaMemcpyKind kind;
    Place dst, src;
    bool free_dst;  // else the source is freed
    const char* problem;
  };
  const Case cases[] = {
      {"D2H into freed pinned", cudaMemcpyDeviceToHost, Place::Pinned, Place::Device, true, "freed since"},
      {"H2D from freed pinned", cudaMemcpyHostToDevice, Place::Device, Place::Pinned, false, "freed since"},
      {"default into freed device", cudaMemcpyDefault, Place::Device, Place::Pinned, true, "freed since"},
      {"D2D from freed device", cudaMemcpyDeviceToDevice, Place::Device, Place::Device, false,
       "is not device memory"},
      {"H2H into freed pinned", cudaMemcpyHostToHost, Place::Pinned, Place::Pageable, true, "freed since"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cudaemu_reset();
    ASSERT_EQ(cudaStreamCreate(&stream_), cudaSuccess);
    auto dst = std::make_unique<Buffer>(c.dst);
    auto src = std::make_unique<Buffer>(c.src);
    Log log;
    Buffer watched(Place::Pinned);
    log.watched = static_cast<const unsigned char*>(watched.get());
    Mark after{&log, "after"};
    src->fill(3);
    cudaGraphExec_t exec = capture([&] {
      EXPECT_EQ(cudaMemcpyAsync(dst->get(), src->get(), 64, c.kind, stream_), cudaSuccess);
      EXPECT_EQ(cudaLaunchHostFunc(stream_, record_mark, &after), cudaSuccess);
    });
    ASSERT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess);
    ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
    EXPECT_EQ(dst->at(63), 3);
    (c.free_dst ? dst : src).reset();
    ASSERT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess) << "launching checks nothing of the nodes";
    EXPECT_EQ(cudaStreamSynchronize(stream_), cudaErrorIllegalAddress);
    EXPECT_EQ(cudaemu_violations(), 1u);
    EXPECT_NE(last_violation().find("during execution: copy"), std::string::npos) << last_violation();
    EXPECT_NE(last_violation().find(c.problem), std::string::npos) << last_violation();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"after=0"})) << "the second replay stopped at the fault";
    EXPECT_EQ(cudaGraphLaunch(exec, stream_), cudaErrorIllegalAddress);
  }
}

// A graph whose memory was freed between its capture and its instantiation is refused, as the real
// runtime refuses a memset of memory freed inside a Relaxed capture: an allocation taken and freed
// inside the capture, and a copy's pinned source freed after it.
TEST_F(ReplayTest, AGraphWhoseMemoryWasFreedSinceItsCaptureIsNotInstantiated) {
  struct Case {
    const char* name;
    bool copy;  // else a memset
    const char* problem;
  };
  const Case cases[] = {
      {"memset of device memory freed in the capture", false, "memset target"},
      {"copy from pinned memory freed after the capture", true, "copy source"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cudaemu_reset();
    ASSERT_EQ(cudaStreamCreate(&stream_), cudaSuccess);
    Buffer kept(Place::Device);
    void* gone = nullptr;
    if (c.copy) {
      ASSERT_EQ(cudaMallocHost(&gone, 64), cudaSuccess);
    }
    cudaGraph_t graph = nullptr;
    ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
    if (c.copy) {
      EXPECT_EQ(cudaMemcpyAsync(kept.get(), gone, 64, cudaMemcpyHostToDevice, stream_), cudaSuccess);
    } else {
      ASSERT_EQ(cudaMalloc(&gone, 64), cudaSuccess);
      EXPECT_EQ(cudaMemsetAsync(gone, 1, 64, stream_), cudaSuccess);
      EXPECT_EQ(cudaFree(gone), cudaSuccess);
    }
    ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
    if (c.copy) {
      EXPECT_EQ(cudaFreeHost(gone), cudaSuccess);
    }
    EXPECT_EQ(cudaemu_violations(), 0u) << "nothing refused before the instantiation";
    cudaGraphExec_t exec = nullptr;
    EXPECT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaErrorInvalidValue);
    EXPECT_EQ(exec, nullptr);
    EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
    EXPECT_EQ(cudaemu_violations(), 1u);
    EXPECT_EQ(last_violation().rfind("cudaGraphInstantiate: " + std::string(c.problem), 0), 0u)
        << last_violation();
    EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  }
}

}  // namespace
