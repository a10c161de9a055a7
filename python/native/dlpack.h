// DLPack, the exchange format of tensors between array libraries: the structs of its C ABI (version 1.x,
// and the unversioned form before it), and the extension's two ends of the exchange. Importing consumes
// a capsule a producer's __dlpack__ answered; exporting wraps memory the package holds in a capsule that
// keeps its owner alive until the consumer's deleter runs.
#ifndef INFERLET_PYTHON_DLPACK_H_
#define INFERLET_PYTHON_DLPACK_H_

#include <nanobind/nanobind.h>

#include <cstdint>

namespace nb = nanobind;

namespace inferlet_python {

namespace dlpack {

struct Device {
  int32_t device_type;  // 1 CPU, 2 CUDA, 3 CUDA host (pinned), 13 CUDA managed
  int32_t device_id;
};

struct DataType {
  uint8_t code;  // 0 int, 1 uint, 2 float, 4 bfloat, 5 complex, 6 bool
  uint8_t bits;
  uint16_t lanes;
};

struct Tensor {
  void* data;
  Device device;
  int32_t ndim;
  DataType dtype;
  int64_t* shape;
  int64_t* strides;  // in elements; null: C-contiguous
  uint64_t byte_offset;
};

struct ManagedTensor {
  Tensor dl_tensor;
  void* manager_ctx;
  void (*deleter)(ManagedTensor* self);
};

struct Version {
  uint32_t major;
  uint32_t minor;
};

struct ManagedTensorVersioned {
  Version version;
  void* manager_ctx;
  void (*deleter)(ManagedTensorVersioned* self);
  uint64_t flags;
  Tensor dl_tensor;
};

constexpr uint64_t kFlagReadOnly = 1u << 0;
constexpr uint32_t kMajorVersion = 1;

}  // namespace dlpack

// Defines in m:
// - import_dlpack(capsule): the consumed capsule's tensor as the package checks it: (owner, address (with
//   the byte offset), shape, strides in elements or None, dtype code, bits, read_only); the device is
//   the producer's __dlpack_device__. The owner calls the producer's deleter when it goes; the memory is the
//   producer's until then. BufferError for a capsule that is not an unconsumed DLPack tensor, or of a major
//   version or vector elements (lanes) not read.
// - export_dlpack(owner, address, shape, code, bits, device_type, device_id, versioned): a capsule of
//   C-contiguous memory for a consumer, holding owner until its deleter runs: "dltensor_versioned" when
//   the consumer asked for version 1, the older form otherwise.
void bindDlpack(nb::module_& m);

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_DLPACK_H_
