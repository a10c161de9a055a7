// Stand-in TensorRT 10.13 / 11.1: version macros, Dims64, DataType, TensorIOMode and the
// versioned-interface base. Shared by include/trt10 and include/trt11, whose headers define the
// version numbers before they bring this one in.
#ifndef TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_BASE_H_
#define TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_BASE_H_

#if !defined(NV_INFER_INTERNAL_INCLUDE)
static_assert(false, "NvInferRuntimeBase.h comes in through NvInferRuntime.h, not on its own");
#endif

#ifndef NV_TENSORRT_MAJOR
#error "include the headers of include/trt10 or include/trt11, not include/trt10plus"
#endif

#include <cuda_runtime_api.h>

#include <cstddef>
#include <cstdint>

// A plain expression since 10.x, so usable in "#if"; the major weighs 10000 (8.x: 1000).
#define NV_TENSORRT_VERSION_INT(major, minor, patch) ((major)*10000L + (minor)*100L + (patch)*1L)
#define NV_TENSORRT_VERSION NV_TENSORRT_VERSION_INT(NV_TENSORRT_MAJOR, NV_TENSORRT_MINOR, NV_TENSORRT_PATCH)

#if __cplusplus >= 201402L
#define TRT_DEPRECATED [[deprecated]]
#define TRT_DEPRECATED_BECAUSE(REASON) [[deprecated(REASON)]]
#define TRT_DEPRECATED_ENUM TRT_DEPRECATED
#else
#define TRT_DEPRECATED __attribute__((deprecated))
#define TRT_DEPRECATED_BECAUSE(REASON) __attribute__((deprecated(REASON)))
#define TRT_DEPRECATED_ENUM
#endif

#if __cplusplus >= 201703L
#define TRT_NODISCARD [[nodiscard]]
#else
#define TRT_NODISCARD
#endif

#if defined(TENSORRT_BUILD_LIB)
#define TENSORRTAPI __attribute__((visibility("default")))
#else
#define TENSORRTAPI
#endif

#define TRTNOEXCEPT

namespace nvinfer1 {

using char_t = char;
using AsciiChar = char_t;

namespace impl {
template <typename T>
struct EnumMaxImpl;
}  // namespace impl

template <typename T>
constexpr inline int32_t EnumMax() noexcept {
  return impl::EnumMaxImpl<T>::kVALUE;
}

enum class DataType : int32_t {
  kFLOAT = 0,
  kHALF = 1,
  kINT8 = 2,
  kINT32 = 3,
  kBOOL = 4,
  kUINT8 = 5,
  kFP8 = 6,
  kBF16 = 7,
  kINT64 = 8,
  kINT4 = 9,
  kFP4 = 10,
  kE8M0 = 11
};

namespace impl {
template <>
struct EnumMaxImpl<DataType> {
  static constexpr int32_t kVALUE = 12;
};
}  // namespace impl

// "Invalid" is nbDims -1 with every extent 0; "unknown rank" is nbDims -1 with every extent -1.
class Dims64 {
 public:
  static constexpr int32_t MAX_DIMS{8};
  int32_t nbDims;
  int64_t d[MAX_DIMS];
};

using Dims = Dims64;

using InterfaceKind = char const*;

class InterfaceInfo {
 public:
  InterfaceKind kind;
  int32_t major;
  int32_t minor;
};

enum class APILanguage : int32_t { kCPP = 0, kPYTHON = 1 };

namespace impl {
template <>
struct EnumMaxImpl<APILanguage> {
  static constexpr int32_t kVALUE = 2;
};
}  // namespace impl

class IVersionedInterface {
 public:
  virtual APILanguage getAPILanguage() const noexcept { return APILanguage::kCPP; }
  virtual InterfaceInfo getInterfaceInfo() const noexcept = 0;
  virtual ~IVersionedInterface() noexcept = default;

 protected:
  IVersionedInterface() = default;
  IVersionedInterface(IVersionedInterface const&) = default;
  IVersionedInterface(IVersionedInterface&&) = default;
  IVersionedInterface& operator=(IVersionedInterface const&) & = default;
  IVersionedInterface& operator=(IVersionedInterface&&) & = default;
};

enum class TensorIOMode : int32_t { kNONE = 0, kINPUT = 1, kOUTPUT = 2 };

namespace impl {
template <>
struct EnumMaxImpl<TensorIOMode> {
  static constexpr int32_t kVALUE = 3;
};
}  // namespace impl

#if NV_TENSORRT_MAJOR >= 11
// 11.x versions the logger interface; nvinfer1::ILogger is an alias, not a class of its own.
namespace v_1_0 {
class ILogger;
}  // namespace v_1_0
using ILogger = v_1_0::ILogger;
#else
class ILogger;
#endif

}  // namespace nvinfer1

extern "C" TENSORRTAPI int32_t getInferLibVersion() noexcept;

#endif  // TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_BASE_H_
