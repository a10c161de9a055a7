// Checks the status of CUDA runtime calls whose failure the library does not handle itself.
#ifndef INFERLET_CUDA_CHECK_H_
#define INFERLET_CUDA_CHECK_H_

#include <cuda_runtime_api.h>

#include <cstdlib>

#include "logging.h"

// Writes "GPUassert: <error text> <file> <line>" at kERROR for a failed status; with abort set, ends
// the process with the CUDA status as its exit status (exit handlers run, so the line is flushed).
inline void gpuAssert(cudaError code, const char* file, int line, bool abort = true) {
  if (code == cudaSuccess) return;
  logError() << "GPUassert: " << cudaGetErrorString(code) << " " << file << " " << line << "\n";
  if (abort) std::exit(code);
}

// Wraps one CUDA call so the report names the call site.
#define CUDA_CHECK(call) gpuAssert((call), __FILE__, __LINE__)

#endif  // INFERLET_CUDA_CHECK_H_
