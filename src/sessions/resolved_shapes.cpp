#include "resolved_shapes.h"

#include <cuda_runtime_api.h>

#include "call.h"  // AlignedHostMemory, writeShapeValues
#include "device_guard.h"
#include "engine.h"
#include "shape.h"
#include "sticky_faults.h"
#include "tensorrt_reason.h"

namespace sessions {
namespace {

// The profile held for as long as its shapes are worked out, so that no session runs a context on it
// meanwhile (TensorRT wants one context per profile at a time where shapes are dynamic).
class ProfileClaim {
 public:
  ProfileClaim(ProfileRegistry& registry, int profile) : mRegistry(registry), mProfile(profile) {}
  Status claim() {
    Status status = mRegistry.claim(mProfile);
    mHeld = status.ok();
    return status;
  }
  ~ProfileClaim() {
    if (mHeld) mRegistry.release(mProfile);
  }
  ProfileClaim(const ProfileClaim&) = delete;
  ProfileClaim& operator=(const ProfileClaim&) = delete;

 private:
  ProfileRegistry& mRegistry;
  const int mProfile;
  bool mHeld = false;
};

const trt_binding::Extents& inputAt(const ProfileRange& range, int point) {
  return point == 0 ? range.min : point == 1 ? range.opt : range.max;
}

// One point of the profile: the inputs at their shapes there (shape tensors at their values there), the
// outputs as the context resolves them (the engine's own shapes where TensorRT refused the inputs or
// cannot tell an output's rank).
std::vector<trt_binding::Extents> resolvePoint(const Engine& engine, nvinfer1::IExecutionContext* context,
                                               int profile, int point) {
  const int count = engine.tensor_count();
  std::vector<trt_binding::TensorShape> block(static_cast<size_t>(count));
  for (int t = 0; t < count; ++t) {
    trt_binding::TensorShape& tensor = block[static_cast<size_t>(t)];
    const TensorDescription& description = engine.tensor(t);
    tensor.binding = engine.binding(profile, t);
    tensor.is_input = description.is_input;
    if (tensor.is_input) tensor.dims = inputAt(description.ranges[static_cast<size_t>(profile)], point);
  }
  // Shape tensors hold their values at the point, in memory that lives through the resolution.
  std::vector<AlignedHostMemory> values(static_cast<size_t>(count));
  for (int t = 0; t < count && context; ++t) {
    const TensorDescription& description = engine.tensor(t);
    if (!description.shape_tensor) continue;
    const ValueRange& range = description.value_ranges[static_cast<size_t>(profile)];
    const int64_t bytes = tensorBytes(block[static_cast<size_t>(t)].dims, description.element_bits);
    if (bytes < 0 || bytes >= (1 << 20)) continue;
    AlignedHostMemory& copy = values[static_cast<size_t>(t)];
    copy.assign(static_cast<size_t>(bytes));
    writeShapeValues(point == 0   ? range.min
                     : point == 1 ? range.opt
                                  : range.max,
                     description.item_size, &copy);
    (void)trt_binding::bindAddress(*context, block[static_cast<size_t>(t)].binding, copy.data());
  }
  bool read = false;
  if (context) {
    const trt_binding::ShapeResolution found =
        trt_binding::resolveShapes(*context, block.data(), count, trt_binding::ReadBack::kOutputs);
    read = found.outcome == trt_binding::ShapeResolution::kResolved ||
           found.outcome == trt_binding::ShapeResolution::kUnresolved;
  }
  std::vector<trt_binding::Extents> shapes;
  for (int t = 0; t < count; ++t) {
    const trt_binding::TensorShape& tensor = block[static_cast<size_t>(t)];
    const bool rank_known = tensor.dims.nbDims >= 0 && tensor.dims.nbDims <= 8;
    shapes.push_back(tensor.is_input || (read && rank_known) ? tensor.dims : engine.tensor(t).dims);
  }
  return shapes;
}

}  // namespace

Status ResolvedShapes::at(Engine& engine, int profile, int tensor, int point, trt_binding::Extents* shape) {
  std::lock_guard<std::mutex> lock(mMutex);
  Profile& known = mProfiles[static_cast<size_t>(profile)];
  if (!known.known) {
    Status status = resolve(engine, profile, &known.points);
    if (!status.ok()) return status;
    known.known = true;
  }
  *shape = known.points[static_cast<size_t>(point)][static_cast<size_t>(tensor)];
  return Status();
}

// The switch to the profile is work on the default stream from TensorRT 10 on; it is waited for before
// the context goes.
Status ResolvedShapes::resolve(Engine& engine, int profile, Points* points) {
  const int device = engine.device();
  Status status = checkDevice(device);
  if (!status.ok()) return status;
  DeviceGuard guard;
  status = guard.enter(device);
  if (!status.ok()) return status;
  ProfileClaim claim(engine.profiles(), profile);
  status = claim.claim();
  if (!status.ok()) return status;
  TrtUniquePtr<nvinfer1::IExecutionContext> context = engine.create_context();
  if (!context) {
    return tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT made no execution context to resolve profile " +
                                                        std::to_string(profile) + "'s shapes");
  }
  const bool selected = trt_binding::selectProfile(*context, profile, cudaStream_t{});
  for (int point = 0; point < 3; ++point) {
    (*points)[static_cast<size_t>(point)] =
        resolvePoint(engine, selected ? context.get() : nullptr, profile, point);
  }
  const cudaError_t code = cudaStreamSynchronize(cudaStream_t{});
  engine.release_context(context);
  if (code != cudaSuccess) return cudaFailure(device, "cudaStreamSynchronize", code);
  return Status();
}

}  // namespace sessions
