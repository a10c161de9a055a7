// What the library's tests read through TensorRT that differs between its binding-index generation
// (7, 8) and its named-tensor generation (10, 11): the names under which the stand-in counts and fails
// the calls the library makes, and whether a handle holds a runtime. The only place of the tests that
// knows the difference; INFERLET_TRT_MAJOR is the major the test executable is built for.
#ifndef INFERLET_TESTS_SUPPORT_TRT_GENERATION_H_
#define INFERLET_TESTS_SUPPORT_TRT_GENERATION_H_

namespace inferlet_test {

#if INFERLET_TRT_MAJOR >= 10
inline constexpr const char* kEnqueueCall = "enqueueV3";
inline constexpr const char* kSetDimensionsCall = "setInputShape";
inline constexpr const char* kSelectProfileCall = "setOptimizationProfileAsync";
inline constexpr const char* kResolvedDimensionsCall = "getTensorShape";  // the context's
// Releasing a runtime before its engines is undefined from TensorRT 10 on: a handle keeps it.
inline constexpr bool kHandleKeepsRuntime = true;
inline constexpr int kOtherMajor = INFERLET_TRT_MAJOR == 10 ? 11 : 10;
#else
inline constexpr const char* kEnqueueCall = "enqueueV2";
inline constexpr const char* kSetDimensionsCall = "setBindingDimensions";
inline constexpr const char* kSelectProfileCall = "setOptimizationProfile";
inline constexpr const char* kResolvedDimensionsCall = "getBindingDimensions";  // the context's
inline constexpr bool kHandleKeepsRuntime = false;
inline constexpr int kOtherMajor = INFERLET_TRT_MAJOR == 8 ? 7 : 8;
#endif

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_SUPPORT_TRT_GENERATION_H_
