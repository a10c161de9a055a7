#include "fuzz_sessions_support.h"

#include <cuda_runtime_api.h>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "fuzz_support.h"

namespace inferlet_fuzz {

Answer Take(inferlet_status* status, const char* what) {
  Answer answer;
  answer.code = inferlet_status_code(status);
  answer.message = inferlet_status_message(status);
  inferlet_status_release(status);
  if (status == nullptr) return answer;
  if (answer.code <= INFERLET_OK || answer.code > INFERLET_INTERNAL_ERROR) {
    Finding(std::string(what) + " answered a status with code " + std::to_string(answer.code));
  }
  if (answer.message.empty())
    Finding(std::string(what) + " answered " + inferlet_code_name(answer.code) + " without a message");
  return answer;
}

Answer Expect(inferlet_status* status, inferlet_code expected, const char* what) {
  Answer answer = Take(status, what);
  if (answer.code != expected) {
    Finding(std::string(what) + " answered " + inferlet_code_name(answer.code) + " (" + answer.message +
            "), not " + inferlet_code_name(expected));
  }
  return answer;
}

namespace {

void CheckLine(void*, inferlet_log_level level, const char* message) {
  if (level < INFERLET_LOG_ERROR || level > INFERLET_LOG_VERBOSE || message == nullptr) {
    Finding("the log callback was called with level " + std::to_string(level) +
            (message ? "" : " and no message"));
  }
}

}  // namespace

void InstallCheckingLog() { inferlet_set_log(CheckLine, nullptr, INFERLET_LOG_INFO); }

inferlet_engine* UntouchedEngine() { return reinterpret_cast<inferlet_engine*>(uintptr_t{0x1000}); }
inferlet_session* UntouchedSession() { return reinterpret_cast<inferlet_session*>(uintptr_t{0x2000}); }

int64_t ShapeBytes(const inferlet_shape& shape, int bits) {
  constexpr int64_t kUnbounded = std::numeric_limits<int64_t>::max();
  if (shape.rank < 0 || shape.rank > INFERLET_MAX_DIMS || bits <= 0) return -1;
  int64_t elements = 1;
  for (int k = 0; k < shape.rank; ++k) {
    if (shape.dims[k] < 0) return -1;
    if (shape.dims[k] != 0 && elements > kUnbounded / 64 / shape.dims[k]) return kUnbounded;
    elements *= shape.dims[k];
  }
  return (elements * bits + 7) / 8;
}

bool SameShape(const inferlet_shape& a, const inferlet_shape& b) {
  if (a.rank != b.rank) return false;
  for (int k = 0; k < a.rank && k < INFERLET_MAX_DIMS; ++k) {
    if (a.dims[k] != b.dims[k]) return false;
  }
  return true;
}

CallBuffer::CallBuffer(inferlet_memory memory, size_t bytes) : memory_(memory), bytes_(bytes) {
  const size_t taken = bytes == 0 ? 1 : bytes;
  cudaError_t code = cudaSuccess;
  switch (memory) {
    case INFERLET_MEMORY_PINNED:
      code = cudaMallocHost(&data_, taken);
      break;
    case INFERLET_MEMORY_DEVICE:
      code = cudaMalloc(&data_, taken);
      break;
    default:
      data_ = std::malloc(taken);
      break;
  }
  if (code != cudaSuccess || data_ == nullptr) Finding("cannot allocate a call buffer");
}

CallBuffer::~CallBuffer() {
  switch (memory_) {
    case INFERLET_MEMORY_PINNED:
      (void)cudaFreeHost(data_);
      break;
    case INFERLET_MEMORY_DEVICE:
      (void)cudaFree(data_);
      break;
    default:
      std::free(data_);
      break;
  }
}

void CallBuffer::Write(const std::vector<uint8_t>& contents) {
  if (contents.size() != bytes_) Finding("a call buffer written with the wrong size");
  if (bytes_ == 0) return;
  if (memory_ == INFERLET_MEMORY_DEVICE) {
    if (cudaMemcpy(data_, contents.data(), bytes_, cudaMemcpyHostToDevice) != cudaSuccess) {
      Finding("cannot write a device buffer");
    }
  } else {
    std::memcpy(data_, contents.data(), bytes_);
  }
}

std::vector<uint8_t> CallBuffer::Read() const {
  std::vector<uint8_t> contents(bytes_);
  if (bytes_ == 0) return contents;
  if (memory_ == INFERLET_MEMORY_DEVICE) {
    if (cudaMemcpy(contents.data(), data_, bytes_, cudaMemcpyDeviceToHost) != cudaSuccess) {
      Finding("cannot read a device buffer");
    }
  } else {
    std::memcpy(contents.data(), data_, bytes_);
  }
  return contents;
}

}  // namespace inferlet_fuzz
