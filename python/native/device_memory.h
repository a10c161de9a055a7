// Memory of a device through a sessions library (the extension links no CUDA): device or pinned memory
// the package allocates for the outputs it makes and for hosts without a GPU array library, copies, and
// what a pointer is. Each call runs with the GIL released, since freeing and copying wait for the device.
#ifndef INFERLET_PYTHON_DEVICE_MEMORY_H_
#define INFERLET_PYTHON_DEVICE_MEMORY_H_

#include <nanobind/nanobind.h>

#include <cstddef>
#include <cstdint>

#include "sessions_library.h"

namespace nb = nanobind;

namespace inferlet_python {

class DeviceMemory {
 public:
  // kind: INFERLET_MEMORY_DEVICE or INFERLET_MEMORY_PINNED. Throws StatusError.
  DeviceMemory(const SessionsLibrary& library, int device, int kind, size_t bytes);
  ~DeviceMemory();  // after the device's work that may still use it
  DeviceMemory(const DeviceMemory&) = delete;
  DeviceMemory& operator=(const DeviceMemory&) = delete;

  uintptr_t address() const { return reinterpret_cast<uintptr_t>(mData); }
  size_t bytes() const { return mBytes; }

 private:
  const SessionsLibrary& mLibrary;
  int mDevice;
  inferlet_memory mKind;
  size_t mBytes;
  void* mData = nullptr;
};

// Defines DeviceMemory, copy_memory(library, device, dst, src, bytes, stream) and
// describe_memory(library, address) -> (kind, device) in m.
void bindDeviceMemory(nb::module_& m);

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_DEVICE_MEMORY_H_
