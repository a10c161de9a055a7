// Test control of the stand-in TensorRT runtime (every libnvinfer.so.7, .8, .10 and .11 exports it).
//
// Lets a test see what the runtime was asked to do and make chosen calls fail. All state is
// process-wide and belongs to the libnvinfer that the caller is linked against.
#ifndef TRT_STANDIN_H_
#define TRT_STANDIN_H_

#if defined(TENSORRT_BUILD_LIB)
#define TRT_STANDIN_API __attribute__((visibility("default")))
#else
#define TRT_STANDIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Clears the call counters, pending failures and recorded bindings and dimensions, and re-reads
// TRT_STANDIN_STRICT and TRT_STANDIN_ENQUEUE_SCRATCH. The live_* counts describe objects that still exist and
// are kept. What released objects left for work still queued (see "releases_with_queued_work") no longer
// holds device memory: the emulated device is reset beside the stand-in, and frees it.
TRT_STANDIN_API void trt_standin_reset(void);

// Strict mode (also TRT_STANDIN_STRICT=1 in the environment, read at load and by every reset): answers
// that the documentation allows but a caller may not rely on. From 10.x allInputDimensionsSpecified
// answers false (its documentation says it does not work with setInputShape; inferShapes keeps its
// answers). trt_standin_strict() tells whether it is in force.
TRT_STANDIN_API void trt_standin_set_strict(int strict);
TRT_STANDIN_API int trt_standin_strict(void);

// The enqueue scratch option (also TRT_STANDIN_ENQUEUE_SCRATCH=1 in the environment, read at load and
// by every reset; off by default): every enqueue takes 256 bytes of temporary device memory with
// cudaMalloc, clears it with cudaMemsetAsync on the enqueue stream and frees it with cudaFree before
// it returns. Inside a stream capture in Global or ThreadLocal mode the cudaMalloc is refused (the
// enqueue fails, the capture is invalidated); in Relaxed mode the graph records the memset of memory
// freed by then, and instantiating it fails (the emulated device counts a violation).
TRT_STANDIN_API void trt_standin_set_enqueue_scratch(int on);
TRT_STANDIN_API int trt_standin_enqueue_scratch(void);

// Makes the nth call of op from now fail (1 = the next one). op is one of "createInferRuntime"
// (null after a kERROR line), "deserializeCudaEngine" (null), "createExecutionContext" (null),
// "allInputDimensionsSpecified" (false); up to 8.x "enqueueV2" (false after a kERROR line),
// "setBindingDimensions" (false after a kERROR line, the dimensions kept as they were) or
// "getBindingDimensions" (the context's: nbDims -1, TensorRT's invalid Dims); from 10.x "enqueueV3",
// "setInputShape", "setTensorAddress", "setInputTensorAddress", "setOutputTensorAddress",
// "setOptimizationProfileAsync" (each false after a kERROR line, nothing changed), "inferShapes" (-1
// after a kERROR line) or "getTensorShape" (the context's: nbDims -1). Several failures may be
// pending at once. The environment variable TRT_STANDIN_FAIL=op:n[,op:n...] does the same at load.
TRT_STANDIN_API void trt_standin_fail(const char* op, int nth);

// Counters since load or the last reset: "network_runs" (host computations of a network that
// actually ran), "initLibNvInferPlugins", "createInferRuntime", "deserializeCudaEngine",
// "createExecutionContext", "allInputDimensionsSpecified"; up to 8.x "enqueueV2",
// "setOptimizationProfile", "setBindingDimensions", "getBindingDimensions" (the context's); from
// 10.x "enqueueV3", "setInputShape", "setTensorAddress" (and its input/output variants),
// "setOptimizationProfileAsync", "setDeviceMemoryV2", "getTensorShape" (the context's), "inferShapes",
// "unsynchronized_profile_switches" (networks that ran before the profile switch they were enqueued
// for) and "runtimes_released_before_engines"; on every major "releases_with_queued_work" (contexts and
// engines released while host functions their enqueues or profile switches queued outside a capture
// had not run) and, in strict mode, "stale_graph_replays" (replays of a graph captured for other input
// shapes or another profile than the context's last enqueue was made for: their outputs are all 0xFF
// bytes); refused calls count too. And the live object counts
// "live_runtimes", "live_engines", "live_contexts". Unknown names count 0.
TRT_STANDIN_API long trt_standin_count(const char* what);

// Copies up to capacity entries of the bindings of the most recent successful enqueue into out;
// returns the number of entries recorded (0 if none). Up to 8.x the array given to enqueueV2 (all
// getNbBindings() entries); from 10.x the same numbering, K profiles times N I/O tensors (binding
// p * N + i is I/O tensor i under profile p), the selected profile's block holding the addresses
// enqueueV3 used and every other entry null.
TRT_STANDIN_API int trt_standin_last_bindings(void** out, int capacity);

// The dimensions most recently given to setBindingDimensions (up to 8.x) or setInputShape (from
// 10.x, at binding p * N + i for input i under the selected profile p) for bindingIndex, refused or
// not. Writes *nbDims and up to 8 extents into d8; returns 0, or -1 if that binding was never given any.
TRT_STANDIN_API int trt_standin_last_dims(int bindingIndex, int* nbDims, int* d8);

#ifdef __cplusplus
}
#endif

#endif  // TRT_STANDIN_H_
