// An engine of one sessions library, loaded on one device, as the extension's Engine: its description
// read through the interface, and the host's reference to it, released by close() or with the object.
#ifndef INFERLET_PYTHON_ENGINE_H_
#define INFERLET_PYTHON_ENGINE_H_

#include <nanobind/nanobind.h>

#include <cstdint>

#include "sessions_library.h"
#include "shared_handle.h"

namespace inferlet_python {

namespace nb = nanobind;

// (rank, dims...) of the interface as a Python tuple of its extents.
nb::tuple shapeTuple(const inferlet_shape& shape);

class Engine {
 public:
  // Deserializes bytes with library on device, the GIL released meanwhile. Throws StatusError.
  Engine(const SessionsLibrary& library, nb::bytes bytes, int device, bool allow_host_code);
  // An engine library already loaded on device; the object takes the host's reference.
  Engine(const SessionsLibrary& library, inferlet_engine* loaded, int device);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const SessionsLibrary& library() const { return mLibrary; }
  int device() const { return mDevice; }

  // [(name, is_input, dtype, format, on_host, item_size, shape)] in the engine's order.
  nb::list tensors();
  int32_t tensor_format(int32_t index, int32_t profile);
  int32_t profile_count();
  // point: INFERLET_PROFILE_MIN, _OPT or _MAX.
  nb::tuple profile_shape(int32_t profile, int32_t index, int32_t point);
  // A shape tensor's values at a profile's point (inferlet_engine_profile_tensor_values).
  nb::tuple profile_values(int32_t profile, int32_t index, int32_t point);
  // (engine bytes, bytes per execution context)
  nb::tuple device_memory();

  // Drops the host's reference (sessions keep the engine). Refused while another thread uses it.
  void close();
  bool closed() const { return mHandle.closed(); }
  SharedHandle<inferlet_engine>& handle() { return mHandle; }

 private:
  const SessionsLibrary& mLibrary;
  const int mDevice;
  SharedHandle<inferlet_engine> mHandle;
};

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_ENGINE_H_
