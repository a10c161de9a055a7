// CUDA failures during an inference call. Those of the copies and of the synchronizations after the
// enqueue are reported and answered with -1; the synchronization after the input copies and every
// step of the graph capture end the process with the CUDA status.
#include <trt_standin.h>
#include <unistd.h>

#include <regex>

#include "engine_peer.h"
#include "inference_fixture.h"
#include "inference_trace.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

struct CudaFault {
  const char* name;
  const char* api;
  int nth;  // which call of api in one inference call fails
  cudaError_t code;
  const char* text;  // cudaGetErrorString(code)
  bool use_cuda_graph;
};

void PrintTo(const CudaFault& fault, std::ostream* os) { *os << fault.name; }

// "[inferlet][E] GPUassert: <text> <path of engine_infer.cpp> <line>"
std::string ReportPattern(const CudaFault& fault) {
  return std::string("\\[inferlet\\]\\[E\\] GPUassert: ") + fault.text + " [^ ]*engine_infer\\.cpp [0-9]+";
}

// ---- failures the call reports and survives ----

struct ReportedFault {
  CudaFault fault;  // nth counts only the library's own calls of the api in one inference call
  size_t copies;    // the library's cudaMemcpyAsync calls in the failing call, the failing one included
  uint64_t syncs;   // its cudaStreamSynchronize calls, the failing one included
};

void PrintTo(const ReportedFault& param, std::ostream* os) { *os << param.fault.name; }

const ReportedFault kReportedFaults[] = {
    {{"FirstInputCopy", "cudaMemcpyAsync", 1, cudaErrorInvalidValue, "invalid argument", false}, 1, 0},
    {{"SecondInputCopy", "cudaMemcpyAsync", 2, cudaErrorInvalidValue, "invalid argument", false}, 2, 0},
    {{"SyncAfterEnqueue", "cudaStreamSynchronize", 2, cudaErrorIllegalAddress,
      "an illegal memory access was encountered", false},
     2,
     2},
    {{"OutputCopy", "cudaMemcpyAsync", 3, cudaErrorInvalidValue, "invalid argument", false}, 3, 2},
    {{"FinalSync", "cudaStreamSynchronize", 3, cudaErrorIllegalAddress,
      "an illegal memory access was encountered", false},
     3,
     3},
    {{"InputCopyOnGraphPath", "cudaMemcpyAsync", 1, cudaErrorInvalidValue, "invalid argument", true}, 1, 1},
    {{"OutputCopyOnGraphPath", "cudaMemcpyAsync", 3, cudaErrorInvalidValue, "invalid argument", true}, 3, 3},
    {{"FinalSyncOnGraphPath", "cudaStreamSynchronize", 4, cudaErrorIllegalAddress,
      "an illegal memory access was encountered", true},
     3,
     4},
};

class ReportedCudaFaultTest : public InferenceTest, public ::testing::WithParamInterface<ReportedFault> {
 protected:
  // TensorRT's enqueue makes copies of its own, so the library's nth copy is found in the trace of a
  // call that succeeds: the result counts every call of the api, as fault injection does.
  static int InjectionIndex(const CudaFault& fault, const S_net_info& rec) {
    int position = 0;
    int own = 0;
    for (const cudaemu_trace_entry& entry : TraceOf(fault.api)) {
      ++position;
      const bool library_call = std::string(fault.api) != "cudaMemcpyAsync" || IsLibraryCopy(entry, rec);
      if (library_call && ++own == fault.nth) return position;
    }
    return 0;
  }
};

