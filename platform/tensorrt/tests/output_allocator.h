// An IOutputAllocator for the named-tensor tests (10 and later) that records what TensorRT asks of it.
#ifndef TRT_STANDIN_TESTS_OUTPUT_ALLOCATOR_H_
#define TRT_STANDIN_TESTS_OUTPUT_ALLOCATOR_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace trt_test {

// Hands out device buffers of the sizes asked (or null, or a misaligned address) and records every call
// in order.
class RecordingAllocator : public nvinfer1::IOutputAllocator {
 public:
  enum class Answer { kMemory, kNull, kMisaligned };
  explicit RecordingAllocator(Answer answer = Answer::kMemory) : answer_(answer) {}

  void* reallocateOutputAsync(const char* tensorName, void* currentMemory, uint64_t size, uint64_t alignment,
                              cudaStream_t stream) override {
    calls.push_back("reallocate " + std::string(tensorName) + " " + std::to_string(size) + " " +
                    std::to_string(alignment));
    current.push_back(currentMemory);
    streams.push_back(stream);
    if (answer_ == Answer::kNull) return nullptr;
    buffers.push_back(std::make_unique<DeviceBuffer>(size + 256));
    char* base = static_cast<char*>(buffers.back()->get());
    return answer_ == Answer::kMisaligned ? base + 4 : base;
  }
  void notifyShape(const char* tensorName, const nvinfer1::Dims& d) noexcept override {
    std::string text = "notify " + std::string(tensorName) + " [";
    for (int32_t i = 0; i < d.nbDims; ++i) text += (i ? ", " : "") + std::to_string(d.d[i]);
    calls.push_back(text + "]");
  }
  DeviceBuffer& last() { return *buffers.back(); }

  std::vector<std::string> calls;
  std::vector<void*> current;
  std::vector<cudaStream_t> streams;
  std::vector<std::unique_ptr<DeviceBuffer>> buffers;

 private:
  Answer answer_;
};

}  // namespace trt_test

#endif  // TRT_STANDIN_TESTS_OUTPUT_ALLOCATOR_H_
