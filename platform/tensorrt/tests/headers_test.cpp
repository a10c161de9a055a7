// The stand-in headers have the shape of the real ones for this major, so that code compiled
// against them compiles against the real headers too.
#include <type_traits>

#include "test_support.h"

namespace trt_test {
namespace {

template <typename L>
constexpr bool log_is_noexcept() {
  return noexcept(std::declval<L&>().log(nvinfer1::ILogger::Severity::kINFO, ""));
}

#if NV_TENSORRT_MAJOR >= 8
static_assert(NV_TENSORRT_VERSION == 8001, "version constant");
static_assert(sizeof(nvinfer1::Dims) == 36, "Dims is Dims32");
static_assert(std::is_same<nvinfer1::Dims, nvinfer1::Dims32>::value, "Dims is an alias");
static_assert(log_is_noexcept<nvinfer1::ILogger>(), "8.x log is noexcept");
static_assert(std::is_destructible<nvinfer1::ICudaEngine>::value, "8.x destructors are public");
static_assert(std::is_destructible<nvinfer1::IExecutionContext>::value, "8.x destructors are public");
static_assert(!std::is_copy_constructible<nvinfer1::IRuntime>::value, "INoCopy");
static_assert(noexcept(createInferRuntime_INTERNAL(nullptr, 0)), "8.x factory is noexcept");
using EnqueueV2 = bool (nvinfer1::IExecutionContext::*)(void* const*, cudaStream_t, cudaEvent_t*) noexcept;
#else
static_assert(NV_TENSORRT_VERSION == 7203, "version constant");
static_assert(sizeof(nvinfer1::Dims) == 68, "Dims carries the deprecated type array");
static_assert(!log_is_noexcept<nvinfer1::ILogger>(), "7.x log is not noexcept");
static_assert(!std::is_destructible<nvinfer1::ICudaEngine>::value, "7.x destructors are protected");
static_assert(!std::is_destructible<nvinfer1::IRuntime>::value, "7.x destructors are protected");
static_assert(!noexcept(createInferRuntime_INTERNAL(nullptr, 0)), "7.x factory is not noexcept");
using EnqueueV2 = bool (nvinfer1::IExecutionContext::*)(void**, cudaStream_t, cudaEvent_t*) noexcept;
#endif

static_assert(std::is_same<decltype(&nvinfer1::IExecutionContext::enqueueV2), EnqueueV2>::value, "enqueueV2");
static_assert(std::is_same<decltype(&nvinfer1::ICudaEngine::getProfileDimensions),
                           nvinfer1::Dims (nvinfer1::ICudaEngine::*)(
                               int32_t, int32_t, nvinfer1::OptProfileSelector) const noexcept>::value,
              "getProfileDimensions");
static_assert(std::is_same<decltype(&nvinfer1::ICudaEngine::getBindingName),
                           const char* (nvinfer1::ICudaEngine::*)(int32_t) const noexcept>::value,
              "getBindingName");
static_assert(std::is_same<std::underlying_type<nvinfer1::DataType>::type, int32_t>::value, "DataType");
static_assert(static_cast<int32_t>(nvinfer1::DataType::kBOOL) == 4, "DataType values");
static_assert(static_cast<int32_t>(nvinfer1::ILogger::Severity::kVERBOSE) == 4, "Severity values");
static_assert(nvinfer1::EnumMax<nvinfer1::DataType>() == 5, "EnumMax");
static_assert(std::has_virtual_destructor<nvinfer1::ICudaEngine>::value, "virtual destructor");
static_assert(std::is_same<cudaStream_t, CUstream_st*>::value, "cudaStream_t as CUDA declares it");

TEST(HeadersTest, TheLibraryMajorMatchesTheHeaders) {
  EXPECT_EQ(getInferLibVersion() / 1000, NV_TENSORRT_MAJOR);
  const nvinfer1::Dims d{};
  EXPECT_EQ(d.nbDims, 0);
}

}  // namespace
}  // namespace trt_test