TEST_P(ReportedCudaFaultTest, AnswersMinusOneWithTheReportAndStaysUsable) {
  const ReportedFault& param = GetParam();
  Handle handle = Open("smoke", SmokeConfig(), param.fault.use_cuda_graph);
  ASSERT_TRUE(handle);
  const S_net_info& rec = trt_engine_core_peer::NetInfos(*handle)[0];
  const Tensor in0 = Pattern(10 * 340, 1);
  const Tensor in1 = Pattern(10 * 340, 2);
  cudaemu_trace_clear();
  ASSERT_EQ(Process(handle.get(), 0, {in0, in1}, 10).code, 0);
  const int nth = InjectionIndex(param.fault, rec);
  ASSERT_GT(nth, 0) << "the call makes no such " << param.fault.api;

  cudaemu_trace_clear();
  ASSERT_EQ(cudaemu_fail_call(param.fault.api, nth, param.fault.code), 0);
  const CallOutcome failed = Process(handle.get(), 0, {in1, in0}, 10);
  EXPECT_EQ(failed.code, -1);
  ASSERT_EQ(failed.lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(failed.lines[0], std::regex(ReportPattern(param.fault)))) << failed.lines[0];
  EXPECT_EQ(LibraryCopies(rec).size(), param.copies) << "copies after the failure";
  EXPECT_EQ(TraceOf("cudaStreamSynchronize").size(), param.syncs) << "synchronizations after the failure";

  const CallOutcome next = Process(handle.get(), 0, {in1, in0}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(next.lines.empty()) << next.lines.front();
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in1, in0, 10)));
}

INSTANTIATE_TEST_SUITE_P(Faults, ReportedCudaFaultTest, ::testing::ValuesIn(kReportedFaults),
                         [](const ::testing::TestParamInfo<ReportedFault>& info) {
                           return info.param.fault.name;
                         });

// ---- failures that end the process ----

const CudaFault kAbortingFaults[] = {
    {"SyncAfterInputCopies", "cudaStreamSynchronize", 1, cudaErrorIllegalAddress,
     "an illegal memory access was encountered", false},
    {"SyncAfterInputCopiesOnGraphPath", "cudaStreamSynchronize", 2, cudaErrorIllegalAddress,
     "an illegal memory access was encountered", true},
    {"BeginCapture", "cudaStreamBeginCapture", 1, cudaErrorStreamCaptureUnsupported,
     "operation not permitted when stream is capturing", true},
    {"EndCapture", "cudaStreamEndCapture", 1, cudaErrorStreamCaptureInvalidated,
     "operation failed due to a previous error during capture", true},
    {"SyncAfterCapture", "cudaStreamSynchronize", 1, cudaErrorIllegalAddress,
     "an illegal memory access was encountered", true},
    {"Instantiate", "cudaGraphInstantiate", 1, cudaErrorMemoryAllocation, "out of memory", true},
};

class AbortingCudaFaultTest : public InferenceTest, public ::testing::WithParamInterface<CudaFault> {
 protected:
  // Runs in the death-test child; standard output goes to standard error there, where the expected
  // report is looked for.
  void CallWithFault(const CudaFault& fault) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    Handle handle = Open("smoke", SmokeConfig(), fault.use_cuda_graph);
    if (!handle) return;
    cudaemu_fail_call(fault.api, fault.nth, fault.code);
    const Tensor in = Pattern(10 * 340, 3);
    const void* inputs[] = {in.data(), in.data()};
    void* outputs[1] = {};
    int lens[1] = {};
    kestrel_trt_process(handle.get(), 0, inputs, 2, 10, outputs, lens);
  }
};

TEST_P(AbortingCudaFaultTest, EndsTheProcessWithTheCudaStatus) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CudaFault& fault = GetParam();
  EXPECT_EXIT(CallWithFault(fault), ::testing::ExitedWithCode(static_cast<int>(fault.code) & 0xff),
              ReportPattern(fault));
}

INSTANTIATE_TEST_SUITE_P(Faults, AbortingCudaFaultTest, ::testing::ValuesIn(kAbortingFaults),
                         [](const ::testing::TestParamInfo<CudaFault>& info) { return info.param.name; });

}  // namespace
}  // namespace inferlet_test
