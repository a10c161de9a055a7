#include "engine_reader.h"

#include <mutex>
#include <utility>

namespace inferlet_loader {
namespace {

// TensorRT's error lines, collected by the log callback while one library loads the bytes.
struct ErrorLines {
  std::mutex mutex;
  std::string text;
};

void CollectError(void* user, inferlet_log_level, const char* message) {
  auto* lines = static_cast<ErrorLines*>(user);
  std::lock_guard<std::mutex> lock(lines->mutex);
  if (!lines->text.empty()) lines->text += "; ";
  lines->text += message ? message : "";
}

// The library's answer, or LoadError with its status.
void Check(const SessionsLibrary& library, inferlet_status* status, const char* what) {
  if (!status) return;
  throw LoadError(library.path() + " refused " + what + ": " + library.Take(status));
}

Dims ToDims(const inferlet_shape& shape) {
  Dims dims;
  for (int k = 0; k < shape.rank && k < INFERLET_MAX_DIMS; ++k) dims.push_back(shape.dims[k]);
  return dims;
}

TensorDescription DescribeTensor(const SessionsLibrary& library, const inferlet_engine* engine, int32_t index,
                                 int32_t profiles) {
  const inferlet_api& api = library.api();
  inferlet_tensor_info info{};
  Check(library, api.engine_tensor_info(engine, index, &info), "a tensor's description");
  TensorDescription tensor;
  tensor.name = info.name ? info.name : "";
  tensor.is_input = info.is_input != 0;
  tensor.dtype = info.dtype;
  inferlet_data_type_info_init(&tensor.type);
  Check(library, api.describe_data_type(info.dtype, &tensor.type), "a tensor's data type");
  tensor.on_host = info.on_host != 0;
  tensor.item_size = info.item_size;
  tensor.dims = ToDims(info.shape);
  for (int32_t p = 0; p < profiles; ++p) {
    int32_t format = 0;
    Check(library, api.engine_tensor_format(engine, index, p, &format), "a tensor's format");
    tensor.formats.push_back(format);
  }
  return tensor;
}

ProfileDescription DescribeProfile(const SessionsLibrary& library, const inferlet_engine* engine,
                                   int32_t profile, int32_t tensors) {
  ProfileDescription description;
  const std::pair<inferlet_profile_point, std::vector<Dims>*> points[] = {
      {INFERLET_PROFILE_MIN, &description.min},
      {INFERLET_PROFILE_OPT, &description.opt},
      {INFERLET_PROFILE_MAX, &description.max}};
  for (const auto& [point, dims] : points) {
    for (int32_t t = 0; t < tensors; ++t) {
      inferlet_shape shape{};
      Check(library, library.api().engine_profile_resolved_shape(engine, profile, t, point, &shape),
            "a profile's shapes");
      dims->push_back(ToDims(shape));
    }
  }
  return description;
}

// Each shape tensor's values at the profile's points, asked first with no room to learn how many.
void DescribeValues(const SessionsLibrary& library, const inferlet_engine* engine, int32_t profile,
                    const std::vector<TensorDescription>& tensors, ProfileDescription& description) {
  const std::pair<inferlet_profile_point, std::vector<std::vector<int64_t>>*> points[] = {
      {INFERLET_PROFILE_MIN, &description.min_values},
      {INFERLET_PROFILE_OPT, &description.opt_values},
      {INFERLET_PROFILE_MAX, &description.max_values}};
  for (const auto& [point, values] : points) {
    values->resize(tensors.size());
    for (size_t t = 0; t < tensors.size(); ++t) {
      if (!tensors[t].is_input || !tensors[t].on_host || library.major() < 10) continue;
      const auto index = static_cast<int32_t>(t);
      size_t count = 0;
      inferlet_status* sizing =
          library.api().engine_profile_tensor_values(engine, profile, index, point, nullptr, 0, &count);
      if (count == 0) Check(library, sizing, "a shape tensor's values");
      library.api().status_release(sizing);
      (*values)[t].resize(count);
      Check(library,
            library.api().engine_profile_tensor_values(engine, profile, index, point, (*values)[t].data(),
                                                       count, &count),
            "a shape tensor's values");
    }
  }
}

bool AnyOpen(const Dims& dims) {
  for (int64_t d : dims)
    if (d < 0) return true;
  return false;
}

// From TensorRT 10 on a context resolves every extent the inputs' shapes (and shape tensors' values)
// decide, so an output left open at a profile's point is data-dependent. Before 10 there are none: an
// open extent there is the engine's own shape, answered where TensorRT refused the profile's shapes.
void MarkDataDependent(EngineDescription& description) {
  if (description.trt_major < 10) return;
  for (size_t t = 0; t < description.tensors.size(); ++t) {
    TensorDescription& tensor = description.tensors[t];
    if (tensor.is_input) continue;
    for (const ProfileDescription& profile : description.profiles)
      for (const std::vector<Dims>* point : {&profile.min, &profile.opt, &profile.max})
        tensor.data_dependent = tensor.data_dependent || AnyOpen((*point)[t]);
  }
}

// Loads the bytes with one library: the engine, or why not.
LoadedEngine Load(const SessionsLibrary& library, const void* bytes, size_t size, const ReadOptions& options,
                  Refusal* refusal) {
  const inferlet_api& api = library.api();
  ErrorLines lines;
  if (options.capture_tensorrt_errors) api.set_log(CollectError, &lines, INFERLET_LOG_ERROR);
  inferlet_engine* engine = nullptr;
  inferlet_engine_config config;
  inferlet_engine_config_init(&config);
  config.device = options.device;
  config.allow_host_code = options.allow_host_code ? 1 : 0;
  inferlet_status* status = api.engine_load_with_config(bytes, size, &config, &engine);
  if (options.capture_tensorrt_errors) api.set_log(nullptr, nullptr, INFERLET_LOG_ERROR);
  if (!status) return LoadedEngine(&library, engine);
  refusal->major = library.major();
  refusal->code = api.status_code(status);
  refusal->message = api.status_message(status);
  refusal->tensorrt = lines.text;
  api.status_release(status);
  return LoadedEngine();
}

}  // namespace

LoadedEngine& LoadedEngine::operator=(LoadedEngine&& other) noexcept {
  if (this != &other) {
    Reset();
    library_ = std::exchange(other.library_, nullptr);
    engine_ = std::exchange(other.engine_, nullptr);
  }
  return *this;
}

inferlet_engine* LoadedEngine::Release() { return std::exchange(engine_, nullptr); }

void LoadedEngine::Reset() {
  if (engine_) library_->api().engine_release(engine_);
  engine_ = nullptr;
}

std::string Refusal::Reason() const {
  if (code == INFERLET_ENGINE_REFUSED && !tensorrt.empty())
    return "not an engine this TensorRT can deserialize (TensorRT: " + tensorrt + ")";
  return message;
}

NoneReads::NoneReads(std::vector<Refusal> refusals, std::vector<std::string> load_errors)
    : std::runtime_error(refusals.empty() ? (load_errors.empty() ? std::string("no library to read it")
                                                                 : load_errors.front())
                                          : NoneReadsLine(refusals, refusals.size() > 1)),
      refusals_(std::move(refusals)),
      load_errors_(std::move(load_errors)) {}

std::string NoneReadsLine(const std::vector<Refusal>& refusals, bool several) {
  if (refusals.empty()) return "";
  const std::string first = refusals.front().Reason();
  if (!several) return first;
  std::string majors, each;
  bool agree = true;
  for (const Refusal& refusal : refusals) {
    majors += (majors.empty() ? "" : ", ") + std::to_string(refusal.major);
    each += "; TensorRT " + std::to_string(refusal.major) + ": " + refusal.Reason();
    agree = agree && refusal.Reason() == first;
  }
  return "no TensorRT major of this build (" + majors + ") reads it" + (agree ? ": " + first : each);
}

bool HostCodeMayBeWhy(const std::vector<Refusal>& refusals, const ReadOptions& options) {
  if (options.allow_host_code) return false;
  for (const Refusal& refusal : refusals) {
    if (refusal.major >= 10 && refusal.code == INFERLET_ENGINE_REFUSED) return true;
  }
  return false;
}

EngineDescription DescribeEngine(const SessionsLibrary& library, const inferlet_engine* engine) {
  const inferlet_api& api = library.api();
  EngineDescription description;
  description.trt_major = library.major();
  inferlet_engine_properties properties;
  inferlet_engine_properties_init(&properties);
  Check(library, api.engine_get_properties(engine, &properties), "the engine's properties");
  description.name = properties.name ? properties.name : "";
  description.max_batch_size = properties.max_batch_size;
  description.refittable = properties.refittable != 0;
  description.binding_count = properties.binding_count;
  description.dynamic_shapes = properties.dynamic_shapes != 0;
  int32_t tensors = 0, profiles = 0;
  Check(library, api.engine_tensor_count(engine, &tensors), "the tensor count");
  Check(library, api.engine_profile_count(engine, &profiles), "the profile count");
  for (int32_t t = 0; t < tensors; ++t)
    description.tensors.push_back(DescribeTensor(library, engine, t, profiles));
  for (int32_t p = 0; p < profiles; ++p) {
    description.profiles.push_back(DescribeProfile(library, engine, p, tensors));
    DescribeValues(library, engine, p, description.tensors, description.profiles.back());
  }
  MarkDataDependent(description);
  Check(library, api.engine_device_memory(engine, &description.engine_bytes, &description.context_bytes),
        "the engine's device memory");
  return description;
}

std::optional<Refusal> LoadPlugins(const SessionsLibrary& library, const std::vector<std::string>& plugins) {
  const inferlet_api& api = library.api();
  for (const std::string& plugin : plugins) {
    inferlet_status* status = api.plugin_library_load(plugin.c_str());
    if (!status) continue;
    Refusal refusal;
    refusal.major = library.major();
    refusal.code = api.status_code(status);
    refusal.message = api.status_message(status);
    refusal.plugin = true;
    api.status_release(status);
    return refusal;
  }
  return std::nullopt;
}

EngineReading ReadEngine(const void* bytes, size_t size, const std::vector<Candidate>& candidates,
                         const ReadOptions& options) {
  std::vector<Refusal> refusals;
  std::vector<std::string> load_errors;
  // The candidate's library, or null with why not in load_errors.
  auto open = [&load_errors](const Candidate& candidate) -> const SessionsLibrary* {
    const SessionsLibrary* library = nullptr;
    try {
      library = &SessionsLibrary::Open(candidate.path);
    } catch (const LoadError& e) {
      load_errors.push_back(e.what());
      return nullptr;
    }
    if (candidate.major != 0 && library->major() != candidate.major) {
      load_errors.push_back(candidate.path + " is built for TensorRT " + std::to_string(library->major()) +
                            ", not " + std::to_string(candidate.major));
      return nullptr;
    }
    return library;
  };
  // With plugins, every library is open before the first loads one (LoadPlugins says why).
  std::vector<const SessionsLibrary*> opened;
  if (!options.plugins.empty()) {
    for (const Candidate& candidate : candidates) opened.push_back(open(candidate));
  }
  for (size_t i = 0; i < candidates.size(); ++i) {
    const SessionsLibrary* library = options.plugins.empty() ? open(candidates[i]) : opened[i];
    if (!library) continue;
    if (options.on_open) options.on_open(*library);
    if (std::optional<Refusal> refused = LoadPlugins(*library, options.plugins)) {
      refusals.push_back(std::move(*refused));
      continue;
    }
    Refusal refusal;
    LoadedEngine engine = Load(*library, bytes, size, options, &refusal);
    if (!engine.get()) {
      refusals.push_back(std::move(refusal));
      continue;
    }
    EngineReading reading;
    reading.library = library;
    if (options.describe) reading.description = DescribeEngine(*library, engine.get());
    reading.engine = std::move(engine);
    return reading;
  }
  throw NoneReads(std::move(refusals), std::move(load_errors));
}

}  // namespace inferlet_loader
