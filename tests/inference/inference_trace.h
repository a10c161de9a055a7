// The emulated device's call trace as the inference suite reads it: the library's own copies and
// synchronizations told apart from TensorRT's.
#ifndef INFERLET_TESTS_INFERENCE_INFERENCE_TRACE_H_
#define INFERLET_TESTS_INFERENCE_INFERENCE_TRACE_H_

#include <string>
#include <vector>

#include "emulator_support.h"
#include "engine_infer.h"

namespace inferlet_test {

// TensorRT copies between the bindings and its own staging memory on the same stream; the library's
// copies are the ones into a profile's device inputs and out of its device outputs.
bool IsLibraryCopy(const cudaemu_trace_entry& entry, const S_net_info& rec);
std::vector<cudaemu_trace_entry> LibraryCopies(const S_net_info& rec);

// The library's CUDA work since the trace was cleared, as "H2D", "D2H" (its own copies), "sync" and
// the capture calls' names, in call order.
std::vector<std::string> LibraryCallSequence(const S_net_info& rec);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_INFERENCE_INFERENCE_TRACE_H_
