#include "engine.h"

#include <vector>

namespace inferlet_python {
namespace {

inferlet_engine* load(const SessionsLibrary& library, nb::bytes bytes, int device, bool allow_host_code) {
  inferlet_engine* engine = nullptr;
  inferlet_status* status = nullptr;
  inferlet_engine_config config;
  inferlet_engine_config_init(&config);
  config.device = device;
  config.allow_host_code = allow_host_code ? 1 : 0;
  {
    // bytes is immutable and the caller's reference keeps it.
    nb::gil_scoped_release released;
    status = library.api().engine_load_with_config(bytes.c_str(), bytes.size(), &config, &engine);
  }
  check(library.api(), status);
  return engine;
}

}  // namespace

nb::tuple shapeTuple(const inferlet_shape& shape) {
  nb::list dims;
  for (int32_t k = 0; k < shape.rank && k < INFERLET_MAX_DIMS; ++k) dims.append(shape.dims[k]);
  return nb::tuple(dims);
}

Engine::Engine(const SessionsLibrary& library, nb::bytes bytes, int device, bool allow_host_code)
    : mLibrary(library), mDevice(device), mHandle(load(library, bytes, device, allow_host_code), "engine") {}

Engine::Engine(const SessionsLibrary& library, inferlet_engine* loaded, int device)
    : mLibrary(library), mDevice(device), mHandle(loaded, "engine") {}

Engine::~Engine() {
  if (inferlet_engine* engine = mHandle.take_at_end()) {
    // TensorRT may log while it releases, and the log callback takes the GIL.
    nb::gil_scoped_release released;
    mLibrary.api().engine_release(engine);
  }
}

void Engine::close() {
  if (inferlet_engine* engine = mHandle.take()) {
    nb::gil_scoped_release released;
    mLibrary.api().engine_release(engine);
  }
}

nb::list Engine::tensors() {
  SharedHandle<inferlet_engine>::Use engine(mHandle);
  const inferlet_api& api = mLibrary.api();
  int32_t count = 0;
  check(api, api.engine_tensor_count(engine.get(), &count));
  nb::list tensors;
  for (int32_t i = 0; i < count; ++i) {
    inferlet_tensor_info info{};
    check(api, api.engine_tensor_info(engine.get(), i, &info));
    tensors.append(nb::make_tuple(nb::str(info.name), info.is_input != 0, info.dtype, info.format,
                                  info.on_host != 0, info.item_size, shapeTuple(info.shape)));
  }
  return tensors;
}

int32_t Engine::tensor_format(int32_t index, int32_t profile) {
  SharedHandle<inferlet_engine>::Use engine(mHandle);
  int32_t format = 0;
  check(mLibrary.api(), mLibrary.api().engine_tensor_format(engine.get(), index, profile, &format));
  return format;
}

int32_t Engine::profile_count() {
  SharedHandle<inferlet_engine>::Use engine(mHandle);
  int32_t count = 0;
  check(mLibrary.api(), mLibrary.api().engine_profile_count(engine.get(), &count));
  return count;
}

nb::tuple Engine::profile_shape(int32_t profile, int32_t index, int32_t point) {
  SharedHandle<inferlet_engine>::Use engine(mHandle);
  inferlet_shape shape{};
  check(mLibrary.api(),
        mLibrary.api().engine_profile_shape(engine.get(), profile, index,
                                            static_cast<inferlet_profile_point>(point), &shape));
  return shapeTuple(shape);
}

nb::tuple Engine::profile_values(int32_t profile, int32_t index, int32_t point) {
  SharedHandle<inferlet_engine>::Use engine(mHandle);
  const inferlet_api& api = mLibrary.api();
  const auto at = static_cast<inferlet_profile_point>(point);
  size_t count = 0;
  // Asked with no room first: only the refusal that says how many there are writes count.
  inferlet_status* sizing =
      api.engine_profile_tensor_values(engine.get(), profile, index, at, nullptr, 0, &count);
  if (count == 0) check(api, sizing);
  api.status_release(sizing);
  std::vector<int64_t> values(count);
  check(api,
        api.engine_profile_tensor_values(engine.get(), profile, index, at, values.data(), count, &count));
  nb::list list;
  for (int64_t v : values) list.append(v);
  return nb::tuple(list);
}

nb::tuple Engine::device_memory() {
  SharedHandle<inferlet_engine>::Use engine(mHandle);
  size_t engine_bytes = 0, context_bytes = 0;
  check(mLibrary.api(), mLibrary.api().engine_device_memory(engine.get(), &engine_bytes, &context_bytes));
  return nb::make_tuple(engine_bytes, context_bytes);
}

}  // namespace inferlet_python
