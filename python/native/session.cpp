#include "session.h"

#include <nanobind/stl/string.h>

#include <string>
#include <vector>

namespace inferlet_python {
namespace {

inferlet_shape toShape(nb::handle dims) {
  inferlet_shape shape{};
  const size_t rank = nb::len(dims);
  // A rank past the interface's is handed on as such, for the library to refuse.
  shape.rank = static_cast<int32_t>(rank);
  for (size_t k = 0; k < rank && k < INFERLET_MAX_DIMS; ++k) shape.dims[k] = nb::cast<int64_t>(dims[k]);
  return shape;
}

// The tensors of one call, with the names they point at.
class CallTensors {
 public:
  CallTensors(nb::list inputs, nb::list outputs) {
    mNames.reserve(nb::len(inputs) + nb::len(outputs));  // stable c_str()s
    addInputs(inputs);
    for (nb::handle item : outputs) mOutputs.push_back(tensor(nb::cast<nb::tuple>(item)));
  }

  // Whole inputs (a shape tensor's values are read) and the outputs' names alone, for resolve.
  static CallTensors resolving(nb::list inputs, nb::list output_names) {
    CallTensors call;
    call.mNames.reserve(nb::len(inputs) + nb::len(output_names));  // stable c_str()s
    call.addInputs(inputs);
    for (nb::handle name : output_names) call.mOutputs.push_back(call.named(name));
    return call;
  }

  const inferlet_tensor* inputs() const { return mInputs.data(); }
  size_t input_count() const { return mInputs.size(); }
  inferlet_tensor* outputs() { return mOutputs.data(); }
  size_t output_count() const { return mOutputs.size(); }

  nb::list output_shapes() const {
    nb::list shapes;
    for (const inferlet_tensor& output : mOutputs) shapes.append(shapeTuple(output.shape));
    return shapes;
  }

 private:
  CallTensors() = default;

  void addInputs(nb::list inputs) {
    for (nb::handle item : inputs) {
      nb::tuple entry = nb::cast<nb::tuple>(item);
      mInputs.push_back(tensor(entry));
      mInputs.back().shape = toShape(entry[4]);
    }
  }

  inferlet_tensor named(nb::handle name) {
    mNames.push_back(nb::cast<std::string>(name));
    inferlet_tensor tensor{};
    tensor.name = mNames.back().c_str();
    return tensor;
  }

  inferlet_tensor tensor(nb::tuple entry) {
    inferlet_tensor tensor = named(entry[0]);
    tensor.memory = static_cast<inferlet_memory>(nb::cast<int>(entry[1]));
    tensor.data = reinterpret_cast<void*>(nb::cast<uintptr_t>(entry[2]));
    tensor.bytes = nb::cast<size_t>(entry[3]);
    return tensor;
  }

  std::vector<std::string> mNames;
  std::vector<inferlet_tensor> mInputs, mOutputs;
};

inferlet_session* create(Engine& engine, int32_t profile, bool cuda_graphs, int32_t graph_cache_size,
                         uintptr_t stream) {
  const inferlet_api& api = engine.library().api();
  SharedHandle<inferlet_engine>::Use loaded(engine.handle());
  inferlet_session_config config;
  inferlet_session_config_init(&config);
  config.profile = profile;
  config.cuda_graphs = cuda_graphs ? 1 : 0;
  config.graph_cache_size = graph_cache_size;
  config.stream = reinterpret_cast<void*>(stream);
  inferlet_session* session = nullptr;
  inferlet_status* status = nullptr;
  {
    nb::gil_scoped_release released;
    status = api.session_create_with_config(loaded.get(), &config, &session);
  }
  check(api, status);
  return session;
}

}  // namespace

Session::Session(Engine& engine, int32_t profile, bool cuda_graphs, int32_t graph_cache_size,
                 uintptr_t stream)
    : mLibrary(engine.library()),
      mHandle(create(engine, profile, cuda_graphs, graph_cache_size, stream), "session") {}

Session::~Session() {
  if (inferlet_session* session = mHandle.take_at_end()) {
    nb::gil_scoped_release released;
    mLibrary.api().session_release(session);
  }
}

void Session::close() {
  if (inferlet_session* session = mHandle.take()) {
    nb::gil_scoped_release released;
    mLibrary.api().session_release(session);
  }
}

nb::list Session::enqueue(nb::list inputs, nb::list outputs) {
  SharedHandle<inferlet_session>::Use session(mHandle);
  CallTensors call(inputs, outputs);
  inferlet_status* status = nullptr;
  {
    nb::gil_scoped_release released;
    status = mLibrary.api().session_enqueue(session.get(), call.inputs(), call.input_count(), call.outputs(),
                                            call.output_count());
  }
  check(mLibrary.api(), status);
  return call.output_shapes();
}

void Session::wait() {
  SharedHandle<inferlet_session>::Use session(mHandle);
  inferlet_status* status = nullptr;
  {
    nb::gil_scoped_release released;
    status = mLibrary.api().session_wait(session.get());
  }
  check(mLibrary.api(), status);
}

nb::list Session::run(nb::list inputs, nb::list outputs) {
  SharedHandle<inferlet_session>::Use session(mHandle);
  CallTensors call(inputs, outputs);
  inferlet_status* status = nullptr;
  {
    nb::gil_scoped_release released;
    status = mLibrary.api().session_run(session.get(), call.inputs(), call.input_count(), call.outputs(),
                                        call.output_count());
  }
  check(mLibrary.api(), status);
  return call.output_shapes();
}

nb::list Session::resolve(nb::list inputs, nb::list outputs) {
  SharedHandle<inferlet_session>::Use session(mHandle);
  CallTensors call = CallTensors::resolving(inputs, outputs);
  std::vector<inferlet_output_bound> bounds(call.output_count());
  for (inferlet_output_bound& bound : bounds) inferlet_output_bound_init(&bound);
  inferlet_status* status = nullptr;
  {
    nb::gil_scoped_release released;
    status = mLibrary.api().session_resolve_output_bounds(session.get(), call.inputs(), call.input_count(),
                                                          call.outputs(), call.output_count(), bounds.data());
  }
  check(mLibrary.api(), status);
  nb::list shapes = call.output_shapes();
  nb::list resolved;
  for (size_t j = 0; j < bounds.size(); ++j) {
    resolved.append(nb::make_tuple(shapes[j], bounds[j].data_dependent != 0, bounds[j].max_bytes));
  }
  return resolved;
}

size_t Session::device_memory() {
  SharedHandle<inferlet_session>::Use session(mHandle);
  size_t bytes = 0;
  check(mLibrary.api(), mLibrary.api().session_device_memory(session.get(), &bytes));
  return bytes;
}

uintptr_t Session::stream() {
  SharedHandle<inferlet_session>::Use session(mHandle);
  void* stream = nullptr;
  check(mLibrary.api(), mLibrary.api().session_stream(session.get(), &stream));
  return reinterpret_cast<uintptr_t>(stream);
}

void Session::wait_stream(uintptr_t stream) {
  SharedHandle<inferlet_session>::Use session(mHandle);
  check(mLibrary.api(), mLibrary.api().session_wait_stream(session.get(), reinterpret_cast<void*>(stream)));
}

void Session::order_stream(uintptr_t stream) {
  SharedHandle<inferlet_session>::Use session(mHandle);
  check(mLibrary.api(), mLibrary.api().session_order_stream(session.get(), reinterpret_cast<void*>(stream)));
}

}  // namespace inferlet_python
