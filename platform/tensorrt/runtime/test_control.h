// Bookkeeping behind trt_standin.h: call counters, injected failures and recorded arguments.
#ifndef TRT_STANDIN_RUNTIME_TEST_CONTROL_H_
#define TRT_STANDIN_RUNTIME_TEST_CONTROL_H_

#include <NvInferRuntimeCommon.h>

#include <cstdint>

// libnvinfer_plugin counts its calls in libnvinfer's counters through this.
extern "C" TENSORRTAPI void trt_standin_internal_count(const char* what);

namespace trt_standin {
namespace control {

// Adds delta to a counter of trt_standin_count.
void count(const char* what, long delta = 1);

// Counts a call of op and tells whether an injected failure is due for it.
bool call_fails(const char* op);

// Strict mode (TRT_STANDIN_STRICT=1, trt_standin_set_strict): answers the documentation allows but a
// caller must not rely on.
bool strict();

void record_bindings(void* const* bindings, int count);
void record_dims(int32_t binding, const nvinfer1::Dims& dims);

}  // namespace control
}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_TEST_CONTROL_H_
