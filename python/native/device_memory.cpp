#include "device_memory.h"

#include "status_error.h"

namespace inferlet_python {
namespace {

void copyMemory(const SessionsLibrary& library, int device, uintptr_t dst, uintptr_t src, size_t bytes,
                uintptr_t stream) {
  inferlet_status* status = nullptr;
  {
    nb::gil_scoped_release released;
    status =
        library.api().memory_copy(device, reinterpret_cast<void*>(dst), reinterpret_cast<const void*>(src),
                                  bytes, reinterpret_cast<void*>(stream));
  }
  check(library.api(), status);
}

nb::tuple describeMemory(const SessionsLibrary& library, uintptr_t address) {
  inferlet_memory kind = INFERLET_MEMORY_HOST;
  int device = -1;
  check(library.api(), library.api().memory_describe(reinterpret_cast<const void*>(address), &kind, &device));
  return nb::make_tuple(static_cast<int>(kind), device);
}

}  // namespace

DeviceMemory::DeviceMemory(const SessionsLibrary& library, int device, int kind, size_t bytes)
    : mLibrary(library), mDevice(device), mKind(static_cast<inferlet_memory>(kind)), mBytes(bytes) {
  inferlet_status* status = nullptr;
  {
    nb::gil_scoped_release released;
    status = mLibrary.api().memory_allocate(mDevice, mKind, mBytes, &mData);
  }
  check(mLibrary.api(), status);
}

DeviceMemory::~DeviceMemory() {
  nb::gil_scoped_release released;
  // A failure here concerns memory that is gone either way.
  mLibrary.api().status_release(mLibrary.api().memory_free(mDevice, mKind, mData));
}

void bindDeviceMemory(nb::module_& m) {
  nb::class_<DeviceMemory>(m, "DeviceMemory")
      .def(nb::init<const SessionsLibrary&, int, int, size_t>(), nb::arg("library"), nb::arg("device"),
           nb::arg("kind"), nb::arg("bytes"))
      .def_prop_ro("address", &DeviceMemory::address)
      .def_prop_ro("bytes", &DeviceMemory::bytes);
  m.def("copy_memory", &copyMemory, nb::arg("library"), nb::arg("device"), nb::arg("dst"), nb::arg("src"),
        nb::arg("bytes"), nb::arg("stream"),
        "Copies bytes from src to dst (any memory kinds) on stream of device and waits for it.");
  m.def("describe_memory", &describeMemory, nb::arg("library"), nb::arg("address"),
        "(kind, device) of the memory at address: INFERLET_MEMORY_* and its device, -1 for host memory.");
}

}  // namespace inferlet_python
