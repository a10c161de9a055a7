// What the library's tests read through TensorRT that differs between its binding-index generation
// (7, 8) and its named-tensor generation (10, 11): the names under which the stand-in counts and fails
// the calls the library makes, the lines it writes about them, what it records of an enqueue, and
// whether a handle holds a runtime. The only place of the tests that knows the difference;
// INFERLET_TRT_MAJOR is the major the test executable is built for.
#ifndef INFERLET_TESTS_SUPPORT_TRT_GENERATION_H_
#define INFERLET_TESTS_SUPPORT_TRT_GENERATION_H_

#include <string>
#include <vector>

namespace inferlet_test {

// TensorRT 10 and 11: tensors by name, a profile switch that can be refused (7 and 8 take it without
// a result), device addresses handed over per tensor, and inferShapes beside allInputDimensionsSpecified.
inline constexpr bool kNamedTensors = INFERLET_TRT_MAJOR >= 10;

// Another major of the same generation (0 when the build serves none): its engines are refused as
// another TensorRT's.
inline constexpr int kOtherMajor = INFERLET_TRT_OTHER_MAJOR;

#if INFERLET_TRT_MAJOR >= 10
inline constexpr const char* kEnqueueCall = "enqueueV3";
inline constexpr const char* kSetDimensionsCall = "setInputShape";
inline constexpr const char* kSelectProfileCall = "setOptimizationProfileAsync";
inline constexpr const char* kResolvedDimensionsCall = "getTensorShape";  // the context's
// The one call that tells whether every input has its dimensions, and the line TensorRT writes when
// it fails on purpose (allInputDimensionsSpecified does not follow setInputShape there).
inline constexpr const char* kCompletenessCall = "inferShapes";
inline constexpr const char* kInjectedCompletenessLine = "inferShapes: injected failure";
// Releasing a runtime before its engines is undefined from TensorRT 10 on: a handle keeps it.
inline constexpr bool kHandleKeepsRuntime = true;
#else
inline constexpr const char* kEnqueueCall = "enqueueV2";
inline constexpr const char* kSetDimensionsCall = "setBindingDimensions";
inline constexpr const char* kSelectProfileCall = "setOptimizationProfile";
inline constexpr const char* kResolvedDimensionsCall = "getBindingDimensions";  // the context's
inline constexpr const char* kCompletenessCall = "allInputDimensionsSpecified";
inline constexpr const char* kInjectedCompletenessLine = nullptr;  // it answers false, silently
inline constexpr bool kHandleKeepsRuntime = false;
#endif

// TensorRT's line (after the logger's prefix) for input dimensions, such as "[12, 340]", outside the
// range min..max of the selected profile. The input is binding `binding`, tensor `name`.
inline std::string OutsideProfileLine(int binding, const std::string& name, int profile,
                                      const std::string& dims, const std::string& min,
                                      const std::string& max) {
#if INFERLET_TRT_MAJOR >= 10
  (void)binding;
  return "setInputShape: tensor '" + name + "': " + dims + " is outside the range of optimization profile " +
         std::to_string(profile) + ": " + min + " to " + max;
#else
  (void)name;
  (void)profile;
  return "setBindingDimensions: binding " + std::to_string(binding) + ": " + dims +
         " is outside the optimization profile's range " + min + " to " + max;
#endif
}

// TensorRT's line for a dimension call the stand-in was told to fail.
inline std::string InjectedDimensionsFailureLine(int binding, const std::string& name) {
#if INFERLET_TRT_MAJOR >= 10
  (void)binding;
  return "setInputShape: tensor '" + name + "': injected failure";
#else
  (void)name;
  return "setBindingDimensions: binding " + std::to_string(binding) + ": injected failure";
#endif
}

// What the stand-in records of an enqueue, in TensorRT 8's binding numbering, when the library's
// binding array is `bindings` and the call ran `profile` (of per_profile bindings each): 7 and 8 get
// the whole array; 10 and 11 get one address per tensor, which fills the profile's block only.
inline std::vector<void*> EnqueuedView(std::vector<void*> bindings, int profile, int per_profile) {
#if INFERLET_TRT_MAJOR >= 10
  for (size_t b = 0; b < bindings.size(); ++b) {
    if (static_cast<int>(b) / per_profile != profile) bindings[b] = nullptr;
  }
#else
  (void)profile;
  (void)per_profile;
#endif
  return bindings;
}

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_SUPPORT_TRT_GENERATION_H_
