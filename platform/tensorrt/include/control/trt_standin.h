// Test control of the stand-in TensorRT runtime (libnvinfer.so.7 and libnvinfer.so.8 both export it).
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

// Clears the call counters, pending failures and recorded bindings and dimensions. The live_*
// counts describe objects that still exist and are kept.
TRT_STANDIN_API void trt_standin_reset(void);

// Makes the nth call of op from now fail (1 = the next one). op is one of "createInferRuntime"
// (null after a kERROR line), "deserializeCudaEngine" (null), "createExecutionContext" (null),
// "enqueueV2" (false after a kERROR line), "setBindingDimensions" (false after a kERROR line, the
// dimensions kept as they were), "allInputDimensionsSpecified" (false) or "getBindingDimensions" (the
// context's: nbDims -1, TensorRT's invalid Dims). Several failures may be pending at once. The
// environment variable TRT_STANDIN_FAIL=op:n[,op:n...] does the same at load.
TRT_STANDIN_API void trt_standin_fail(const char* op, int nth);

// Counters since load or the last reset: "network_runs" (host computations of a network that
// actually ran), "enqueueV2", "initLibNvInferPlugins", "createInferRuntime", "deserializeCudaEngine",
// "createExecutionContext", "setOptimizationProfile", "setBindingDimensions",
// "allInputDimensionsSpecified", "getBindingDimensions" (the context's); and the live object
// counts "live_runtimes", "live_engines", "live_contexts". Unknown names count 0.
TRT_STANDIN_API long trt_standin_count(const char* what);

// Copies up to capacity entries of the bindings array given to the most recent successful enqueueV2
// (all getNbBindings() entries) into out; returns the number of entries recorded (0 if none).
TRT_STANDIN_API int trt_standin_last_bindings(void** out, int capacity);

// The dimensions most recently given to setBindingDimensions for bindingIndex, refused or not.
// Writes *nbDims and up to 8 extents into d8; returns 0, or -1 if that binding was never given any.
TRT_STANDIN_API int trt_standin_last_dims(int bindingIndex, int* nbDims, int* d8);

#ifdef __cplusplus
}
#endif

#endif  // TRT_STANDIN_H_
