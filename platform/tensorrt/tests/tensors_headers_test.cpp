// The 10.x and 11.x stand-in headers have the shape of the real ones, so that code compiled against
// them compiles against the real headers too (header_probe_tensors.cpp checks what they refuse).
#include <type_traits>

#include "test_support.h"

namespace trt_test {
namespace {

using nvinfer1::Dims;
using nvinfer1::ICudaEngine;
using nvinfer1::IExecutionContext;
using nvinfer1::IRuntime;

constexpr long kVersion = NV_TENSORRT_MAJOR == 10 ? 101303 : 110100;
static_assert(NV_TENSORRT_VERSION == kVersion, "MAJOR * 10000 + MINOR * 100 + PATCH");
static_assert(std::is_same<decltype(NV_TENSORRT_VERSION), long>::value, "a long expression");

static_assert(std::is_same<Dims, nvinfer1::Dims64>::value, "Dims is Dims64");
static_assert(sizeof(Dims) == 72 && alignof(Dims) == 8, "64-bit extents");
static_assert(std::is_same<std::remove_all_extents<decltype(Dims::d)>::type, int64_t>::value, "int64_t d[8]");
static_assert(std::is_trivially_copyable<Dims>::value && std::is_aggregate<Dims>::value, "plain data");

static_assert(nvinfer1::EnumMax<nvinfer1::DataType>() == 12, "twelve data types");
static_assert(static_cast<int32_t>(nvinfer1::DataType::kINT64) == 8, "DataType values");
static_assert(static_cast<int32_t>(nvinfer1::DataType::kE8M0) == 11, "DataType values");
static_assert(static_cast<int32_t>(nvinfer1::TensorIOMode::kOUTPUT) == 2, "TensorIOMode values");
static_assert(nvinfer1::EnumMax<nvinfer1::TensorIOMode>() == 3, "TensorIOMode");
static_assert(static_cast<int32_t>(nvinfer1::OptProfileSelector::kMAX) == 2, "OptProfileSelector");
static_assert(static_cast<int32_t>(nvinfer1::ExecutionContextAllocationStrategy::kUSER_MANAGED) == 2,
              "ExecutionContextAllocationStrategy");

static_assert(noexcept(std::declval<nvinfer1::ILogger&>().log(Severity::kINFO, "")), "log is noexcept");
static_assert(noexcept(createInferRuntime_INTERNAL(nullptr, 0)), "the factory is noexcept");
static_assert(!noexcept(initLibNvInferPlugins(nullptr, nullptr)), "plugin registration is not noexcept");

// Released with delete through public virtual destructors; never copied.
static_assert(std::has_virtual_destructor<IRuntime>::value && std::is_destructible<IRuntime>::value,
              "delete");
static_assert(std::is_destructible<ICudaEngine>::value && std::is_destructible<IExecutionContext>::value,
              "delete");
static_assert(!std::is_copy_constructible<IExecutionContext>::value, "INoCopy");
static_assert(sizeof(IRuntime) == 16 && sizeof(ICudaEngine) == 16, "a facade: vptr and mImpl");

#if NV_TENSORRT_MAJOR >= 11
static_assert(std::is_abstract<IRuntime>::value && std::is_abstract<ICudaEngine>::value &&
                  std::is_abstract<IExecutionContext>::value,
              "11.x destructors are pure");
static_assert(std::is_same<nvinfer1::ILogger, nvinfer1::v_1_0::ILogger>::value, "ILogger is an alias");
static_assert(std::is_base_of<nvinfer1::IVersionedInterface, nvinfer1::ILogger>::value, "versioned");
#else
static_assert(!std::is_abstract<IRuntime>::value && !std::is_abstract<ICudaEngine>::value &&
                  !std::is_abstract<IExecutionContext>::value,
              "10.x classes are not abstract");
static_assert(!std::is_base_of<nvinfer1::IVersionedInterface, nvinfer1::ILogger>::value,
              "10.x ILogger has no base");
#endif

static_assert(std::is_same<decltype(&IRuntime::deserializeCudaEngine),
                           ICudaEngine* (IRuntime::*)(void const*, std::size_t) noexcept>::value,
              "deserializeCudaEngine");
static_assert(std::is_same<decltype(&ICudaEngine::getProfileShape),
                           Dims (ICudaEngine::*)(char const*, int32_t, nvinfer1::OptProfileSelector)
                               const noexcept>::value,
              "getProfileShape");
static_assert(std::is_same<decltype(&ICudaEngine::createExecutionContext),
                           IExecutionContext* (
                               ICudaEngine::*)(nvinfer1::ExecutionContextAllocationStrategy) noexcept>::value,
              "createExecutionContext");
static_assert(std::is_same<decltype(&IExecutionContext::setInputShape),
                           bool (IExecutionContext::*)(char const*, Dims const&) noexcept>::value,
              "setInputShape takes Dims const&");
static_assert(std::is_same<decltype(&IExecutionContext::setOptimizationProfileAsync),
                           bool (IExecutionContext::*)(int32_t, cudaStream_t) noexcept>::value,
              "setOptimizationProfileAsync");
static_assert(std::is_same<decltype(&IExecutionContext::enqueueV3),
                           bool (IExecutionContext::*)(cudaStream_t) noexcept>::value,
              "enqueueV3");
static_assert(std::is_same<decltype(&IExecutionContext::setTensorAddress),
                           bool (IExecutionContext::*)(char const*, void*) noexcept>::value,
              "setTensorAddress");
static_assert(std::is_same<decltype(&IExecutionContext::inferShapes),
                           int32_t (IExecutionContext::*)(int32_t, char const**) noexcept>::value,
              "inferShapes");

TEST(HeadersTest, TheLibraryIsTheVersionOfTheHeaders) {
  EXPECT_EQ(getInferLibVersion(), NV_TENSORRT_VERSION);
  RecordingLogger logger;
  TrtPtr<IRuntime> runtime(nvinfer1::createInferRuntime(logger));
  ASSERT_TRUE(runtime);
  EXPECT_EQ(runtime->getLogger(), &logger);
  EXPECT_EQ(logger.count(Severity::kERROR), 0);
  // The 8.x formula gives a number this runtime does not take for its own.
  EXPECT_EQ(createInferRuntime_INTERNAL(&logger, NV_TENSORRT_MAJOR * 1000 + 1), nullptr);
  EXPECT_EQ(logger.only_error(), "createInferRuntime: the application was built for TensorRT version " +
                                     std::to_string(NV_TENSORRT_MAJOR * 1000 + 1) +
                                     ", but this library is TensorRT " +
                                     (NV_TENSORRT_MAJOR == 10 ? "10.13.3" : "11.1.0"));
  // So does the other named-tensor major's.
  const int32_t other = NV_TENSORRT_MAJOR == 10 ? 110100 : 101303;
  logger.lines.clear();
  EXPECT_EQ(createInferRuntime_INTERNAL(&logger, other), nullptr);
  EXPECT_NE(logger.only_error().find("built for TensorRT version " + std::to_string(other) + ","),
            std::string::npos);
  EXPECT_EQ(trt_standin_count("live_runtimes"), 1);
#if NV_TENSORRT_MAJOR >= 11
  const nvinfer1::InterfaceInfo info = logger.getInterfaceInfo();
  EXPECT_STREQ(info.kind, "ILogger");
  EXPECT_EQ(info.major, 1);
  EXPECT_EQ(info.minor, 0);
  EXPECT_EQ(logger.getAPILanguage(), nvinfer1::APILanguage::kCPP);
#endif
}

}  // namespace
}  // namespace trt_test
